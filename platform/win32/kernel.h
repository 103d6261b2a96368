// The kernel's threads, synchronisation objects, waits, heap, clocks, debugger output, code pages
// and module loading by name. Waits, Sleep and the counters read the platform clock
// (platform/clock.h), so in virtual time they advance it instead of blocking.
#pragma once

#include <span>

#include "platform/win32/file.h"
#include "platform/win32/win32_types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD STILL_ACTIVE = 259;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

// Threads. A thread handle is signalled once the thread has ended; its exit code is STILL_ACTIVE
// until then. The security attributes and the stack size are ignored.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);
// The previous suspend count, or 0xFFFFFFFF for a bad handle.
DWORD ResumeThread(HANDLE thread);
// Priorities are recorded only: the layer's threads all run at the system's normal priority.
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
[[noreturn]] void ExitThread(DWORD exitCode);
// The system's thread id: never 0 and never 0xFFFFFFFF, which the engine uses as "none".
DWORD GetCurrentThreadId();

// Critical sections are recursive for their owner, as on the platform.
struct CRITICAL_SECTION {
  void* lock;  // the layer's recursive mutex, made by InitializeCriticalSection
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Events (names are ignored: every event is private to the process), semaphores and waits.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES security, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
// Fails (ERROR_TOO_MANY_POSTS) without changing the count when it would pass the maximum.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount);
// Waits on events, semaphores and threads. A satisfied wait takes an auto-reset event's signal or
// one count of a semaphore. In virtual time a wait that is not satisfied at once and has a finite
// time-out advances the clock by the time-out and times out without blocking.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);
// Blocks for the time in real time; in virtual time advances the clock and returns at once.
// Sleep(0) gives up the rest of the time slice in both.
void Sleep(DWORD milliseconds);

inline LONG InterlockedIncrement(LONG volatile* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
  return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

// The performance counter runs at 10 MHz, as on current systems.
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
// Milliseconds of the platform clock, wrapping at 2^32.
DWORD GetTickCount();
// The local date and time; in virtual time the one a test gave (platform/clock.h).
void GetLocalTime(SYSTEMTIME* time);

// The process heap. HeapReAlloc with HEAP_ZERO_MEMORY zeroes the grown part; on failure the old
// block is left as it was.
constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// Virtual memory: only committed read-write blocks, released whole.
constexpr DWORD MEM_COMMIT = 0x00001000;
constexpr DWORD MEM_RESERVE = 0x00002000;
constexpr DWORD MEM_RELEASE = 0x00008000;
constexpr DWORD PAGE_READWRITE = 0x04;
LPVOID VirtualAlloc(LPVOID address, SIZE_T bytes, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T bytes, DWORD freeType);

// Debugger output goes nowhere unless a test or a tool installs a sink for it.
void OutputDebugStringA(LPCSTR text);
using DebugOutputSink = void (*)(const char* text);
void SetDebugOutputSink(DebugOutputSink sink);

// The engine's text is code page 932 on every machine the layer runs on.
UINT GetACP();
// Code page 932 (CP_ACP) text to UTF-16 and back. Lengths of -1 include the NUL; a capacity of
// 0 asks for the size needed. 0 on failure (ERROR_INSUFFICIENT_BUFFER when the target is short).
constexpr UINT CP_ACP = 0;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                        int capacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, LPSTR text,
                        int capacity, LPCSTR defaultChar, BOOL* usedDefault);
UINT GetOEMCP();

DWORD GetLastError();
void SetLastError(DWORD error);
[[noreturn]] void ExitProcess(UINT exitCode);

// Modules by name: LoadLibraryA finds a module of the layer's own table ("winmm.dll", "d3d9.dll",
// ...; letter case is ignored and ".dll" may be left out), GetProcAddress an entry point of it.
// A missing module or entry point gives null, as on the platform. Every folder of the layer lists
// its module in platform/win32/kernel_module_table.cpp.
struct PlatformModuleEntry {
  const char* name;
  FARPROC address;
};
// Adds a module or replaces the entries of one of the same name: 0, or -1 for a bad argument.
int RegisterPlatformModule(const char* name, std::span<const PlatformModuleEntry> entries);
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
// Null names the program itself.
HMODULE GetModuleHandleA(LPCSTR moduleName);

// Entry points of any type go into the table as FARPROC; the engine casts them back.
template <class Function>
FARPROC AsFarProc(Function* function) {
  return reinterpret_cast<FARPROC>(function);
}
