// What the engine learned about the machine at start-up, and its clocks: the 31-bit millisecond
// clock (GetMillisecondCount, in system/system.h), the 64-bit microsecond clock and the local date.
#pragma once

#include <cstdint>

// OsVersionCode: 0 Win32s, 1 95, 2 98, 3 Me, 0x104 NT 3.51, 0x105 NT 4.0, 0x106 2000, 0x107 XP,
// 0x108 Vista, 0x109 7; any other version is 0.
struct SystemInfo {
  char osText[512];
  char processorName[256];
  std::int32_t processorMhz;
  std::uint64_t freeMemory;
  std::uint64_t totalMemory;
  std::int32_t logicalProcessorCount;
  std::int32_t directXVersion;
  std::int32_t OsVersionCode;
  std::int32_t mmx;
  std::int32_t sse;
  std::int32_t sse2;
  std::int32_t timeStampCounter;
  std::uint64_t timeStampTicksPerSecond;
};

const SystemInfo& GetSystemInformation();
int OsVersionCode();
int GetLogicalProcessorCount();
int IsMmxAvailable();

// Finds out the machine and writes it to the log (start-up, before the window exists).
int DetectSystemInformation();
// The memory lines of the log and the memory figures (InitializeWindowSystem).
int ReportMemoryStatus();

// TimerSource: 1 the performance counter, 0 the multimedia timer.
int GetTimerSource();
// From the frequency alone (0 means none): InitializeEngineCore's choice.
int SetTimerSourceFromFrequency();
// Measures both clocks and keeps the one that changes more often (InitializeWindowSystem).
int ChooseTimerSource();
// Ends the raised timer resolution of this start, once (DestroyEngineWindow).
int LowerTimerPeriod();

// Microseconds from the time-stamp counter (with 1, when usable and the engine runs), else the
// performance counter (with TimerSource 1), else the multimedia timer.
std::uint64_t GetMicrosecondCount(int useTimeStampCounter);
