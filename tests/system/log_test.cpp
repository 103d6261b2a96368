// The log file: CR LF conversion, time stamps, indents, the log switch, dated names, long and
// concurrent texts, and the debugger mirror.
#include "system/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log_fixture.h"
#include "platform/win32/kernel.h"
#include "system/tracked_memory.h"

namespace {

using LogFile = LogFixture;

TEST_F(LogFile, StartsEmptyAndWritesTextWithCrLfAndOneStampPerCall) {
  EXPECT_TRUE(LogExists());
  EXPECT_EQ(ReadLog(), "");
  EXPECT_EQ(LogWriteText("a\nb\n"), -1);
  Sleep(25);
  LogWriteText("c\n");
  EXPECT_EQ(ReadLog(), "0:a\r\nb\r\n25:c\r\n");
}

TEST_F(LogFile, ConversionStopsAtTheFirstLineFeedThatHasItsCarriageReturn) {
  struct Case {
    const char* text;
    const char* written;
  };
  constexpr Case cases[] = {
      {"x\r\ny\nz", "0:x\r\ny\nz"},
      {"\nfirst", "0:\r\nfirst"},
      {"p\nq\r\nr\n", "0:p\r\nq\r\nr\n"},
      // A trail byte 0x5C is not a separator, and a lead byte takes the next byte with it.
      {"\x83\x5C\n", "0:\x83\x5C\r\n"},
      {"\x81\n", "0:\x81\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    InitializeLogFile();
    LogWriteText(c.text);
    EXPECT_EQ(ReadLog(), c.written);
  }
}

TEST_F(LogFile, ATextWithoutLineFeedIsContinuedByTheNextWithoutANewStamp) {
  LogWriteText("abc");
  Sleep(7);
  LogWriteText("def\n");
  Sleep(3);
  LogWriteText("");
  LogWriteText("g\n");
  // An empty text at the start of a line still writes its stamp, and the line stays open for one.
  EXPECT_EQ(ReadLog(), "0:abcdef\r\n10:10:g\r\n");
}

TEST_F(LogFile, IndentsAreTabsAfterTheStampAndNeverGoBelowZero) {
  IncreaseLogIndent();
  IncreaseLogIndent();
  LogWriteText("two\n");
  DecreaseLogIndent();
  DecreaseLogIndent();
  DecreaseLogIndent();
  LogWriteText("none\n");
  IncreaseLogIndent();
  SetLogTimeStampOff(1);
  LogWriteText("unstamped\n");
  EXPECT_EQ(ReadLog(), "0:\t\ttwo\r\n0:none\r\n\tunstamped\r\n");
}

TEST_F(LogFile, JapaneseTextIsWrittenInCodePage932) {
  LogWriteText("完了\n");
  LogPrintf("ＣＰＵ動作速度：大体%.2fGHz", 2.5);
  EXPECT_EQ(
      ReadLog(),
      "0:\x8a\xae\x97\xb9\r\n0:\x82\x62\x82\x6f\x82\x74\x93\xae\x8d\xec\x91\xac\x93\x78\x81\x46"
      "\x91\xe5\x91\xcc"
      "2.50GHz\r\n");
}

TEST_F(LogFile, NothingIsWrittenOrCreatedWithTheLogOff) {
  SetLogOutput(0);
  EXPECT_EQ(IsLogOutputOn(), 0);
  std::filesystem::remove(directory_ + "/Log.txt");
  InitializeLogFile();
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(LogWriteText("hidden\n"), -1);
  EXPECT_EQ(LogPrintf("%s", "hidden"), -1);
  EXPECT_FALSE(LogExists());
}

TEST_F(LogFile, AnEmptyLogDirectoryWritesNothing) {
  SetLogDirectory("");
  EXPECT_EQ(LogWriteText("lost\n"), -1);
  EXPECT_EQ(ReadLog(), "");
}

TEST_F(LogFile, DatedNameComesFromTheLocalTime) {
  SetPlatformVirtualLocalTime(2011, 3, 5, 7, 8, 9);
  SetLogDatedFileName(1);
  InitializeLogFile();
  EXPECT_STREQ(GetLogFileName(), "Log2011_3_5_7_8_9.txt");
  EXPECT_TRUE(LogExists("Log2011_3_5_7_8_9.txt"));
  LogWriteText("dated\n");
  EXPECT_EQ(ReadLog("Log2011_3_5_7_8_9.txt"), "0:dated\r\n");
}

TEST_F(LogFile, ThreeHundredLineFeedsBecomeThreeHundredPairsWithoutALeftoverBlock) {
  const int blocks = GetTrackedBlockCount();
  LogWriteText(std::string(300, '\n').c_str());
  std::string expected = "0:";
  for (int i = 0; i < 300; ++i) expected += "\r\n";
  EXPECT_EQ(ReadLog(), expected);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
}

TEST_F(LogFile, FormattedTextIsCutAtItsBuffer) {
  LogPrintf("%s", std::string(3000, 'x').c_str());
  EXPECT_EQ(ReadLog(), "0:" + std::string(1023, 'x') + "\r\n");
  char small[8];
  EXPECT_EQ(FormatText(small, sizeof(small), "%s-%d", "abcdef", 12345), 0);
  EXPECT_STREQ(small, "abcdef-");
  EXPECT_EQ(FormatText(small, sizeof(small), "%d", 42), 0);
  EXPECT_STREQ(small, "42");
}

TEST_F(LogFile, LinesFromSeveralThreadsStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kLines = 100;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LogWriteText(("thread " + std::to_string(t) + " line " + std::to_string(i) + "\n").c_str());
    });
  for (auto& writer : writers) writer.join();
  const std::string log = ReadLog();
  std::vector<int> next(kThreads, 0);
  int lines = 0;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = log.substr(at, end - at);
    int thread = -1;
    int index = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "0:thread %d line %d", &thread, &index), 2) << line;
    ASSERT_GE(thread, 0);
    ASSERT_LT(thread, kThreads);
    EXPECT_EQ(index, next[thread]++);
    EXPECT_EQ(line, "0:thread " + std::to_string(thread) + " line " + std::to_string(index));
    ++lines;
    at = end + 2;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

TEST_F(LogFile, EveryPieceIsMirroredToTheDebuggerOutput) {
  static std::string mirrored;
  mirrored.clear();
  SetDebugOutputSink([](const char* text) { mirrored += text; });
  IncreaseLogIndent();
  LogWriteText("seen\n");
  SetDebugOutputSink(nullptr);
  EXPECT_EQ(mirrored, "0:\tseen\r\n");
}

TEST_F(LogFile, ADirectoryEndingInAKanjiWithTrailBackslashStillGetsASeparator) {
  // "表" (0x95 0x5C) ends the directory name: its 0x5C is no separator.
  const std::string kanjiDirectory = directory_ + "/\xE8\xA1\xA8";
  std::filesystem::create_directory(kanjiDirectory);
  std::string enginePath;
  ASSERT_TRUE(MapPosixToEnginePath(directory_, enginePath));
  SetLogDirectory((enginePath + "\\\x95\x5C").c_str());
  InitializeLogFile();
  LogWriteText("inside\n");
  std::ifstream file(kanjiDirectory + "/Log.txt", std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "0:inside\r\n");
}

}  // namespace
