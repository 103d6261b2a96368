// The archive-aware set of file operations, the default one: a KVA archive named after a folder on
// a path ("IMAGE.KVA" for "image\player.bmp") stands in for that folder. Open archives are kept in
// a use-counted cache shared by all open files; open files live in a table of 512 slots.
#pragma once

#include <cstdint>

#include "files/archive.h"
#include "files/file_table.h"
#include "files/win32_file.h"

constexpr int kArchiveFileSlotCount = 512;
constexpr int kArchiveCacheSlotCount = 512;
constexpr FileHandle kArchiveFileHandleTag = 0xF0000000;

struct ArchiveCacheEntry {
  std::int32_t useCount;  // open files and searches using the archive
  ArchiveRecord archive;
  char path[kFilePathBufferSize];  // upper-cased, absolute
};

struct ArchiveFSFileRecord {
  std::int32_t inArchive;
  FileHandle looseFile;
  std::int32_t cacheIndex;
  ArchiveEntryStream entry;
};

struct ArchiveFSFindRecord {
  std::int32_t inArchive;
  std::int32_t cacheIndex;
  ArchiveFindState* archiveFind;
  FindHandle looseFind;
};

FileHandle ArchiveFSOpen(const char* path, int cacheFlag, int reserved, int noWaitFlag);
int ArchiveFSClose(FileHandle handle);
std::int32_t ArchiveFSTell(FileHandle handle);
int ArchiveFSSeek(FileHandle handle, std::int32_t offset, int origin);
std::size_t ArchiveFSRead(void* buffer, std::size_t size, std::size_t count, FileHandle handle);
int ArchiveFSEof(FileHandle handle);
int ArchiveFSIdleCheck(FileHandle handle);
int ArchiveFSChangeDir(const char* path);
int ArchiveFSGetDir(char* buffer);
FindHandle ArchiveFSFindFirst(const char* pattern, FindResultRecord* result);
int ArchiveFSFindNext(FindHandle find, FindResultRecord* result);
int ArchiveFSFindClose(FindHandle find);

// The absolute, upper-cased form of path, from the current directory. 0, or -1 when it does not
// fit.
int BuildArchiveLookupPath(const char* path, char* out, int outSize = kFilePathBufferSize);
// Finds and opens (one use taken) the archive standing for a folder on the path; the inner path
// is the rest of the path inside it. Both outs hold kFilePathBufferSize bytes.
int FindArchiveForPath(const char* path, int* cacheIndex, char* archivePathOut, char* innerPathOut);
int OpenArchiveCached(int hint, const char* archivePath, int wholeFile, int noWait);
int ReleaseUnusedArchives();
int FlushArchiveCache();

// The cache slot's entry, or null when the slot is free.
const ArchiveCacheEntry* GetArchiveCacheEntry(int index);
