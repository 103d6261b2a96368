// The entry points that the engine looks up by name in "User32.dll" ("user32") and "dwmapi.dll".
#include <array>
#include <atomic>

#include "platform/win32/layered_window.h"
#include "platform/win32/user_internal.h"

namespace {

std::atomic<bool> imeEnabled{true};

}  // namespace

bool user_detail::IsImeEnabled() { return imeEnabled.load(); }

BOOL WINNLSEnableIME(HWND, BOOL enable) {
  return imeEnabled.exchange(enable != FALSE) ? TRUE : FALSE;
}

HRESULT DwmEnableComposition(UINT) { return S_OK; }

std::span<const PlatformModuleEntry> User32ModuleEntries() {
  static const std::array<PlatformModuleEntry, 2> entries = {{
      {"WINNLSEnableIME", AsFarProc(WINNLSEnableIME)},
      {"UpdateLayeredWindow", AsFarProc(UpdateLayeredWindow)},
  }};
  return entries;
}

std::span<const PlatformModuleEntry> DwmapiModuleEntries() {
  static const std::array<PlatformModuleEntry, 1> entries = {{
      {"DwmEnableComposition", AsFarProc(DwmEnableComposition)},
  }};
  return entries;
}
