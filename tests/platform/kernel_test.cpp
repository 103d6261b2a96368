// The kernel's threads, synchronisation objects, waits, heap, code pages and module table.
#include "platform/win32/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/win32/kernel_arithmetic.h"
#include "platform/winmm/winmm.h"

namespace {

struct GateParameter {
  HANDLE gate;
  std::atomic<int> ran{0};
  DWORD code;
};

DWORD WaitAtGate(LPVOID parameter) {
  auto* p = static_cast<GateParameter*>(parameter);
  p->ran = 1;
  WaitForSingleObject(p->gate, INFINITE);
  return p->code;
}

DWORD LeaveThroughExitThread(LPVOID) {
  struct Tidy {
    bool* done;
    ~Tidy() { *done = true; }
  };
  static bool unwound = false;
  Tidy tidy{&unwound};
  ExitThread(7);
}

TEST(KernelThreads, ExitCodeIsStillActiveUntilTheThreadEndsAndTheHandleIsSignalledThen) {
  GateParameter parameter;
  parameter.gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  parameter.code = 42;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &parameter, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, 0xFFFFFFFFu);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  SetEvent(parameter.gate);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(parameter.gate));
}

TEST(KernelThreads, SuspendedThreadRunsOnlyAfterResume) {
  GateParameter parameter;
  parameter.gate = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  parameter.code = 3;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &parameter, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
  EXPECT_EQ(parameter.ran.load(), 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(parameter.ran.load(), 1);
  EXPECT_EQ(ResumeThread(thread), 0u);
  CloseHandle(thread);
  CloseHandle(parameter.gate);
}

TEST(KernelThreads, ExitThreadGivesItsCodeAndUnwindsTheThread) {
  HANDLE thread = CreateThread(nullptr, 0, LeaveThroughExitThread, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
}

TEST(KernelEvents, ManualResetStaysSetAutoResetWakesOneWait) {
  HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  SetEvent(manual);
  SetEvent(automatic);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  CloseHandle(manual);
  CloseHandle(automatic);
}

TEST(KernelEvents, WaitReturnsWhenAnotherThreadSetsTheEvent) {
  struct Setter {
    static DWORD Run(LPVOID event) {
      Sleep(20);
      SetEvent(event);
      return 0;
    }
  };
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, Setter::Run, event, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST(KernelSemaphores, CountsDownOnWaitsAndRefusesToPassItsMaximum) {
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 2, nullptr);
  ASSERT_NE(semaphore, nullptr);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  EXPECT_EQ(CreateSemaphoreA(nullptr, 3, 2, nullptr), nullptr);
  CloseHandle(semaphore);
}

TEST(KernelWaits, WaitForAnyGivesTheFirstSignalledIndexWaitForAllNeedsEveryOne) {
  HANDLE events[3] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                      CreateEventA(nullptr, TRUE, FALSE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(events[2]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);
  SetEvent(events[0]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
  // The auto-reset event's signal was taken by the satisfied wait for all.
  EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_TIMEOUT);
  for (HANDLE event : events) CloseHandle(event);
}

TEST(KernelWaits, BadHandlesFailInsteadOfCrashing) {
  int notAnObject = 0;
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(&notAnObject, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(&notAnObject));
  EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

TEST(KernelCriticalSections, AreRecursiveAndExcludeOtherThreads) {
  struct Shared {
    CRITICAL_SECTION section;
    int counter = 0;
  };
  struct Adder {
    static DWORD Run(LPVOID p) {
      auto* shared = static_cast<Shared*>(p);
      for (int i = 0; i < 10000; ++i) {
        EnterCriticalSection(&shared->section);
        EnterCriticalSection(&shared->section);
        ++shared->counter;
        LeaveCriticalSection(&shared->section);
        LeaveCriticalSection(&shared->section);
      }
      return 0;
    }
  };
  Shared shared;
  InitializeCriticalSection(&shared.section);
  HANDLE threads[4];
  for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, Adder::Run, &shared, 0, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(shared.counter, 40000);
  for (HANDLE thread : threads) CloseHandle(thread);
  DeleteCriticalSection(&shared.section);
}

TEST(KernelArithmetic, MulDivRoundsHalvesAwayFromZeroAndRefusesWhatCannotBeAnswered) {
  struct Case {
    int a, b, c, result;
  };
  constexpr Case cases[] = {
      {100000, 6, 245, 2449},  // 2448.98 rounds up
      {100000, 6, 250, 2400}, {5, 1, 2, 3},          {-5, 1, 2, -3},
      {5, -1, 2, -3},         {7, 3, -2, -11},       {1, 1, 0, -1},
      {65536, 65536, 1, -1},  {65536, 65536, 2, -1}, {65536, 32767, 1, 2147418112},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " * " << c.b << " / " << c.c);
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.result);
  }
}

TEST(KernelInterlocked, OperationsReturnThePlatformsValues) {
  LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 0), 12);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 12), 12);
  EXPECT_EQ(value, 1);
}

TEST(KernelHeap, ResizeWithZeroFlagZeroesExactlyTheGrownPart) {
  auto* bytes = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, 3));
  ASSERT_NE(bytes, nullptr);
  std::memset(bytes, 0xAB, 3);
  bytes = static_cast<unsigned char*>(HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes, 64));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bytes[i], 0xAB);
  for (int i = 3; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, ~SIZE_T{0}), nullptr);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, bytes));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, nullptr));
}

TEST(KernelSystem, CodePageIs932) {
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_EQ(GetOEMCP(), 932u);
}

TEST(KernelDebugOutput, GoesToTheInstalledSink) {
  static std::string captured;
  captured.clear();
  SetDebugOutputSink([](const char* text) { captured += text; });
  OutputDebugStringA("one ");
  OutputDebugStringA("two");
  SetDebugOutputSink(nullptr);
  OutputDebugStringA("three");
  EXPECT_EQ(captured, "one two");
}

TEST(KernelModules, NamesAreFoundWithoutCaseAndExtensionAndMissingOnesGiveNull) {
  HMODULE winmm = LoadLibraryA("winmm.dll");
  ASSERT_NE(winmm, nullptr);
  HMODULE again = LoadLibraryA("WINMM");
  EXPECT_EQ(again, winmm);
  using TimeGetTime = DWORD (*)();
  auto entry = reinterpret_cast<TimeGetTime>(GetProcAddress(winmm, "timeGetTime"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(entry), reinterpret_cast<void*>(&timeGetTime));
  EXPECT_EQ(GetProcAddress(winmm, "timeSetEvent"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(winmm, "TIMEGETTIME"), nullptr);
  EXPECT_EQ(LoadLibraryA("nosuchmodule.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_TRUE(FreeLibrary(winmm));
  // Released by everyone: its entry points are gone with it.
  EXPECT_EQ(GetProcAddress(winmm, "timeGetTime"), nullptr);
  EXPECT_FALSE(FreeLibrary(winmm));
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
}

LONG_PTR ReturnFive() { return 5; }

TEST(KernelModules, FoldersRegisterTheirOwnModules) {
  const PlatformModuleEntry entries[] = {{"Five", AsFarProc(ReturnFive)}};
  ASSERT_EQ(RegisterPlatformModule("Test.DLL", entries), 0);
  HMODULE module = LoadLibraryA("test.dll");
  ASSERT_NE(module, nullptr);
  auto five = reinterpret_cast<LONG_PTR (*)()>(GetProcAddress(module, "Five"));
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five(), 5);
  FreeLibrary(module);
  EXPECT_EQ(RegisterPlatformModule(nullptr, entries), -1);
}

}  // namespace
