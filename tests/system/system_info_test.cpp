// System information and clocks: the OS text and code of every version, the processor feature
// levels and their log lines, the 31-bit millisecond clock and the sources of the microsecond
// clock.
#include <algorithm>
#include <cstring>

#include "platform/win32/file_path.h"
#include "platform/win32/kernel.h"
#include "platform/win32/sysinfo.h"
#include "system/system_info.h"
#include "tests/host/engine_fixture.h"

namespace {

class SystemInfoTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    SetPlatformVirtualTime(true);
    std::string enginePath;
    ASSERT_TRUE(MapPosixToEnginePath(directory_, enginePath));
    SetLogDirectory(enginePath.c_str());
    InitializeLogFile();
  }
  void TearDown() override {
    SetPlatformVersionInfo(nullptr);
    SetPlatformProcessorId(nullptr);
    SetPlatformTimeStampCounter(nullptr);
    EngineFixture::TearDown();
  }
};

TEST_F(SystemInfoTest, OsTextAndCodeForEveryVersion) {
  struct Case {
    DWORD platform, major, minor, build;
    const char* service;
    const char* text;
    int code;
  };
  const Case cases[] = {
      {VER_PLATFORM_WIN32s, 3, 10, 0, "", "Windows3.1 ( Build 0  )", 0},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, " C", "Windows95OSR2 ( Build 950  C )", 1},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, " A", "Windows98SE ( Build 2222  A )", 2},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, "", "WindowsMe ( Build 3000  )", 3},
      {VER_PLATFORM_WIN32_NT, 3, 51, 1057, "", "WindowsNT 3.51 ( Build 1057  )", 0x104},
      {VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6",
       "Windows4.0 ( Build 1381 Service Pack 6 )", 0x105},
      {VER_PLATFORM_WIN32_NT, 5, 0, 2195, "", "Windows2000 ( Build 2195  )", 0x106},
      {VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3",
       "WindowsXP ( Build 2600 Service Pack 3 )", 0x107},
      {VER_PLATFORM_WIN32_NT, 6, 0, 6002, "", "WindowsVista ( Build 6002  )", 0x108},
      {VER_PLATFORM_WIN32_NT, 6, 1, 7601, "", "Windows7 ( Build 7601  )", 0x109},
      {VER_PLATFORM_WIN32_NT, 6, 2, 9200, "", "Windows ( Build 9200  )", 0},
      {VER_PLATFORM_WIN32_NT, 10, 0, 19045, "", "Windows ( Build 19045  )", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    OSVERSIONINFOA version{sizeof version, c.major, c.minor, c.build, c.platform, {}};
    std::strcpy(version.szCSDVersion, c.service);
    SetPlatformVersionInfo(&version);
    DetectSystemInformation();
    EXPECT_STREQ(GetSystemInformation().osText, c.text);
    EXPECT_EQ(OsVersionCode(), c.code);
  }
}

UINT fakeFeatures = 0;
BOOL FakeProcessor(UINT leaf, UINT registers[4]) {
  if (leaf == 0) {
    registers[0] = 1;
    std::memcpy(&registers[1], "Genu", 4);
    std::memcpy(&registers[3], "ineI", 4);
    std::memcpy(&registers[2], "ntel", 4);
    return TRUE;
  }
  if (leaf == 1) {
    registers[0] = registers[1] = registers[2] = 0;
    registers[3] = fakeFeatures;
    return TRUE;
  }
  return FALSE;
}
BOOL NoProcessorId(UINT, UINT*) { return FALSE; }

TEST_F(SystemInfoTest, FeatureLevelsGiveTheirLinesAndFlags) {
  struct Case {
    UINT features;
    bool cpuid;
    std::vector<std::string> lines;
    int mmx, sse, sse2;
  };
  const UINT mmx = 1u << 23, sse = 1u << 25, sse2 = 1u << 26;
  const Case cases[] = {
      {0, false, {"\tＣＰＵＩＤ命令は使えません"}, 0, 0, 0},
      {0, true, {"\tＭＭＸは使えません", "\tＣＰＵベンダ：GenuineIntel"}, 0, 0, 0},
      {mmx, true, {"\tＭＭＸ命令を使用します", "\tＣＰＵベンダ：GenuineIntel"}, 1, 0, 0},
      {mmx | sse,
       true,
       {"\tＭＭＸ命令を使用します", "\tＳＳＥ命令が使用可能です", "\tＣＰＵベンダ：GenuineIntel"},
       1,
       1,
       0},
      {mmx | sse | sse2,
       true,
       {"\tＭＭＸ命令を使用します", "\tＳＳＥ命令が使用可能です", "\tＳＳＥ２命令が使用可能です",
        "\tＣＰＵベンダ：GenuineIntel"},
       1,
       1,
       1},
      {sse | sse2, true, {"\tＭＭＸは使えません", "\tＣＰＵベンダ：GenuineIntel"}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.features);
    fakeFeatures = c.features;
    SetPlatformProcessorId(c.cpuid ? FakeProcessor : NoProcessorId);
    InitializeLogFile();
    DetectSystemInformation();
    auto lines = LogLines();
    // The feature lines follow the OS line, then the indent ends.
    auto os = std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("\tＯＳ  ", 0) == 0; });
    ASSERT_NE(os, lines.end());
    std::vector<std::string> after(os + 1, lines.end());
    if (!after.empty() && after.back().empty()) after.pop_back();
    EXPECT_EQ(after, c.lines);
    EXPECT_EQ(GetSystemInformation().mmx, c.mmx);
    EXPECT_EQ(GetSystemInformation().sse, c.sse);
    EXPECT_EQ(GetSystemInformation().sse2, c.sse2);
  }
}

TEST_F(SystemInfoTest, MillisecondCountIsThe31BitMultimediaClock) {
  const std::uint64_t million = 1000000;
  const std::uint64_t cases[] = {
      0, 0x7FFFFFFEull, 0x7FFFFFFFull, 0x80000000ull, 0xFFFFFFFFull, 0x100000005ull};
  for (std::uint64_t ms : cases) {
    SCOPED_TRACE(ms);
    SetPlatformVirtualNanoseconds(ms * million);
    EXPECT_EQ(GetMillisecondCount(), static_cast<int>(ms & 0x7FFFFFFF));
    EXPECT_GE(GetMillisecondCount(), 0);
  }
}

std::uint64_t FakeTicks() { return GetPlatformNanoseconds() * 3; }  // a 3 GHz counter

TEST_F(SystemInfoTest, MicrosecondClockSourceFollowsTheStartAndTheArgument) {
  SetPlatformVirtualNanoseconds(5000ull * 1000000);
  // Before any start: the multimedia timer, all 32 bits, times 1000.
  EXPECT_EQ(GetMicrosecondCount(0), 5000u * 1000u);
  EXPECT_EQ(GetMicrosecondCount(1), 5000u * 1000u);
  SetPlatformTimeStampCounter(FakeTicks);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(GetSystemInformation().timeStampTicksPerSecond, 3000000000ull);
  ASSERT_EQ(GetTimerSource(), 1);
  AdvancePlatformTimeNanoseconds(123456789);
  std::uint64_t nanoseconds = GetPlatformNanoseconds();
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  EXPECT_EQ(GetMicrosecondCount(0),
            static_cast<std::uint64_t>(counter.QuadPart) / 10);  // the 10 MHz counter
  EXPECT_EQ(GetMicrosecondCount(1), nanoseconds / 1000);         // the 3 GHz time-stamp counter
  ShutdownEngine();
  QueryPerformanceCounter(&counter);
  EXPECT_EQ(GetMicrosecondCount(1),
            static_cast<std::uint64_t>(counter.QuadPart) / 10);  // not running: the counter
}

}  // namespace
