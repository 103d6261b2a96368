// Tracked memory: heap blocks with a header each, linked newest first into one list that ends at
// a sentinel, so that damaged headers can be found and leaks reported.
#include "system/tracked_memory.h"

#include <cinttypes>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/win32/kernel.h"
#include "system/log.h"

namespace {

constexpr std::size_t kFieldBytes = offsetof(TrackedBlockHeader, guard);
constexpr std::int64_t kHeaderBytes = sizeof(TrackedBlockHeader);
static_assert(kFieldBytes == sizeof(TrackedBlockHeader::guard));

struct TrackedMemoryState {
  TrackedBlockHeader* head = nullptr;
  TrackedBlockHeader sentinel{};
  std::uint16_t serialCounter = 0;
  // 64-bit: live blocks may add up past 2 GiB.
  std::int64_t totalBytes = 0;
  std::int32_t blockCount = 0;
  // Diagnostic switches, all off in the program.
  int traceAll = 0;
  int logTotals = 0;
  int checkAll = 0;
  int sizeFilter = 0;
  CRITICAL_SECTION section{};
};

TrackedMemoryState tracked;

// Made once for the process, so that two threads that allocate first at once cannot both make it.
class TrackedLock {
 public:
  TrackedLock() {
    static std::once_flag once;
    std::call_once(once, [] { InitializeCriticalSection(&tracked.section); });
    EnterCriticalSection(&tracked.section);
  }
  ~TrackedLock() { LeaveCriticalSection(&tracked.section); }
  TrackedLock(const TrackedLock&) = delete;
  TrackedLock& operator=(const TrackedLock&) = delete;
};

void RefreshGuard(TrackedBlockHeader* header) {
  if (header != nullptr) std::memcpy(header->guard, header, kFieldBytes);
}

bool IsDamaged(const TrackedBlockHeader* header) {
  return std::memcmp(header, header->guard, kFieldBytes) != 0;
}

TrackedBlockHeader* HeaderOf(void* pointer) {
  return reinterpret_cast<TrackedBlockHeader*>(static_cast<char*>(pointer) - kHeaderBytes);
}

void* UserBytesOf(TrackedBlockHeader* header) {
  return reinterpret_cast<char*>(header) + kHeaderBytes;
}

// The caller's file name, or its last 15 characters when it is longer.
void FillFileTail(TrackedBlockHeader* header, const char* file) {
  std::memset(header->file, 0, sizeof(header->file));
  if (file == nullptr) return;
  const std::size_t length = std::strlen(file);
  const std::size_t keep = length < 15 ? length : 15;
  std::memcpy(header->file, file + length - keep, keep);
}

bool IsRefusedSize(std::int64_t size) { return size < 0 || size > INT32_MAX - kHeaderBytes; }

bool IsTraced(std::int32_t size) {
  return tracked.sizeFilter < 0 || tracked.sizeFilter == size || tracked.traceAll == 1;
}

void TraceOperation(const char* label, const TrackedBlockHeader* header) {
  if (IsTraced(header->size)) {
    LogWriteText(label);
    LogTrackedBlock(header);
  }
  if (tracked.logTotals == 1) LogTrackedTotals();
}

}  // namespace

void* TrackedAlloc(std::int64_t size, const char* file, int line) {
  TrackedLock lock;
  if (IsRefusedSize(size)) return nullptr;
  auto* header = static_cast<TrackedBlockHeader*>(
      HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size + kHeaderBytes)));
  if (header == nullptr) {
    DumpTrackedBlocks();
    CheckTrackedBlocks();
    return nullptr;
  }
  std::memset(header, 0, sizeof(TrackedBlockHeader));
  FillFileTail(header, file);
  header->size = static_cast<std::int32_t>(size);
  header->line = static_cast<std::uint16_t>(line);
  header->serialId = tracked.serialCounter++;
  if (tracked.head == nullptr) {
    RefreshGuard(&tracked.sentinel);
    tracked.head = &tracked.sentinel;
  }
  TrackedBlockHeader* oldHead = tracked.head;
  oldHead->previous = header;
  header->next = oldHead;
  header->previous = nullptr;
  tracked.head = header;
  RefreshGuard(header);
  RefreshGuard(oldHead);
  tracked.totalBytes += header->size;
  ++tracked.blockCount;
  TraceOperation("mem alloc  ", header);
  if (tracked.checkAll == 1) CheckTrackedBlocks();
  return UserBytesOf(header);
}

void* TrackedAllocZeroed(std::int64_t size, const char* file, int line) {
  void* pointer = TrackedAlloc(size, file, line);
  if (pointer != nullptr && size != 0) std::memset(pointer, 0, static_cast<std::size_t>(size));
  return pointer;
}

void TrackedFree(void* pointer) {
  if (pointer == nullptr) return;
  TrackedLock lock;
  TrackedBlockHeader* header = HeaderOf(pointer);
  tracked.totalBytes -= header->size;
  --tracked.blockCount;
  if (tracked.checkAll == 1) CheckTrackedBlocks();
  TrackedBlockHeader* next = header->next;
  TrackedBlockHeader* previous = header->previous;
  if (next != nullptr) next->previous = previous;
  if (previous != nullptr) previous->next = next;
  if (tracked.head == header) tracked.head = next;
  RefreshGuard(previous);
  RefreshGuard(next);
  TraceOperation("mem free  ", header);
  HeapFree(GetProcessHeap(), 0, header);
}

void* TrackedRealloc(void* pointer, std::int64_t size, const char* file, int line) {
  if (pointer == nullptr) return TrackedAlloc(size, file, line);
  TrackedLock lock;
  if (IsRefusedSize(size)) return nullptr;
  TrackedBlockHeader* old = HeaderOf(pointer);
  const bool wasHead = tracked.head == old;
  auto* header = static_cast<TrackedBlockHeader*>(HeapReAlloc(
      GetProcessHeap(), HEAP_ZERO_MEMORY, old, static_cast<SIZE_T>(size + kHeaderBytes)));
  if (header == nullptr) {
    DumpTrackedBlocks();
    return nullptr;
  }
  const std::int32_t oldSize = header->size;
  FillFileTail(header, file);
  header->line = static_cast<std::uint16_t>(line);
  header->serialId = tracked.serialCounter++;
  header->size = static_cast<std::int32_t>(size);
  if (header->next != nullptr) header->next->previous = header;
  if (header->previous != nullptr) header->previous->next = header;
  if (wasHead) tracked.head = header;
  tracked.totalBytes = tracked.totalBytes - oldSize + header->size;
  RefreshGuard(header);
  RefreshGuard(header->next);
  RefreshGuard(header->previous);
  TraceOperation("mem realloc  ", header);
  if (tracked.checkAll == 1) CheckTrackedBlocks();
  return UserBytesOf(header);
}

int CheckTrackedBlocks() {
  TrackedLock lock;
  for (TrackedBlockHeader* header = tracked.head; header != nullptr && header != &tracked.sentinel;
       header = header->next) {
    if (IsDamaged(header)) {
      LogWriteText("以下のメモリ確保情報が破損しました");
      LogTrackedBlock(header);
      return -1;
    }
  }
  return 0;
}

int DumpTrackedBlocks() {
  TrackedLock lock;
  LogWriteText("\n");
  LogWriteText("Alloc memory dump\n");
  for (TrackedBlockHeader* header = tracked.head;
       header != nullptr && header != &tracked.sentinel;) {
    LogTrackedBlock(header);
    // A damaged header's own link may be garbage; its guard still holds the link it had.
    TrackedBlockHeader* next = header->next;
    if (IsDamaged(header))
      std::memcpy(&next, header->guard + offsetof(TrackedBlockHeader, next), sizeof(next));
    header = next;
  }
  LogTrackedTotals();
  LogWriteText("\n");
  return 0;
}

int LogTrackedBlock(const TrackedBlockHeader* header) {
  char line[260];
  char file[sizeof(header->file) + 1] = {};
  std::memcpy(file, header->file, sizeof(header->file));
  const auto* data = reinterpret_cast<const unsigned char*>(header) + kHeaderBytes;
  const int shown = header->size < 16 ? (header->size > 0 ? header->size : 0) : 16;
  FormatText(line, sizeof(line),
             "\tsize:%10d(%10.3fkb)  file:%-26s  line:%-5d  ID:%-5d  addr:%08" PRIxPTR "  data:<",
             header->size, static_cast<double>(static_cast<std::uint32_t>(header->size)) / 1024.0,
             file, header->line, header->serialId, reinterpret_cast<std::uintptr_t>(data));
  int length = static_cast<int>(std::strlen(line));
  for (int i = 0; i < shown; ++i)
    line[length++] = (data[i] < 0x20 || data[i] >= 0x80) ? '.' : static_cast<char>(data[i]);
  if (shown == 0) {
    std::memcpy(line + length, "> ]\n", 5);
  } else {
    std::memcpy(line + length, "> [", 3);
    length += 3;
    for (int i = 0; i < shown; ++i) {
      FormatText(line + length, 4, "%02x ", data[i]);
      length += 3;
    }
    std::memcpy(line + length - 1, "]\n", 3);
  }
  return LogWriteText(line);
}

int LogTrackedTotals() {
  TrackedLock lock;
  return LogPrintf("\tTotal size:%lld(%.3fkb)  Alloc num:%d",
                   static_cast<long long>(tracked.totalBytes),
                   static_cast<double>(tracked.totalBytes) / 1024.0, tracked.blockCount);
}

int GetTrackedBlockCount() {
  TrackedLock lock;
  return tracked.blockCount;
}

std::int64_t GetTrackedTotalBytes() {
  TrackedLock lock;
  return tracked.totalBytes;
}
