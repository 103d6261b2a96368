// System information: the Windows version the layer reports (NT 6.2, build 9200, what current
// Windows tells a program without a manifest), processors, physical memory, processor
// identification and time-stamp counter, and the local time. Tests can replace the version, the
// processor count, the processor identification and the time-stamp counter.
#pragma once

#include <span>

#include "platform/win32/kernel.h"
#include "platform/win32/win32_types.h"

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
BOOL GetVersionExA(OSVERSIONINFOA* info);

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
void GetSystemInfo(SYSTEM_INFO* info);

// dwLength must be sizeof(MEMORYSTATUSEX), 64 bytes.
struct MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  ULONGLONG ullTotalPhys;
  ULONGLONG ullAvailPhys;
  ULONGLONG ullTotalPageFile;
  ULONGLONG ullAvailPageFile;
  ULONGLONG ullTotalVirtual;
  ULONGLONG ullAvailVirtual;
  ULONGLONG ullAvailExtendedVirtual;
};
BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status);
// The 32-bit form, as a 32-bit program sees it: each figure is capped at 0xFFFFFFFF.
struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  DWORD dwTotalVirtual;
  DWORD dwAvailVirtual;
};
void GlobalMemoryStatus(MEMORYSTATUS* status);

// The CPUID instruction: registers EAX, EBX, ECX, EDX of a leaf; FALSE when the processor has no
// CPUID or the leaf is beyond its highest one.
BOOL QueryProcessorId(UINT leaf, UINT registers[4]);
// The processor's time-stamp counter.
ULONGLONG ReadTimeStampCounter();

// Test controls: null or 0 puts back the machine's own answer.
void SetPlatformVersionInfo(const OSVERSIONINFOA* info);
void SetPlatformProcessorCount(DWORD count);
using ProcessorIdFunction = BOOL (*)(UINT leaf, UINT registers[4]);
void SetPlatformProcessorId(ProcessorIdFunction function);
using TimeStampFunction = ULONGLONG (*)();
void SetPlatformTimeStampCounter(TimeStampFunction function);

// The entry points of "Kernel32.dll" that the engine looks up by name.
std::span<const PlatformModuleEntry> Kernel32ModuleEntries();
