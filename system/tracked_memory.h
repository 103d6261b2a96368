// Tracked memory: every block of the engine's own records and buffers carries a header that links
// it into one list, so that damage to a header can be found and the blocks still allocated can be
// reported (the leak report). Any thread may call these.
#pragma once

#include <cstdint>

// The header in front of every block. The pointers are 64-bit here, so the header is larger than
// the 64 bytes a 32-bit build has; the guard is a copy of the fields, refreshed whenever they
// change.
struct TrackedBlockHeader {
  char file[16];           // tail of the caller's file name, zero-terminated
  std::uint16_t serialId;  // serial counter when allocated or last resized
  std::uint16_t line;
  std::int32_t size;             // user bytes
  TrackedBlockHeader* next;      // next older block (the sentinel after the oldest)
  TrackedBlockHeader* previous;  // next newer block (null in the newest)
  unsigned char guard[40];
  unsigned char padding[16];
};
static_assert(sizeof(TrackedBlockHeader) == 96);

// Null for a size below 0 or too large to carry a header, and when the heap is out of memory (the
// report and the check are written then). A file name of null counts as empty.
void* TrackedAlloc(std::int64_t size, const char* file = nullptr, int line = 0);
void* TrackedAllocZeroed(std::int64_t size, const char* file = nullptr, int line = 0);
void TrackedFree(void* pointer);
// Null: the old block stays valid. The new bytes are zero.
void* TrackedRealloc(void* pointer, std::int64_t size, const char* file = nullptr, int line = 0);
// 0, or -1 after reporting the first damaged header.
int CheckTrackedBlocks();
// Writes the leak report to the log.
int DumpTrackedBlocks();
int LogTrackedBlock(const TrackedBlockHeader* header);
int LogTrackedTotals();

int GetTrackedBlockCount();
std::int64_t GetTrackedTotalBytes();
