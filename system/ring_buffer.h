// A growable ring of bytes in tracked memory: what a network connection receives and has still
// to send. The ring's storage is only ever replaced by a larger copy, so a failed growth leaves
// the bytes already held where they were.
#pragma once

#include <cstdint>

struct RingBuffer {
  char* data;
  std::int32_t readPosition;
  std::int32_t writePosition;
  std::int32_t held;
  std::int32_t size;
};

// A read or write position equal to the size means 0.
void NormaliseRingPositions(RingBuffer* ring);
// Makes room for n more bytes: nothing when the size already holds held + n; else new storage of
// n + held * 3 / 2 + 1000 bytes with the held bytes at its start. -1 (ring unchanged, logged) when
// that size passes the 32-bit range or cannot be allocated, and for n < 0.
int RingBufferReserve(RingBuffer* ring, std::int64_t n);
// Copies n bytes in behind the held ones, growing the ring as needed; -1 when it cannot grow.
int RingBufferWrite(RingBuffer* ring, const void* source, int n);
// Copies n bytes from the read position (peek 0 also consumes them). -1 when fewer are held or n
// is negative; n = 0 does nothing.
int RingBufferRead(RingBuffer* ring, void* destination, int n, int peek);
// Drops n held bytes without copying them; -1 when fewer are held.
int RingBufferSkip(RingBuffer* ring, int n);
// The free bytes from the write position up to the storage's end or the read position: where a
// receive can write in place. RingBufferCommit then counts what was written there.
int RingBufferContiguousFree(RingBuffer* ring);
void RingBufferCommit(RingBuffer* ring, int n);
// The held bytes from the read position up to the storage's end or the write position.
int RingBufferContiguousHeld(RingBuffer* ring);
int RingBufferFree(RingBuffer* ring);
