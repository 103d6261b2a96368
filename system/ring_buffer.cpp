// The byte ring of network connections.
#include "system/ring_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "system/log.h"
#include "system/tracked_memory.h"

void NormaliseRingPositions(RingBuffer* ring) {
  if (ring->readPosition == ring->size) ring->readPosition = 0;
  if (ring->writePosition == ring->size) ring->writePosition = 0;
}

int RingBufferReserve(RingBuffer* ring, std::int64_t n) {
  if (n < 0) return -1;
  NormaliseRingPositions(ring);
  if (static_cast<std::int64_t>(ring->size) >= ring->held + n) return 0;
  const std::int64_t newSize = n + static_cast<std::int64_t>(ring->held) * 3 / 2 + 1000;
  char* data = newSize <= std::numeric_limits<std::int32_t>::max()
                   ? static_cast<char*>(TrackedAlloc(newSize, __FILE__, __LINE__))
                   : nullptr;
  if (!data) {
    LogPrintf("受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %lld byte)",
              static_cast<long long>(newSize));
    return -1;
  }
  if (ring->held > 0) {
    const int first = std::min(ring->held, ring->size - ring->readPosition);
    std::memcpy(data, ring->data + ring->readPosition, static_cast<std::size_t>(first));
    std::memcpy(data + first, ring->data, static_cast<std::size_t>(ring->held - first));
  }
  if (ring->data) TrackedFree(ring->data);
  ring->data = data;
  ring->size = static_cast<std::int32_t>(newSize);
  ring->readPosition = 0;
  ring->writePosition = ring->held;
  return 0;
}

int RingBufferWrite(RingBuffer* ring, const void* source, int n) {
  if (n < 0 || RingBufferReserve(ring, n) != 0) return -1;
  const char* bytes = static_cast<const char*>(source);
  while (n > 0) {
    const int piece = std::min(n, RingBufferContiguousFree(ring));
    std::memcpy(ring->data + ring->writePosition, bytes, static_cast<std::size_t>(piece));
    RingBufferCommit(ring, piece);
    bytes += piece;
    n -= piece;
  }
  return 0;
}

int RingBufferRead(RingBuffer* ring, void* destination, int n, int peek) {
  if (n < 0 || n > ring->held) return -1;
  if (n == 0) return 0;
  NormaliseRingPositions(ring);
  const int first = std::min(n, ring->size - ring->readPosition);
  char* out = static_cast<char*>(destination);
  std::memcpy(out, ring->data + ring->readPosition, static_cast<std::size_t>(first));
  std::memcpy(out + first, ring->data, static_cast<std::size_t>(n - first));
  if (!peek) RingBufferSkip(ring, n);
  return 0;
}

int RingBufferSkip(RingBuffer* ring, int n) {
  if (n < 0 || n > ring->held) return -1;
  if (n == 0) return 0;
  NormaliseRingPositions(ring);
  // n <= held <= size: the position passes the end at most once.
  const std::int64_t at = std::int64_t{ring->readPosition} + n;
  ring->readPosition = static_cast<std::int32_t>(at >= ring->size ? at - ring->size : at);
  ring->held -= n;
  return 0;
}

int RingBufferContiguousFree(RingBuffer* ring) {
  NormaliseRingPositions(ring);
  if (ring->held == ring->size) return 0;
  if (ring->writePosition >= ring->readPosition) return ring->size - ring->writePosition;
  return ring->readPosition - ring->writePosition;
}

void RingBufferCommit(RingBuffer* ring, int n) {
  ring->writePosition += n;
  ring->held += n;
  NormaliseRingPositions(ring);
}

int RingBufferContiguousHeld(RingBuffer* ring) {
  NormaliseRingPositions(ring);
  if (ring->held == 0) return 0;
  return std::min(ring->held, ring->size - ring->readPosition);
}

int RingBufferFree(RingBuffer* ring) {
  if (ring->data) TrackedFree(ring->data);
  *ring = RingBuffer{};
  return 0;
}
