// The plain file set: plain and threaded reads, the reader thread's life, full paths, temp files.
#include "files/win32_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "system/text_helpers.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;

// "/tmp/x" as the engine writes it: "Z:\tmp\x".
std::string EngineForm(const std::string& posix) {
  std::string out = "Z:" + posix;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

int CountThreads() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// A thread that has ended its work leaves the process's task list a moment later.
int CountThreadsSettled(int expected) {
  for (int i = 0; i < 2000 && CountThreads() != expected; ++i) usleep(1000);
  return CountThreads();
}

class Win32FileTest : public ::testing::Test {
 protected:
  void SetUp() override { blocks_ = GetTrackedBlockCount(); }
  void TearDown() override { EXPECT_EQ(GetTrackedBlockCount(), blocks_); }
  std::string MakeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(dir_ + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return "Z:" + dir_ + "/" + name;
  }
  static std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
  }
  TempFolder folder_{"h3win32"};
  const std::string dir_ = folder_.string();
  int blocks_ = 0;
};

// Both kinds of open must read the same way; the table is run over each.
class Win32FileKinds : public Win32FileTest, public ::testing::WithParamInterface<int> {};

TEST_P(Win32FileKinds, ReadsWholeElementsAndSetsTheEndFlag) {
  std::string path = MakeFile("hundred.bin", Counting(100));
  FileHandle file = Win32FileOpen(path.c_str(), 0, 1, GetParam());
  ASSERT_NE(file, 0);
  std::uint8_t buffer[16] = {};
  EXPECT_EQ(Win32FileSeek(file, 90, 0), 0);
  EXPECT_EQ(Win32FileRead(buffer, 4, 3, file), 2u);
  while (!Win32FileIdleCheck(file)) Sleep(0);
  EXPECT_EQ(buffer[0], Counting(100)[90]);
  EXPECT_EQ(Win32FileTell(file), 98);
  EXPECT_EQ(Win32FileRead(buffer, 4, 1, file), 0u);
  EXPECT_EQ(Win32FileEof(file), -1);
  EXPECT_EQ(Win32FileRead(buffer, 0, 5, file), 0u);
  // A seek beyond the end succeeds; the read after it finds nothing and says so.
  EXPECT_EQ(Win32FileSeek(file, 150, 0), 0);
  EXPECT_EQ(Win32FileEof(file), 0);
  EXPECT_EQ(Win32FileTell(file), 150);
  EXPECT_EQ(Win32FileRead(buffer, 1, 4, file), 0u);
  EXPECT_EQ(Win32FileEof(file), -1);
  EXPECT_EQ(Win32FileTell(file), 150);
  EXPECT_EQ(Win32FileSeek(file, -101, 2), -1);
  EXPECT_EQ(Win32FileTell(file), 150);
  EXPECT_EQ(Win32FileSeek(file, -10, 2), 0);
  EXPECT_EQ(Win32FileRead(buffer, 10, 1, file), 1u);
  while (!Win32FileIdleCheck(file)) Sleep(0);
  EXPECT_EQ(buffer[9], Counting(100)[99]);
  EXPECT_EQ(Win32FileClose(file), 0);
}

TEST_P(Win32FileKinds, ReportsWhatWasReadWhenTheFileShrank) {
  std::string path = MakeFile("shrinks.bin", Counting(100));
  FileHandle file = Win32FileOpen(path.c_str(), 0, 1, GetParam());
  ASSERT_NE(file, 0);
  fs::resize_file(dir_ + "/shrinks.bin", 30);
  std::uint8_t buffer[100];
  // A no-wait read cannot know yet; once the thread is idle, position and end flag tell.
  EXPECT_EQ(Win32FileRead(buffer, 10, 5, file), GetParam() ? 5u : 3u);
  while (!Win32FileIdleCheck(file)) Sleep(0);
  EXPECT_EQ(Win32FileEof(file), -1);
  EXPECT_EQ(Win32FileTell(file), 30);
  Win32FileClose(file);
}

INSTANTIATE_TEST_SUITE_P(PlainAndThreaded, Win32FileKinds, ::testing::Values(0, 1));

TEST_F(Win32FileTest, ThreadedAndPlainReadsGiveTheSameBytes) {
  const std::vector<std::uint8_t> bytes = Counting(5000);
  std::string path = MakeFile("random.bin", bytes);
  FileHandle plain = Win32FileOpen(path.c_str(), 0, 1, 0);
  FileHandle threaded = Win32FileOpen(path.c_str(), 0, 1, 1);
  FileHandle cached = Win32FileOpen(path.c_str(), 1, 1, 0);
  ASSERT_NE(plain, 0);
  ASSERT_NE(threaded, 0);
  ASSERT_NE(cached, 0);
  std::mt19937 random(1234);
  for (int i = 0; i < 300; ++i) {
    std::int32_t offset = static_cast<std::int32_t>(random() % 5200);
    std::size_t size = 1 + random() % 7;
    std::size_t count = random() % 400;
    SCOPED_TRACE(testing::Message() << offset << " " << size << "x" << count);
    std::vector<std::uint8_t> out[3];
    std::size_t results[3];
    FileHandle files[3] = {plain, threaded, cached};
    bool seek = random() % 2;
    for (int k = 0; k < 3; ++k) {
      out[k].assign(size * count + 1, 0);
      if (seek) Win32FileSeek(files[k], offset, 0);
      results[k] = Win32FileRead(out[k].data(), size, count, files[k]);
      while (!Win32FileIdleCheck(files[k])) Sleep(0);
      // Keep the three at one position whatever each did.
      Win32FileSeek(files[k], offset, 0);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(out[0], out[2]);
  }
  EXPECT_EQ(Win32FileClose(plain), 0);
  EXPECT_EQ(Win32FileClose(threaded), 0);
  EXPECT_EQ(Win32FileClose(cached), 0);
}

TEST_F(Win32FileTest, NoWaitReadReturnsAtOnceAndArrivesLater) {
  std::string path = MakeFile("later.bin", Counting(64));
  FileHandle file = Win32FileOpen(path.c_str(), 0, 1, 1);
  ASSERT_NE(file, 0);
  HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetWin32FileReaderGate(gate);
  std::uint8_t buffer[64] = {};
  EXPECT_EQ(Win32FileRead(buffer, 8, 8, file), 8u);
  EXPECT_EQ(Win32FileIdleCheck(file), 0);
  EXPECT_EQ(buffer[63], 0);
  SetEvent(gate);
  while (!Win32FileIdleCheck(file)) Sleep(0);
  SetWin32FileReaderGate(nullptr);
  CloseHandle(gate);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 64), Counting(64));
  EXPECT_EQ(Win32FileTell(file), 64);
  Win32FileClose(file);
}

TEST_F(Win32FileTest, CloseEndsTheReaderThreadAndFailedOpensLeaveNone) {
  std::string path = MakeFile("thread.bin", Counting(10));
  int before = CountThreads();
  FileHandle file = Win32FileOpen(path.c_str(), 0, 1, 1);
  ASSERT_NE(file, 0);
  EXPECT_EQ(CountThreads(), before + 1);
  EXPECT_EQ(Win32FileClose(file), 0);
  EXPECT_EQ(CountThreadsSettled(before), before);

  for (int noWait : {0, 1}) {
    EXPECT_EQ(Win32FileOpen(("Z:" + dir_ + "/missing.bin").c_str(), 0, 1, noWait), 0);
    EXPECT_EQ(Win32FileOpen(("Z:" + dir_).c_str(), 0, 1, noWait), 0);  // a folder is no file
    EXPECT_EQ(Win32FileOpen("Q:\\elsewhere.bin", 0, 1, noWait), 0);
  }
  EXPECT_EQ(CountThreadsSettled(before), before);
  EXPECT_EQ(Win32FileClose(0), -1);
}

TEST_F(Win32FileTest, DirectoriesAndFind) {
  MakeFile("one.bmp", Counting(3));
  MakeFile("two.BMP", Counting(300));
  char buffer[MAX_PATH];
  int length = Win32FileGetDir(buffer);
  std::string old(buffer, length);
  EXPECT_NE(Win32FileChangeDir(("Z:" + dir_).c_str()), 0);
  length = Win32FileGetDir(buffer);
  EXPECT_EQ(std::string(buffer, length), EngineForm(dir_));
  FindResultRecord result{};
  FindHandle find = Win32FileFindFirst("*.bmp", &result);
  ASSERT_NE(find, -1);
  EXPECT_STREQ(result.name, "one.bmp");
  EXPECT_EQ(result.directory, 0);
  EXPECT_EQ(result.sizeLow, 3u);
  EXPECT_GE(result.lastWriteTime.year, 2020);
  EXPECT_EQ(Win32FileFindNext(find, &result), 0);
  EXPECT_STREQ(result.name, "two.BMP");
  EXPECT_EQ(result.sizeLow, 300u);
  EXPECT_EQ(Win32FileFindNext(find, &result), -1);
  EXPECT_EQ(Win32FileFindClose(find), 0);
  EXPECT_EQ(Win32FileFindFirst("*.wav", nullptr), -1);
  EXPECT_NE(Win32FileChangeDir(old.c_str()), 0);
  EXPECT_EQ(Win32FileChangeDir("Q:\\"), 0);
}

TEST(BuildFullPath, NormalisesAsTheTableSays) {
  struct Case {
    const char* path;
    const char* base;
    const char* expected;
  } cases[] = {
      {"..\\data\\.\\a.bmp", "E:\\game\\bin", "E:\\game\\data\\a.bmp"},
      {"\\x\\y", "D:\\w", "D:\\x\\y"},
      {"..\\..", "E:\\a", "E:\\.."},
      {"E:", "D:\\w", "E:"},
      {"E:\\", "D:\\w", "E:"},
      {"E:x\\..\\..\\..\\y", "D:\\w", "E:\\y"},
      {"a/b\\./c/", "Z:\\home\\", "Z:\\home\\a\\b\\c"},
      {"\\\\server\\share\\f.txt", "Z:\\w", "\\\\server\\share\\f.txt"},
      {"//server/share/../f.txt", "Z:\\w", "\\\\server\\f.txt"},
      {"img\\\x95\x5C\\..\\a.bmp", "Z:\\g", "Z:\\g\\img\\a.bmp"},
      {"\x95\x5C\\b.bmp", "Z:\\g", "Z:\\g\\\x95\x5C\\b.bmp"},
      {"..\\x", "Z:\\\x95\x5C", "Z:\\x"},
      {nullptr, "Z:\\base", "Z:\\base"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "(null)");
    char out[260] = "stale";
    EXPECT_EQ(BuildFullPath(c.path, out, c.base), 0);
    EXPECT_STREQ(out, c.expected);
  }
}

TEST(BuildFullPath, RefusesWhatDoesNotFit) {
  std::string longest(239, 'c');
  char out[1024];
  EXPECT_EQ(BuildFullPath(longest.c_str(), out, "Z:\\b", sizeof out), 0);
  EXPECT_EQ(std::string(out), "Z:\\b\\" + longest);
  std::string tooLong(240, 'c');
  EXPECT_EQ(BuildFullPath(tooLong.c_str(), out, "Z:\\b", sizeof out), -1);
  EXPECT_STREQ(out, "");
  std::string deep;
  for (int i = 0; i < 30; ++i) deep += "folder" + std::to_string(i) + "\\";
  EXPECT_EQ(BuildFullPath(deep.c_str(), out, "Z:\\b", 260), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(BuildFullPath(deep.c_str(), out, "Z:\\b", sizeof out), 0);
}

TEST(BuildFullPath, StartsFromTheCurrentDirectory) {
  char current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, current), 0u);
  char out[1024];
  EXPECT_EQ(BuildFullPath("x\\y.bmp", out, nullptr, sizeof out), 0);
  EXPECT_EQ(std::string(out), std::string(current) + "\\x\\y.bmp");
}

TEST_F(Win32FileTest, TempFilesAreNewEmptyAndWritable) {
  setenv("TMPDIR", dir_.c_str(), 1);
  char first[kFilePathBufferSize], second[kFilePathBufferSize];
  HANDLE a = OpenNewTempFile(first);
  HANDLE b = OpenNewTempFile(second);
  unsetenv("TMPDIR");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_STRNE(first, second);
  EXPECT_EQ(std::string(first).rfind(EngineForm(dir_) + "\\tmp", 0), 0u);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(a, "movie", 5, &written, nullptr));
  CloseHandle(a);
  CloseHandle(b);
  FileHandle file = Win32FileOpen(first, 0, 1, 0);
  ASSERT_NE(file, 0);
  char buffer[8] = {};
  EXPECT_EQ(Win32FileRead(buffer, 1, 8, file), 5u);
  EXPECT_STREQ(buffer, "movie");
  Win32FileClose(file);
  EXPECT_TRUE(DeleteFileA(first));
  EXPECT_TRUE(DeleteFileA(second));
}

TEST(FileTimes, ConvertToLocalDateRecords) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  // 2004-02-29 23:59:58 UTC.
  const std::uint64_t ticks = (1078099198ULL + 11644473600ULL) * 10000000ULL;
  WIN32_FIND_DATAA data{};
  data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  data.ftCreationTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  data.ftLastWriteTime = data.ftCreationTime;
  data.nFileSizeHigh = 1;
  data.nFileSizeLow = 2;
  std::strcpy(data.cFileName, "folder");
  FindResultRecord result{};
  FindDataToFindResult(&result, &data);
  EXPECT_STREQ(result.name, "folder");
  EXPECT_EQ(result.directory, 1);
  EXPECT_EQ(result.sizeHigh, 1u);
  EXPECT_EQ(result.sizeLow, 2u);
  const DateRecord expected{2004, 2, 29, 23, 59, 58};
  EXPECT_EQ(std::memcmp(&result.lastWriteTime, &expected, sizeof expected), 0);
  EXPECT_EQ(std::memcmp(&result.creationTime, &expected, sizeof expected), 0);
  if (oldTz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
