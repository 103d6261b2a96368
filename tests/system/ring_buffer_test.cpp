// The byte ring of network connections: growth sizes, order across the wrap, peeking, and a
// failed growth that keeps what the ring holds.
#include "system/ring_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "system/tracked_memory.h"

namespace {

// A ring of `size` bytes whose `held` bytes ('a', 'b', ...) start at `read`.
RingBuffer MakeRing(int size, int read, int held) {
  RingBuffer ring{};
  ring.data = static_cast<char*>(TrackedAlloc(size));
  ring.size = size;
  ring.readPosition = ring.writePosition = read;
  for (int i = 0; i < held; ++i) {
    char c = static_cast<char>('a' + i);
    EXPECT_EQ(RingBufferWrite(&ring, &c, 1), 0);
  }
  return ring;
}

TEST(RingBufferTest, GrowthMakesRoomForTheNewBytesAndHalfAgainOfTheHeldOnes) {
  RingBuffer ring = MakeRing(16, 10, 10);  // held bytes wrap past the end
  ASSERT_EQ(RingBufferReserve(&ring, 100), 0);
  EXPECT_EQ(ring.size, 100 + 15 + 1000);
  EXPECT_EQ(ring.readPosition, 0);
  EXPECT_EQ(ring.writePosition, 10);
  char out[10];
  ASSERT_EQ(RingBufferRead(&ring, out, 10, 0), 0);
  EXPECT_EQ(std::string(out, 10), "abcdefghij");
  RingBufferFree(&ring);
  EXPECT_EQ(ring.data, nullptr);
}

TEST(RingBufferTest, ReadsAcrossTheEndInOrderAndPeekLeavesThePositions) {
  RingBuffer ring{};
  ring.data = new char[16];
  ring.size = 16;
  std::memcpy(ring.data, "IJKL....ABCDEFGH", 16);
  ring.readPosition = 12;
  ring.writePosition = 4;
  ring.held = 8;
  char out[8];
  ASSERT_EQ(RingBufferRead(&ring, out, 8, 1), 0);
  EXPECT_EQ(std::string(out, 8), "EFGHIJKL");
  EXPECT_EQ(ring.readPosition, 12);
  EXPECT_EQ(ring.held, 8);
  EXPECT_EQ(RingBufferRead(&ring, out, 9, 0), -1);
  EXPECT_EQ(RingBufferRead(&ring, out, -1, 0), -1);
  EXPECT_EQ(RingBufferRead(&ring, nullptr, 0, 0), 0);
  ASSERT_EQ(RingBufferRead(&ring, out, 8, 0), 0);
  EXPECT_EQ(ring.held, 0);
  EXPECT_EQ(ring.readPosition, 4);
  // A position equal to the size means 0.
  ring.readPosition = ring.writePosition = 16;
  NormaliseRingPositions(&ring);
  EXPECT_EQ(ring.readPosition, 0);
  EXPECT_EQ(ring.writePosition, 0);
  delete[] ring.data;
}

TEST(RingBufferTest, AGrowthThatCannotBeMadeKeepsTheHeldBytes) {
  RingBuffer ring = MakeRing(16, 12, 6);
  const char* before = ring.data;
  EXPECT_EQ(RingBufferReserve(&ring, 0x7FFFFFFF), -1);  // past the 32-bit range
  EXPECT_EQ(RingBufferReserve(&ring, -1), -1);
  EXPECT_EQ(ring.data, before);
  EXPECT_EQ(ring.held, 6);
  char out[6];
  ASSERT_EQ(RingBufferRead(&ring, out, 6, 0), 0);
  EXPECT_EQ(std::string(out, 6), "abcdef");
  RingBufferFree(&ring);
}

}  // namespace
