// The COM runtime of the layer: per-thread initialisation counts, object creation from the table
// of the layer's own classes, and task memory.
#include <array>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/com/com.h"

std::span<const PlatformComClass> BuiltInPlatformComClasses();

namespace {

std::mutex classLock;

std::vector<PlatformComClass>& Classes() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* classes = [] {
    const auto builtIn = BuiltInPlatformComClasses();
    return new std::vector<PlatformComClass>(builtIn.begin(), builtIn.end());
  }();
  return *classes;
}

thread_local int initializeCount = 0;

}  // namespace

HRESULT CoInitialize(LPVOID) { return initializeCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (initializeCount > 0) --initializeCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  PlatformClassFactory create = nullptr;
  {
    std::lock_guard guard(classLock);
    for (const PlatformComClass& entry : Classes())
      if (entry.clsid == clsid) create = entry.create;
  }
  if (create == nullptr) return REGDB_E_CLASSNOTREG;
  return create(outer, riid, object);
}

LPVOID CoTaskMemAlloc(SIZE_T bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(LPVOID memory) { std::free(memory); }

int RegisterPlatformComClass(REFCLSID clsid, PlatformClassFactory create) {
  std::lock_guard guard(classLock);
  auto& classes = Classes();
  for (auto it = classes.begin(); it != classes.end(); ++it) {
    if (!(it->clsid == clsid)) continue;
    if (create == nullptr) {
      classes.erase(it);
    } else {
      it->create = create;
    }
    return 0;
  }
  if (create == nullptr) return -1;
  classes.push_back({clsid, create});
  return 0;
}

std::span<const PlatformModuleEntry> Ole32ModuleEntries() {
  static const std::array<PlatformModuleEntry, 5> entries = {{
      {"CoInitialize", AsFarProc(CoInitialize)},
      {"CoUninitialize", AsFarProc(CoUninitialize)},
      {"CoCreateInstance", AsFarProc(CoCreateInstance)},
      {"CoTaskMemAlloc", AsFarProc(CoTaskMemAlloc)},
      {"CoTaskMemFree", AsFarProc(CoTaskMemFree)},
  }};
  return entries;
}
