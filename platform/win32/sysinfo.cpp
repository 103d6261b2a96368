// System information over Linux: the fixed Windows version, processors from sysconf, physical
// memory from sysinfo(2), and CPUID and the time-stamp counter through the compiler's
// intrinsics.
#include "platform/win32/sysinfo.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace {

std::mutex overrideMutex;
bool versionOverridden = false;
OSVERSIONINFOA versionOverride{};
std::atomic<DWORD> processorCountOverride{0};
std::atomic<ProcessorIdFunction> processorIdOverride{nullptr};
std::atomic<TimeStampFunction> timeStampOverride{nullptr};

BOOL MachineProcessorId(UINT leaf, UINT registers[4]) {
#if defined(__x86_64__) || defined(__i386__)
  unsigned highest = __get_cpuid_max(leaf & 0x80000000u, nullptr);
  if (highest == 0 || leaf > highest) return FALSE;
  unsigned a, b, c, d;
  __cpuid(leaf, a, b, c, d);
  registers[0] = a;
  registers[1] = b;
  registers[2] = c;
  registers[3] = d;
  return TRUE;
#else
  (void)leaf;
  (void)registers;
  return FALSE;
#endif
}

ULONGLONG MachineTimeStampCounter() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  return 0;
#endif
}

}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
  std::lock_guard lock(overrideMutex);
  if (versionOverridden) {
    *info = versionOverride;
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return TRUE;
  }
  *info = OSVERSIONINFOA{sizeof(OSVERSIONINFOA), 6, 2, 9200, VER_PLATFORM_WIN32_NT, {}};
  return TRUE;
}

void GetSystemInfo(SYSTEM_INFO* info) {
  if (!info) return;
  *info = SYSTEM_INFO{};
  info->wProcessorArchitecture = 9;  // x64
  long page = sysconf(_SC_PAGESIZE);
  info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFull);
  DWORD count = processorCountOverride.load();
  if (!count) {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    count = online > 0 ? static_cast<DWORD>(online) : 1;
  }
  info->dwNumberOfProcessors = count;
  info->dwActiveProcessorMask = count >= 64 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << count) - 1;
  info->dwProcessorType = 8664;
  info->dwAllocationGranularity = 65536;
  info->wProcessorLevel = 6;
}

BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
  if (!status || status->dwLength != sizeof(MEMORYSTATUSEX)) return FALSE;
  struct sysinfo figures {};
  if (sysinfo(&figures) != 0) return FALSE;
  ULONGLONG unit = figures.mem_unit ? figures.mem_unit : 1;
  ULONGLONG total = figures.totalram * unit;
  ULONGLONG available = (figures.freeram + figures.bufferram) * unit;
  available = std::min(available, total);
  *status = MEMORYSTATUSEX{};
  status->dwLength = sizeof(MEMORYSTATUSEX);
  status->dwMemoryLoad = total ? static_cast<DWORD>(100 - available * 100 / total) : 0;
  status->ullTotalPhys = total;
  status->ullAvailPhys = available;
  status->ullTotalPageFile = total + figures.totalswap * unit;
  status->ullAvailPageFile = available + figures.freeswap * unit;
  status->ullTotalVirtual = 0x7FFFFFFE0000ull;
  status->ullAvailVirtual = 0x7FFFFFFE0000ull;
  return TRUE;
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
  if (!status) return;
  MEMORYSTATUSEX ex{};
  ex.dwLength = sizeof ex;
  *status = MEMORYSTATUS{};
  status->dwLength = sizeof(MEMORYSTATUS);
  if (!GlobalMemoryStatusEx(&ex)) return;
  auto cap = [](ULONGLONG value) {
    return static_cast<DWORD>(std::min<ULONGLONG>(value, 0xFFFFFFFFull));
  };
  status->dwMemoryLoad = ex.dwMemoryLoad;
  status->dwTotalPhys = cap(ex.ullTotalPhys);
  status->dwAvailPhys = cap(ex.ullAvailPhys);
  status->dwTotalPageFile = cap(ex.ullTotalPageFile);
  status->dwAvailPageFile = cap(ex.ullAvailPageFile);
  status->dwTotalVirtual = 0x7FFE0000;
  status->dwAvailVirtual = 0x7FFE0000;
}

BOOL QueryProcessorId(UINT leaf, UINT registers[4]) {
  if (!registers) return FALSE;
  ProcessorIdFunction function = processorIdOverride.load();
  return function ? function(leaf, registers) : MachineProcessorId(leaf, registers);
}

ULONGLONG ReadTimeStampCounter() {
  TimeStampFunction function = timeStampOverride.load();
  return function ? function() : MachineTimeStampCounter();
}

void SetPlatformVersionInfo(const OSVERSIONINFOA* info) {
  std::lock_guard lock(overrideMutex);
  versionOverridden = info != nullptr;
  if (info) versionOverride = *info;
}

void SetPlatformProcessorCount(DWORD count) { processorCountOverride = count; }

void SetPlatformProcessorId(ProcessorIdFunction function) { processorIdOverride = function; }

void SetPlatformTimeStampCounter(TimeStampFunction function) { timeStampOverride = function; }

std::span<const PlatformModuleEntry> Kernel32ModuleEntries() {
  static const std::array<PlatformModuleEntry, 1> entries = {{
      {"GlobalMemoryStatusEx", AsFarProc(GlobalMemoryStatusEx)},
  }};
  return entries;
}
