// The process heap over malloc. Each block keeps its size in front, so that a resize with
// HEAP_ZERO_MEMORY can zero exactly the grown part.
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

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

// Committed virtual memory comes zeroed and page-aligned from mmap; VirtualFree with
// MEM_RELEASE needs the size back, so the mapping keeps it in a page of its own in front.
LPVOID VirtualAlloc(LPVOID address, SIZE_T bytes, DWORD allocationType, DWORD protect) {
  if (address != nullptr || bytes == 0 || (allocationType & MEM_COMMIT) == 0 ||
      protect != PAGE_READWRITE)
    return nullptr;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  if (bytes > SIZE_MAX - 2 * page) return nullptr;
  const std::size_t total = page + (bytes + page - 1) / page * page;
  void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  *static_cast<std::size_t*>(mapping) = total;
  return static_cast<BYTE*>(mapping) + page;
}

BOOL VirtualFree(LPVOID address, SIZE_T bytes, DWORD freeType) {
  if (address == nullptr || freeType != MEM_RELEASE || bytes != 0) return FALSE;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  BYTE* mapping = static_cast<BYTE*>(address) - page;
  return munmap(mapping, *reinterpret_cast<std::size_t*>(mapping)) == 0 ? TRUE : FALSE;
}
