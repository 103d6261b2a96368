// The process heap over malloc. Each block keeps its size in front, so that a resize with
// HEAP_ZERO_MEMORY can zero exactly the grown part.
#include <cstdlib>
#include <cstring>

#include "platform/win32/kernel.h"

namespace {

constexpr std::size_t kBlockPrefix = 16;  // keeps the user bytes 16-byte aligned
int processHeap;

std::size_t& StoredSize(void* block) { return *static_cast<std::size_t*>(block); }

}  // namespace

HANDLE GetProcessHeap() { return &processHeap; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap == nullptr || bytes > SIZE_MAX / 2 - kBlockPrefix) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, kBlockPrefix + bytes)
                                           : std::malloc(kBlockPrefix + bytes);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  StoredSize(block) = bytes;
  return static_cast<char*>(block) + kBlockPrefix;
}

LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, SIZE_T bytes) {
  if (heap == nullptr || memory == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes > SIZE_MAX / 2 - kBlockPrefix) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* block = static_cast<char*>(memory) - kBlockPrefix;
  const std::size_t oldSize = StoredSize(block);
  void* moved = std::realloc(block, kBlockPrefix + bytes);
  if (moved == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  StoredSize(moved) = bytes;
  char* user = static_cast<char*>(moved) + kBlockPrefix;
  if ((flags & HEAP_ZERO_MEMORY) && bytes > oldSize)
    std::memset(user + oldSize, 0, bytes - oldSize);
  return user;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID memory) {
  if (heap == nullptr) return FALSE;
  if (memory != nullptr) std::free(static_cast<char*>(memory) - kBlockPrefix);
  return TRUE;
}
