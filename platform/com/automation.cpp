// The type-library calls of the automation runtime. The engine falls back from the registered
// library to a library file and reports the last failure, so both fail the way a system
// without the library fails.
#include "platform/com/automation.h"

#include <array>

HRESULT LoadRegTypeLib(REFGUID, WORD, WORD, LCID, ITypeLib** library) {
  if (library == nullptr) return E_INVALIDARG;
  *library = nullptr;
  return TYPE_E_LIBNOTREGISTERED;
}

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** library) {
  if (file == nullptr || library == nullptr) return E_INVALIDARG;
  *library = nullptr;
  return TYPE_E_CANTLOADLIBRARY;
}

std::span<const PlatformModuleEntry> OleAut32ModuleEntries() {
  static const std::array<PlatformModuleEntry, 2> entries = {{
      {"LoadRegTypeLib", AsFarProc(LoadRegTypeLib)},
      {"LoadTypeLib", AsFarProc(LoadTypeLib)},
  }};
  return entries;
}
