// Tracked memory: the block list, the leak report byte for byte, damage found in a header, sizes
// that cannot carry a header, and use from several threads.
#include "system/tracked_memory.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "log_fixture.h"

namespace {

using TrackedMemory = LogFixture;

int SerialOf(void* pointer) {
  return reinterpret_cast<TrackedBlockHeader*>(static_cast<char*>(pointer) -
                                               sizeof(TrackedBlockHeader))
      ->serialId;
}

// The addresses differ from run to run: each "addr:" and its hex digits become "addr:X".
std::string WithoutAddresses(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t found = text.find("addr:", at);
    if (found == std::string::npos) {
      out += text.substr(at);
      break;
    }
    out += text.substr(at, found - at) + "addr:X";
    at = found + 5;
    while (at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]))) ++at;
  }
  return out;
}

std::string PaddedId(int id) {
  char text[8];
  std::snprintf(text, sizeof(text), "%-5d", id);
  return text;
}

TEST_F(TrackedMemory, LeakReportListsLiveBlocksNewestFirstWithTotals) {
  ASSERT_EQ(GetTrackedBlockCount(), 0);
  auto* first = static_cast<unsigned char*>(TrackedAlloc(3, "a.cpp", 10));
  void* second = TrackedAlloc(5);
  auto* third = static_cast<char*>(TrackedAlloc(20, "abcdefghijklmnopqrst.cpp", 70000));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(third, nullptr);
  first[0] = 0x41;
  first[1] = 0x42;
  first[2] = 0x0A;
  std::memcpy(third,
              "0123456789\x7f\x80\x1f"
              "defghij",
              20);
  const int id = SerialOf(first);
  EXPECT_EQ(SerialOf(third), static_cast<std::uint16_t>(id + 2));
  TrackedFree(second);
  EXPECT_EQ(GetTrackedBlockCount(), 2);
  EXPECT_EQ(GetTrackedTotalBytes(), 23);
  DumpTrackedBlocks();
  const std::string expected =
      "0:\r\n"
      "0:Alloc memory dump\r\n"
      "0:\tsize:        20(     0.020kb)  file:jklmnopqrst.cpp             line:4464   ID:" +
      PaddedId(id + 2) +
      "  addr:X  data:<0123456789\x7f..def> [30 31 32 33 34 35 36 37 38 39 7f 80 1f 64 65 66]\r\n"
      "0:\tsize:         3(     0.003kb)  file:a.cpp                       line:10     ID:" +
      PaddedId(id) +
      "  addr:X  data:<AB.> [41 42 0a]\r\n"
      "0:\tTotal size:23(0.022kb)  Alloc num:2\r\n"
      "0:\r\n";
  EXPECT_EQ(WithoutAddresses(ReadLog()), expected);
  TrackedFree(first);
  TrackedFree(third);
  EXPECT_EQ(GetTrackedBlockCount(), 0);
  EXPECT_EQ(GetTrackedTotalBytes(), 0);
}

TEST_F(TrackedMemory, ZeroByteBlocksAreDistinctCountedAndTracedWithEmptyData) {
  void* a = TrackedAlloc(0);
  void* b = TrackedAlloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(GetTrackedBlockCount(), 2);
  // With the size filter at 0, every allocation of 0 bytes is traced.
  const std::string log = WithoutAddresses(ReadLog());
  EXPECT_NE(
      log.find(
          "0:mem alloc  \tsize:         0(     0.000kb)  file:                            line:0 "),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("data:<> ]\r\n"), std::string::npos) << log;
  TrackedFree(a);
  TrackedFree(b);
  EXPECT_NE(ReadLog().find("0:mem free  \tsize:"), std::string::npos);
}

TEST_F(TrackedMemory, NullFreeIsNothingAndResizeKeepsBytesAndZeroesTheNewOnes) {
  TrackedFree(nullptr);
  auto* bytes = static_cast<unsigned char*>(TrackedRealloc(nullptr, 4));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(GetTrackedBlockCount(), 1);
  std::memset(bytes, 0x5A, 4);
  void* other = TrackedAllocZeroed(8);
  bytes = static_cast<unsigned char*>(TrackedRealloc(bytes, 4000));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(bytes[i], 0x5A);
  for (int i = 4; i < 4000; ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(GetTrackedBlockCount(), 2);
  EXPECT_EQ(GetTrackedTotalBytes(), 4008);
  EXPECT_EQ(CheckTrackedBlocks(), 0);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(static_cast<unsigned char*>(other)[i], 0);
  TrackedFree(other);
  EXPECT_EQ(CheckTrackedBlocks(), 0);
  TrackedFree(bytes);
  EXPECT_EQ(GetTrackedBlockCount(), 0);
}

TEST_F(TrackedMemory, SizesThatCannotCarryAHeaderAreRefused) {
  const std::int64_t refused[] = {
      -1, INT_MIN, INT_MAX, INT_MAX - 10, std::int64_t{1} << 40, -(std::int64_t{1} << 40)};
  for (std::int64_t size : refused) {
    SCOPED_TRACE(size);
    EXPECT_EQ(TrackedAlloc(size), nullptr);
    EXPECT_EQ(TrackedAllocZeroed(size), nullptr);
  }
  void* block = TrackedAlloc(16);
  EXPECT_EQ(TrackedRealloc(block, -5), nullptr);
  EXPECT_EQ(GetTrackedBlockCount(), 1);
  EXPECT_EQ(GetTrackedTotalBytes(), 16);
  TrackedFree(block);
}

TEST_F(TrackedMemory, ADamagedHeaderIsReportedAndTheLockIsFreeAfterwards) {
  void* older = TrackedAlloc(8);
  auto* damaged = static_cast<char*>(TrackedAlloc(4, "x.cpp", 3));
  void* newer = TrackedAlloc(8);
  const std::string before = ReadLog();
  auto* header = reinterpret_cast<TrackedBlockHeader*>(damaged - sizeof(TrackedBlockHeader));
  const TrackedBlockHeader saved = *header;
  std::memset(header->file, 'Z', 16);
  EXPECT_EQ(CheckTrackedBlocks(), -1);
  const std::string report = ReadLog().substr(before.size());
  EXPECT_EQ(
      report.rfind(
          "0:"
          "\x88\xc8\x89\xba\x82\xcc\x83\x81\x83\x82\x83\x8a\x8a\x6d\x95\xdb\x8f\xee\x95\xf1\x82\xaa"
          "\x94\x6a\x91\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\tsize:         4",
          0),
      0u)
      << report;
  EXPECT_NE(report.find("file:ZZZZZZZZZZZZZZZZ"), std::string::npos);
  // Another thread can still allocate: the check left the lock.
  std::thread other([] { TrackedFree(TrackedAlloc(1)); });
  other.join();
  // The leak report walks past the damaged header on its guard's link.
  DumpTrackedBlocks();
  EXPECT_NE(ReadLog().find("Alloc num:3"), std::string::npos);
  *header = saved;
  EXPECT_EQ(CheckTrackedBlocks(), 0);
  TrackedFree(older);
  TrackedFree(damaged);
  TrackedFree(newer);
}

TEST_F(TrackedMemory, ThreadsAllocateResizeAndFreeTogether) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::vector<void*> blocks;
      for (int i = 0; i < 300; ++i) {
        blocks.push_back(TrackedAlloc(1 + (i * 7 + t) % 100));
        if (i % 3 == 0) blocks.back() = TrackedRealloc(blocks.back(), 200);
        if (i % 5 == 4) {
          TrackedFree(blocks.front());
          blocks.erase(blocks.begin());
        }
      }
      for (void* block : blocks) TrackedFree(block);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(GetTrackedBlockCount(), 0);
  EXPECT_EQ(GetTrackedTotalBytes(), 0);
  EXPECT_EQ(CheckTrackedBlocks(), 0);
}

}  // namespace
