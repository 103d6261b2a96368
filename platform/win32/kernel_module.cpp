// Module loading by name over the layer's own table of modules and entry points.
#include <cctype>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/kernel.h"

void RegisterBuiltInPlatformModules();

namespace {

struct ModuleRecord {
  std::string name;  // lower case, without directory and ".dll"
  std::vector<std::pair<std::string, FARPROC>> entries;
  int references = 0;
};

struct ModuleTable {
  std::mutex lock;
  std::vector<std::unique_ptr<ModuleRecord>> modules;
};

ModuleTable& Modules() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* table = new ModuleTable;
  return *table;
}

int programInstance;

// "C:\\x\\D3D9.DLL" and "d3d9" both become "d3d9".
std::string ModuleKey(const char* fileName) {
  std::string name(fileName);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0)
    name.resize(name.size() - 4);
  return name;
}

ModuleRecord* FindModule(const std::string& key) {
  for (auto& module : Modules().modules)
    if (module->name == key) return module.get();
  return nullptr;
}

ModuleRecord* FindLoadedModule(HMODULE handle) {
  for (auto& module : Modules().modules)
    if (reinterpret_cast<HMODULE>(module.get()) == handle && module->references > 0)
      return module.get();
  return nullptr;
}

void EnsureBuiltInModules() {
  static std::once_flag once;
  std::call_once(once, RegisterBuiltInPlatformModules);
}

}  // namespace

int RegisterPlatformModule(const char* name, std::span<const PlatformModuleEntry> entries) {
  if (name == nullptr || name[0] == '\0') return -1;
  for (const PlatformModuleEntry& entry : entries)
    if (entry.name == nullptr) return -1;
  const std::string key = ModuleKey(name);
  std::lock_guard<std::mutex> guard(Modules().lock);
  ModuleRecord* module = FindModule(key);
  if (module == nullptr) {
    Modules().modules.push_back(std::make_unique<ModuleRecord>());
    module = Modules().modules.back().get();
    module->name = key;
  }
  module->entries.clear();
  for (const PlatformModuleEntry& entry : entries)
    module->entries.emplace_back(entry.name, entry.address);
  return 0;
}

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || fileName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  EnsureBuiltInModules();
  std::lock_guard<std::mutex> guard(Modules().lock);
  ModuleRecord* module = FindModule(ModuleKey(fileName));
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++module->references;
  return reinterpret_cast<HMODULE>(module);
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR procName) {
  std::lock_guard<std::mutex> guard(Modules().lock);
  ModuleRecord* module = FindLoadedModule(handle);
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (procName != nullptr) {
    for (const auto& [name, address] : module->entries)
      if (name == procName) return address;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE handle) {
  std::lock_guard<std::mutex> guard(Modules().lock);
  ModuleRecord* module = FindLoadedModule(handle);
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --module->references;
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return reinterpret_cast<HMODULE>(&programInstance);
  EnsureBuiltInModules();
  std::lock_guard<std::mutex> guard(Modules().lock);
  ModuleRecord* module = FindModule(ModuleKey(moduleName));
  if (module == nullptr || module->references == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(module);
}
