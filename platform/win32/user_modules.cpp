// The entry points that the engine looks up by name in "User32.dll" and "dwmapi.dll".
#include <array>
#include <atomic>

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
  static const std::array<PlatformModuleEntry, 1> entries = {{
      {"WINNLSEnableIME", AsFarProc(WINNLSEnableIME)},
  }};
  return entries;
}

std::span<const PlatformModuleEntry> DwmapiModuleEntries() {
  static const std::array<PlatformModuleEntry, 1> entries = {{
      {"DwmEnableComposition", AsFarProc(DwmEnableComposition)},
  }};
  return entries;
}
