// The archive-aware file operations: archive look-up along a path, the cache of open archives, the
// table of open files and the find operations inside archives or on disk.
#include "files/archive_file.h"

#include <cstring>
#include <string>

#include "system/log.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

struct ArchiveFileSystemState {
  ArchiveCacheEntry* cache[kArchiveCacheSlotCount];
  int cacheUsed;
  ArchiveFSFileRecord* files[kArchiveFileSlotCount];
  int fileCount;
  int lastHitIndex = -1;
  int lastHitPrefixLength;
  char lastHitPath[kFilePathBufferSize];
  // Settings this program never changes.
  const char* extension = "KVA";
  const char* keyString = nullptr;
  int useKeyString = 0;
  int looseFileFirst = 0;
};

ArchiveFileSystemState state;

ArchiveFSFileRecord* RecordOf(FileHandle handle) {
  // Only a handle this set gave out: the tag, then a slot in range that holds a file. The failed
  // open's 0 never reaches slot 0.
  if ((handle & ~FileHandle{0x0FFFFFFF}) != kArchiveFileHandleTag) return nullptr;
  const FileHandle slot = handle & 0x0FFFFFFF;
  return slot < kArchiveFileSlotCount ? state.files[slot] : nullptr;
}

void DropArchiveUse(int index) {
  if (index >= 0 && index < kArchiveCacheSlotCount && state.cache[index] &&
      state.cache[index]->useCount > 0)
    --state.cache[index]->useCount;
}

int OpenInArchive(ArchiveFSFileRecord* record, const char* path, int noWait, bool* archiveFound) {
  int index = -1;
  char archivePath[kFilePathBufferSize];
  char inner[kFilePathBufferSize];
  *archiveFound = FindArchiveForPath(path, &index, archivePath, inner) == 0;
  if (!*archiveFound) return -1;
  if (OpenArchiveEntry(&record->entry, &state.cache[index]->archive, inner, noWait) != 0) {
    DropArchiveUse(index);
    return -1;
  }
  record->inArchive = 1;
  record->cacheIndex = index;
  return 0;
}

int OpenLoose(ArchiveFSFileRecord* record, const char* path, int cacheFlag, int noWait) {
  record->looseFile = Win32FileOpen(path, cacheFlag, 1, noWait);
  record->inArchive = 0;
  return record->looseFile ? 0 : -1;
}

}  // namespace

FileHandle ArchiveFSOpen(const char* path, int cacheFlag, int, int noWaitFlag) {
  if (state.fileCount >= kArchiveFileSlotCount) {
    LogWriteText("同時に開けるファイルの数が限界を超えました\n");
    return 0;
  }
  int slot = 0;
  while (slot < kArchiveFileSlotCount && state.files[slot]) ++slot;
  if (slot == kArchiveFileSlotCount) return 0;
  auto* record = static_cast<ArchiveFSFileRecord*>(TrackedAllocZeroed(sizeof(ArchiveFSFileRecord)));
  if (!record) {
    LogWriteText("ファイルの情報を格納するメモリの確保に失敗しました\n");
    return 0;
  }
  bool archiveFound = false;
  int opened;
  if (state.looseFileFirst) {
    opened = OpenLoose(record, path, cacheFlag, noWaitFlag);
    if (opened != 0) opened = OpenInArchive(record, path, noWaitFlag, &archiveFound);
  } else {
    // The archive that stands for a folder must hold the file: the loose file is not tried then.
    opened = OpenInArchive(record, path, noWaitFlag, &archiveFound);
    if (opened != 0 && !archiveFound) opened = OpenLoose(record, path, cacheFlag, noWaitFlag);
  }
  if (opened != 0) {
    TrackedFree(record);
    return 0;
  }
  state.files[slot] = record;
  ++state.fileCount;
  return slot | kArchiveFileHandleTag;
}

int ArchiveFSClose(FileHandle handle) {
  ArchiveFSFileRecord* record = RecordOf(handle);
  if (!record) return -1;
  if (record->inArchive) {
    CloseArchiveEntry(&record->entry);
    DropArchiveUse(record->cacheIndex);
  } else {
    Win32FileClose(record->looseFile);
  }
  TrackedFree(record);
  state.files[handle & 0x0FFFFFFF] = nullptr;
  --state.fileCount;
  return 0;
}

std::int32_t ArchiveFSTell(FileHandle handle) {
  ArchiveFSFileRecord* record = RecordOf(handle);
  if (!record) return -1;
  return record->inArchive ? TellArchiveEntry(&record->entry) : Win32FileTell(record->looseFile);
}

int ArchiveFSSeek(FileHandle handle, std::int32_t offset, int origin) {
  ArchiveFSFileRecord* record = RecordOf(handle);
  if (!record) return -1;
  return record->inArchive ? SeekArchiveEntry(&record->entry, offset, origin)
                           : Win32FileSeek(record->looseFile, offset, origin);
}

std::size_t ArchiveFSRead(void* buffer, std::size_t size, std::size_t count, FileHandle handle) {
  ArchiveFSFileRecord* record = RecordOf(handle);
  if (!record || size == 0) return 0;
  if (!record->inArchive) return Win32FileRead(buffer, size, count, record->looseFile);
  // No entry is larger than 2 GiB, so a larger request is the same as reading to the end.
  const std::uint64_t bytes = count > 0x7FFFFFFF / size ? 0x7FFFFFFF : std::uint64_t{size} * count;
  return ReadArchiveEntry(&record->entry, buffer, static_cast<std::uint32_t>(bytes)) / size;
}

int ArchiveFSEof(FileHandle handle) {
  ArchiveFSFileRecord* record = RecordOf(handle);
  if (!record) return -1;
  return record->inArchive ? EofArchiveEntry(&record->entry) : Win32FileEof(record->looseFile);
}

int ArchiveFSIdleCheck(FileHandle handle) {
  ArchiveFSFileRecord* record = RecordOf(handle);
  if (!record) return -1;
  return record->inArchive ? PollArchiveEntryRead(&record->entry)
                           : Win32FileIdleCheck(record->looseFile);
}

int ArchiveFSChangeDir(const char* path) {
  SetCurrentDirectoryA(path);
  return 0;
}

int ArchiveFSGetDir(char* buffer) {
  const DWORD length = GetCurrentDirectoryA(256, buffer);
  if (length == 0 || length >= 256) buffer[0] = 0;
  return 0;
}

FindHandle ArchiveFSFindFirst(const char* pattern, FindResultRecord* result) {
  auto* record = static_cast<ArchiveFSFindRecord*>(TrackedAllocZeroed(sizeof(ArchiveFSFindRecord)));
  if (!record) return -1;
  int index = -1;
  char archivePath[kFilePathBufferSize];
  char inner[kFilePathBufferSize];
  if (FindArchiveForPath(pattern, &index, archivePath, inner) != 0) {
    record->looseFind = Win32FileFindFirst(pattern, result);
    if (record->looseFind == -1) {
      TrackedFree(record);
      return -1;
    }
    return reinterpret_cast<FindHandle>(record);
  }
  record->inArchive = 1;
  record->cacheIndex = index;
  record->archiveFind = BeginArchiveFind(&state.cache[index]->archive, inner, result);
  if (!record->archiveFind) {
    DropArchiveUse(index);
    TrackedFree(record);
    return -1;
  }
  return reinterpret_cast<FindHandle>(record);
}

int ArchiveFSFindNext(FindHandle find, FindResultRecord* result) {
  if (find == -1 || find == 0) return -1;
  auto* record = reinterpret_cast<ArchiveFSFindRecord*>(find);
  return record->inArchive ? FetchNextArchiveMatch(record->archiveFind, result)
                           : Win32FileFindNext(record->looseFind, result);
}

int ArchiveFSFindClose(FindHandle find) {
  if (find == -1 || find == 0) return -1;
  auto* record = reinterpret_cast<ArchiveFSFindRecord*>(find);
  if (record->inArchive) {
    EndArchiveFind(record->archiveFind);
    DropArchiveUse(record->cacheIndex);
  } else {
    Win32FileFindClose(record->looseFind);
  }
  TrackedFree(record);
  return 0;
}

int BuildArchiveLookupPath(const char* path, char* out, int outSize) {
  char base[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, base);
  if (length == 0 || length >= MAX_PATH) base[0] = 0;
  UpperCaseString(base);
  if (BuildFullPath(path, out, base, outSize) != 0) return -1;
  UpperCaseString(out);
  return 0;
}

int FindArchiveForPath(const char* path, int* cacheIndex, char* archivePathOut,
                       char* innerPathOut) {
  char lookup[kFilePathBufferSize];
  if (!path || BuildArchiveLookupPath(path, lookup, sizeof lookup) != 0) return -1;
  const std::size_t lookupLength = std::strlen(lookup);
  const std::string suffix = std::string(".") + state.extension;
  auto give = [&](int index, std::size_t prefixLength, const char* archivePath) {
    *cacheIndex = index;
    if (archivePathOut) std::strcpy(archivePathOut, archivePath);
    if (innerPathOut) std::strcpy(innerPathOut, lookup + prefixLength + 1);
    return 0;
  };

  if (state.lastHitIndex >= 0) {
    const auto prefixLength = static_cast<std::size_t>(state.lastHitPrefixLength);
    if (lookupLength > prefixLength + 1 &&
        std::strncmp(lookup, state.lastHitPath, prefixLength) == 0 &&
        (lookup[prefixLength] == '\\' || lookup[prefixLength] == '/')) {
      const int index = OpenArchiveCached(state.lastHitIndex, state.lastHitPath, 0, 0);
      return index < 0 ? -1 : give(index, prefixLength, state.lastHitPath);
    }
  }

  const int kind = GetCodePageKind();
  std::size_t position = 0;
  if (lookup[0] == '\\' && lookup[1] == '\\')
    position = 2;  // a network path keeps its two backslashes
  for (;;) {
    std::size_t end = position;
    while (lookup[end] && lookup[end] != '\\')
      end += (IsLeadByteForCodePage(lookup + end, kind) && lookup[end + 1]) ? 2 : 1;
    // The file name itself, or an empty component, ends the walk.
    if (lookup[end] == 0 || end == position) return -1;
    const std::string archivePath = std::string(lookup, end) + suffix;
    if (archivePath.size() < kFilePathBufferSize) {
      const int index = OpenArchiveCached(-1, archivePath.c_str(), 0, 0);
      if (index >= 0) {
        state.lastHitIndex = index;
        state.lastHitPrefixLength = static_cast<int>(end);
        std::strcpy(state.lastHitPath, archivePath.c_str());
        return give(index, end, archivePath.c_str());
      }
    }
    position = end + 1;
  }
}

int OpenArchiveCached(int hint, const char* archivePath, int wholeFile, int noWait) {
  if (hint >= 0 && hint < kArchiveCacheSlotCount && state.cache[hint] &&
      lstrcmpA(state.cache[hint]->path, archivePath) == 0) {
    ++state.cache[hint]->useCount;
    return hint;
  }
  int freeSlot = -1;
  for (int i = 0; i < kArchiveCacheSlotCount; ++i) {
    if (!state.cache[i]) {
      if (freeSlot < 0) freeSlot = i;
    } else if (lstrcmpA(state.cache[i]->path, archivePath) == 0) {
      ++state.cache[i]->useCount;
      return i;
    }
  }
  if (freeSlot < 0) {
    ReleaseUnusedArchives();
    for (int i = 0; i < kArchiveCacheSlotCount && freeSlot < 0; ++i)
      if (!state.cache[i]) freeSlot = i;
    if (freeSlot < 0) return -1;
  }
  if (std::strlen(archivePath) >= kFilePathBufferSize) return -1;
  auto* entry = static_cast<ArchiveCacheEntry*>(TrackedAllocZeroed(sizeof(ArchiveCacheEntry)));
  if (!entry) return -1;
  const char* key = state.useKeyString == 1 ? state.keyString : nullptr;
  const int opened = wholeFile ? LoadArchiveImageFromFile(&entry->archive, archivePath, key, noWait)
                               : OpenArchiveStreamed(&entry->archive, archivePath, key);
  if (opened != 0) {
    TrackedFree(entry);
    return -1;
  }
  entry->useCount = 1;
  std::strcpy(entry->path, archivePath);
  state.cache[freeSlot] = entry;
  ++state.cacheUsed;
  return freeSlot;
}

int ReleaseUnusedArchives() {
  for (int i = 0; i < kArchiveCacheSlotCount; ++i) {
    ArchiveCacheEntry* entry = state.cache[i];
    if (!entry || entry->useCount > 0) continue;
    ReleaseArchiveRecord(&entry->archive);
    TrackedFree(entry);
    state.cache[i] = nullptr;
    --state.cacheUsed;
    if (state.lastHitIndex == i) state.lastHitIndex = -1;
  }
  return 0;
}

int FlushArchiveCache() {
  ReleaseUnusedArchives();
  return 0;
}

const ArchiveCacheEntry* GetArchiveCacheEntry(int index) {
  return index >= 0 && index < kArchiveCacheSlotCount ? state.cache[index] : nullptr;
}
