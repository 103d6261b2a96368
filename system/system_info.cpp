// What the engine finds out about the machine at start-up: Windows version, processors and their
// features and clock, physical memory, and the choice of the fine clock. The results outlive the
// clearing of the system state.
#include "system/system_info.h"

#include <cstring>

#include "platform/win32/kernel.h"
#include "platform/win32/sysinfo.h"
#include "platform/winmm/winmm.h"
#include "system/log.h"
#include "system/system.h"

namespace {

SystemInfo info;
int timerSource = 0;
std::uint64_t performanceFrequency = 0;

// The OS text and code from the version the platform reports.
void DescribeVersion(const OSVERSIONINFOA& version) {
  char text[128] = "Windows";
  auto append = [&](const char* part) {
    std::strncat(text, part, sizeof text - std::strlen(text) - 1);
  };
  int code = 0;
  char serviceSecond = version.szCSDVersion[0] ? version.szCSDVersion[1] : '\0';
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32s: append("3.1"); break;
    case VER_PLATFORM_WIN32_WINDOWS:
      if (version.dwMinorVersion == 0) {
        append("95");
        code = 1;
        if (serviceSecond == 'C') append("OSR2");
      } else if (version.dwMinorVersion == 10) {
        append("98");
        code = 2;
        if (serviceSecond == 'A') append("SE");
      } else if (version.dwMinorVersion == 90) {
        append("Me");
        code = 3;
      }
      break;
    case VER_PLATFORM_WIN32_NT:
      if (version.dwMajorVersion == 3) {
        append("NT 3.51");
        code = 0x104;
      } else if (version.dwMajorVersion == 4) {
        append("4.0");
        code = 0x105;
      } else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) {
        append("2000");
        code = 0x106;
      } else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 1) {
        append("XP");
        code = 0x107;
      } else if (version.dwMajorVersion == 6 && version.dwMinorVersion == 0) {
        append("Vista");
        code = 0x108;
      } else if (version.dwMajorVersion == 6 && version.dwMinorVersion == 1) {
        append("7");
        code = 0x109;
      }
      break;
    default: break;
  }
  info.OsVersionCode = code;
  FormatText(info.osText, sizeof info.osText, "%s ( Build %d %s )", text,
             static_cast<int>(version.dwBuildNumber), version.szCSDVersion);
}

// One timeBeginPeriod per start, ended by LowerTimerPeriod when the window goes.
bool timerPeriodRaised = false;

// Raises the timer resolution once per start.
void RaiseTimerPeriod() {
  if (timerPeriodRaised) return;
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return;
  timeBeginPeriod(caps.wPeriodMin);
  timerPeriodRaised = true;
}

// The time-stamp counter's rate over 100 ms of the millisecond clock. The wait sleeps a
// millisecond per pass instead of spinning: the counter runs on meanwhile, and virtual time moves.
void MeasureTimeStampCounter() {
  std::uint64_t first = ReadTimeStampCounter();
  int start = GetMillisecondCount();
  while (((GetMillisecondCount() - start) & 0x7FFFFFFF) < 100) Sleep(1);
  std::uint64_t difference = ReadTimeStampCounter() - first;
  info.processorMhz = static_cast<std::int32_t>(difference / 100000);
  info.timeStampTicksPerSecond = difference * 10;
  LogPrintf("ＣＰＵ動作速度：大体%.2fGHz", info.processorMhz / 1000.0);
}

}  // namespace

const SystemInfo& GetSystemInformation() { return info; }
int OsVersionCode() { return info.OsVersionCode; }
int GetLogicalProcessorCount() { return info.logicalProcessorCount; }
int IsMmxAvailable() { return info.mmx; }

int DetectSystemInformation() {
  info = SystemInfo{};
  LogWriteText("システムの情報を出力します\n");
  IncreaseLogIndent();
  char line[64];
  FormatText(line, sizeof line, "ＫＶライブラリ Ver%s\n", "3.05");
  LogWriteText(line);

  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  info.logicalProcessorCount = static_cast<std::int32_t>(system.dwNumberOfProcessors);
  LogPrintf("論理プロセッサの数 : %d", info.logicalProcessorCount);

  LogWriteText("ＯＳ  ");
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  DescribeVersion(version);
  LogPrintf("%s", info.osText);

  info.directXVersion = 0x70000;
  RaiseTimerPeriod();

  UINT registers[4] = {};
  int level = 0;
  char vendor[13] = {};
  char name[49] = {};
  if (QueryProcessorId(0, registers)) {
    level = 1;
    std::memcpy(vendor, &registers[1], 4);
    std::memcpy(vendor + 4, &registers[3], 4);
    std::memcpy(vendor + 8, &registers[2], 4);
    UINT features[4] = {};
    if (QueryProcessorId(1, features)) {
      info.timeStampCounter = (features[3] >> 4) & 1;
      if (features[3] & (1u << 23)) {
        level = 3;
        if (features[3] & (1u << 25)) {
          level = 4;
          if (features[3] & (1u << 26)) level = 5;
        }
      }
    }
    UINT extended[4] = {};
    if (QueryProcessorId(0x80000000u, extended) && extended[0] >= 0x80000004u) {
      for (UINT leaf = 0; leaf < 3; ++leaf) {
        UINT part[4] = {};
        QueryProcessorId(0x80000002u + leaf, part);
        std::memcpy(name + leaf * 16, part, 16);
      }
    }
  }
  if (info.timeStampCounter) MeasureTimeStampCounter();
  switch (level) {
    case 0: LogWriteText("ＣＰＵＩＤ命令は使えません\n"); break;
    case 1: LogWriteText("ＭＭＸは使えません\n"); break;
    default:
      LogWriteText("ＭＭＸ命令を使用します\n");
      info.mmx = 1;
      if (level >= 4) {
        LogWriteText("ＳＳＥ命令が使用可能です\n");
        info.sse = 1;
      }
      if (level >= 5) {
        LogWriteText("ＳＳＥ２命令が使用可能です\n");
        info.sse2 = 1;
      }
      break;
  }
  if (level > 0) {
    LogWriteText("ＣＰＵベンダ：");
    for (int piece = 0; piece < 3; ++piece) {
      char four[5] = {};
      std::memcpy(four, vendor + piece * 4, 4);
      LogWriteText(four);
    }
    LogWriteText("\n");
    if (name[0]) {
      LogPrintf("ＣＰＵ名：%s", name);
      std::memcpy(info.processorName, name, sizeof name);
    }
  }
  DecreaseLogIndent();
  return 0;
}

int ReportMemoryStatus() {
  std::uint64_t total = 0;
  std::uint64_t available = 0;
  if (info.OsVersionCode >= 0x106) {
    if (HMODULE kernel = LoadLibraryA("Kernel32.dll")) {
      auto memoryStatusEx = reinterpret_cast<BOOL (*)(MEMORYSTATUSEX*)>(
          GetProcAddress(kernel, "GlobalMemoryStatusEx"));
      MEMORYSTATUSEX status{};
      status.dwLength = 64;
      if (memoryStatusEx && memoryStatusEx(&status)) {
        total = status.ullTotalPhys;
        available = status.ullAvailPhys;
      }
      FreeLibrary(kernel);
    }
  }
  if (total == 0) {
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    total = status.dwTotalPhys;
    available = status.dwAvailPhys;
  }
  LogPrintf("メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ", total / 1048576.0, available / 1048576.0);
  char debugLine[64];
  FormatText(debugLine, sizeof debugLine, "%.2fMB\n", available / 1048576.0);
  OutputDebugStringA(debugLine);
  info.totalMemory = total;
  info.freeMemory = available;
  return 0;
}

int GetTimerSource() { return timerSource; }

int SetTimerSourceFromFrequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  performanceFrequency = static_cast<std::uint64_t>(frequency.QuadPart);
  timerSource = performanceFrequency != 0 ? 1 : 0;
  return 0;
}

int LowerTimerPeriod() {
  if (!timerPeriodRaised) return 0;
  TIMECAPS caps{};
  timeGetDevCaps(&caps, sizeof caps);
  timeEndPeriod(caps.wPeriodMin);
  timerPeriodRaised = false;
  return 0;
}

int ChooseTimerSource() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  performanceFrequency = static_cast<std::uint64_t>(frequency.QuadPart);
  if (performanceFrequency == 0) {
    timerSource = 0;
    return 0;
  }
  LogWriteText("タイマーの精度を検査します\n");
  int multimediaChanges = 0;
  int counterChanges = 0;
  DWORD start = timeGetTime();
  DWORD lastTime = start;
  LARGE_INTEGER lastCounter{};
  QueryPerformanceCounter(&lastCounter);
  // Bounded by passes too, so that clocks that never move (virtual time) cannot hold the start.
  for (int pass = 0; pass < 1000000 && multimediaChanges < 60 && counterChanges < 60; ++pass) {
    DWORD now = timeGetTime();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    if (now != lastTime) ++multimediaChanges;
    if (counter.QuadPart != lastCounter.QuadPart) ++counterChanges;
    lastTime = now;
    lastCounter = counter;
    if (now - start >= 1000) break;
  }
  LogPrintf("精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d",
            multimediaChanges, counterChanges);
  LogWriteText(" ");
  if (multimediaChanges > counterChanges) {
    TIMECAPS caps{};
    timeGetDevCaps(&caps, sizeof caps);
    LogPrintf("Multi Media Timer を使用します Timer 精度 : %d.00 ms ",
              static_cast<int>(caps.wPeriodMin));
    timerSource = 0;
  } else {
    LogPrintf("パフォーマンスカウンターを使用します タイマー精度 : %lf KHz ",
              performanceFrequency / 1000.0);
    timerSource = 1;
  }
  LogWriteText(" ");
  RaiseTimerPeriod();
  return 0;
}

std::uint64_t GetPerformanceFrequencyForClocks() { return performanceFrequency; }
