// The file function table, the stream tables and memory streams.
#include "files/file_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/win32_file.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

TEST(MemoryStream, ReadsSeeksAndEndsAsTheTableSays) {
  const std::uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  MemoryStreamRecord* record = OpenMemoryStream(data, sizeof data);
  ASSERT_NE(record, nullptr);
  auto handle = reinterpret_cast<std::intptr_t>(record);
  std::uint8_t buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(ReadMemoryStream(buffer, 4, 3, handle), 2u);
  EXPECT_EQ(TellMemoryStream(handle), 8);
  EXPECT_EQ(buffer[7], 7);
  EXPECT_EQ(buffer[8], 0xEE);
  EXPECT_EQ(ReadMemoryStream(buffer, 4, 3, handle), 1u);  // the last two bytes count as one element
  EXPECT_EQ(buffer[0], 8);
  EXPECT_EQ(buffer[1], 9);
  EXPECT_EQ(buffer[2], 2);  // the rest of the element keeps what it held
  EXPECT_EQ(EofMemoryStream(handle), 0);
  EXPECT_EQ(ReadMemoryStream(buffer, 4, 3, handle), 0u);
  EXPECT_EQ(EofMemoryStream(handle), 1);

  EXPECT_EQ(SeekMemoryStream(handle, 3, 0), 0);
  EXPECT_EQ(EofMemoryStream(handle), 0);
  EXPECT_EQ(ReadMemoryStream(buffer, 0, 5, handle), 5u);  // element size 0 copies nothing
  EXPECT_EQ(TellMemoryStream(handle), 3);
  EXPECT_EQ(ReadMemoryStream(buffer, 4, 0, handle), 0u);
  EXPECT_EQ(TellMemoryStream(handle), 3);
  EXPECT_EQ(IdleCheckMemoryStream(handle), 1);
  EXPECT_EQ(CloseMemoryStream(handle), 0);
}

TEST(MemoryStream, SeeksClampToTheData) {
  std::vector<std::uint8_t> data(100, 7);
  const std::vector<std::uint8_t> copy = data;
  auto handle = reinterpret_cast<std::intptr_t>(OpenMemoryStream(data.data(), 100));
  struct Case {
    std::int32_t offset;
    int origin;
    std::int32_t position;
  } cases[] = {{150, 0, 100}, {-5, 0, 0},  {40, 0, 40}, {10, 1, 50},
               {-80, 1, 0},   {-1, 2, 99}, {5, 2, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    SeekMemoryStream(handle, 40, 0);
    EXPECT_EQ(SeekMemoryStream(handle, c.offset, c.origin), 0);
    EXPECT_EQ(TellMemoryStream(handle), c.position);
    EXPECT_EQ(EofMemoryStream(handle), 0);
  }
  // A product of size and count that overflows copies no more than what remains.
  SeekMemoryStream(handle, 96, 0);
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(ReadMemoryStream(buffer, std::size_t{1} << 62, 8, handle), 1u);
  EXPECT_EQ(TellMemoryStream(handle), 100);
  CloseMemoryStream(handle);
  EXPECT_EQ(data, copy);
}

// Every table call made through the stream functions, with its arguments.
std::vector<std::string> calls;
FileHandle FakeOpen(const char* path, int cache, int reserved, int noWait) {
  calls.push_back(std::string("open ") + path + " " + std::to_string(cache) +
                  std::to_string(reserved) + std::to_string(noWait));
  return 77;
}
int FakeClose(FileHandle h) {
  calls.push_back("close " + std::to_string(h));
  return 0;
}
std::int32_t FakeTell(FileHandle h) {
  calls.push_back("tell " + std::to_string(h));
  return 12;
}
int FakeSeek(FileHandle h, std::int32_t o, int w) {
  calls.push_back("seek " + std::to_string(h) + " " + std::to_string(o) + " " + std::to_string(w));
  return 0;
}
std::size_t FakeRead(void*, std::size_t s, std::size_t c, FileHandle h) {
  calls.push_back("read " + std::to_string(s) + " " + std::to_string(c) + " " + std::to_string(h));
  return c;
}
int FakeEof(FileHandle h) {
  calls.push_back("eof " + std::to_string(h));
  return -1;
}
int FakeIdle(FileHandle h) {
  calls.push_back("idle " + std::to_string(h));
  return 1;
}
int FakeChangeDir(const char* p) {
  calls.push_back(std::string("cd ") + p);
  return 5;
}
int FakeGetDir(char* b) {
  std::strcpy(b, "Q:\\fake");
  calls.push_back("getdir");
  return 6;
}
FindHandle FakeFindFirst(const char* p, FindResultRecord*) {
  calls.push_back(std::string("findfirst ") + p);
  return 9;
}
int FakeFindNext(FindHandle f, FindResultRecord*) {
  calls.push_back("findnext " + std::to_string(f));
  return 0;
}
int FakeFindClose(FindHandle f) {
  calls.push_back("findclose " + std::to_string(f));
  return 0;
}
constexpr FileFunctionTable kFakeTable = {FakeOpen,   FakeClose,     FakeTell,     FakeSeek,
                                          FakeRead,   FakeEof,       FakeIdle,     FakeChangeDir,
                                          FakeGetDir, FakeFindFirst, FakeFindNext, FakeFindClose};

class FileTableTest : public ::testing::Test {
 protected:
  void SetUp() override { calls.clear(); }
  void TearDown() override {
    SetNoArchiveSetting(0);
    SelectFileFunctions(nullptr);
  }
};

TEST_F(FileTableTest, CallerTableReplacesAllTwelveSlotsAndStreamsForward) {
  SelectFileFunctions(&kFakeTable);
  char buffer[16];
  EXPECT_EQ(OpenStreamFile("a.bmp", 0, 1, 0), 77);
  StreamOps* ops = GetFileStreamOps();
  EXPECT_EQ(ops->tell(77), 12);
  EXPECT_EQ(ops->seek(77, -3, 2), 0);
  EXPECT_EQ(ops->read(buffer, 4, 2, 77), 2u);
  EXPECT_EQ(ops->eof(77), -1);
  EXPECT_EQ(ops->idleCheck(77), 1);
  EXPECT_EQ(ops->close(77), 0);
  EXPECT_EQ(fileFunctionTable.changeDir("x"), 5);
  EXPECT_EQ(fileFunctionTable.getDir(buffer), 6);
  EXPECT_EQ(fileFunctionTable.findFirst("*.bmp", nullptr), 9);
  EXPECT_EQ(fileFunctionTable.findNext(9, nullptr), 0);
  EXPECT_EQ(fileFunctionTable.findClose(9), 0);
  const std::vector<std::string> expected = {
      "open a.bmp 010", "tell 77", "seek 77 -3 2", "read 4 2 77",     "eof 77",     "idle 77",
      "close 77",       "cd x",    "getdir",       "findfirst *.bmp", "findnext 9", "findclose 9"};
  EXPECT_EQ(calls, expected);
}

TEST_F(FileTableTest, NullSelectsTheArchiveSetOrThePlainSet) {
  SelectFileFunctions(&kFakeTable);
  SelectFileFunctions(nullptr);
  EXPECT_EQ(fileFunctionTable.open, GetArchiveFileFunctions()->open);
  EXPECT_EQ(fileFunctionTable.findClose, GetArchiveFileFunctions()->findClose);
  SetNoArchiveSetting(1);
  SelectFileFunctions(nullptr);
  EXPECT_EQ(fileFunctionTable.open, &Win32FileOpen);
  EXPECT_EQ(fileFunctionTable.getDir, &Win32FileGetDir);
  GetFileStreamOps()->read = nullptr;
  ResetStreamOps();
  EXPECT_EQ(GetFileStreamOps()->read, &ReadStreamFile);
  EXPECT_EQ(GetMemoryStreamOps()->read, &ReadMemoryStream);
}

// The same reads through both stream kinds: they agree except where the design makes them
// differ (a partial last element, and the value of Eof at the end).
TEST_F(FileTableTest, FileAndMemoryStreamsAgreeUnderOneTable) {
  const TempFolder folder("h3stream");
  std::string path = folder.string() + "/ten.bin";
  const char bytes[10] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
  std::ofstream(path, std::ios::binary).write(bytes, 10);
  std::string enginePath = "Z:" + path;

  StreamRecord streams[2];
  streams[0].ops = *GetMemoryStreamOps();
  streams[0].handle = reinterpret_cast<std::intptr_t>(OpenMemoryStream(bytes, 10));
  streams[1].ops = *GetFileStreamOps();
  streams[1].handle = OpenStreamFile(enginePath.c_str(), 0, 1, 0);
  ASSERT_NE(streams[1].handle, 0);
  struct Step {
    int seekOffset, seekOrigin;
    std::size_t size, count;
    std::size_t memoryResult, fileResult;
    int memoryEof, fileEof;
  } steps[] = {
      {0, 0, 4, 2, 2, 2, 0, 0},  {0, 1, 1, 1, 1, 1, 0, 0},  {-2, 2, 1, 5, 2, 2, 0, 0},
      {7, 0, 4, 1, 1, 0, 0, -1}, {-1, 2, 1, 1, 1, 1, 0, 0}, {0, 1, 1, 1, 0, 0, 1, -1},
      {3, 0, 3, 2, 2, 2, 0, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << step.seekOffset << "/" << step.size << "x" << step.count);
    char out[2][16] = {};
    for (int kind = 0; kind < 2; ++kind) {
      StreamRecord& s = streams[kind];
      EXPECT_EQ(s.ops.seek(s.handle, step.seekOffset, step.seekOrigin), 0);
      EXPECT_EQ(s.ops.read(out[kind], step.size, step.count, s.handle),
                kind ? step.fileResult : step.memoryResult);
      EXPECT_EQ(s.ops.eof(s.handle), kind ? step.fileEof : step.memoryEof);
      EXPECT_EQ(s.ops.idleCheck(s.handle), 1);
    }
    if (step.fileResult == step.memoryResult) {
      EXPECT_EQ(std::string(out[0], step.size * step.fileResult),
                std::string(out[1], step.size * step.fileResult));
      EXPECT_EQ(streams[0].ops.tell(streams[0].handle), streams[1].ops.tell(streams[1].handle));
    }
  }
  for (StreamRecord& s : streams) EXPECT_EQ(s.ops.close(s.handle), 0);
}

TEST(MemoryStream, ClosingFreesOnlyTheRecord) {
  int before = GetTrackedBlockCount();
  std::uint8_t data[4] = {1, 2, 3, 4};
  auto handle = reinterpret_cast<std::intptr_t>(OpenMemoryStream(data, 4));
  EXPECT_EQ(GetTrackedBlockCount(), before + 1);
  CloseMemoryStream(handle);
  EXPECT_EQ(GetTrackedBlockCount(), before);
  EXPECT_EQ(data[3], 4);
}

}  // namespace
