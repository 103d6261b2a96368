// The process-wide table of file operations through which the engine reads every file, and the
// two stream tables (file and memory) that the image and sound decoders read through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/date_record.h"

// A file handle of the installed set: 0 is the failed open. Widened to pointer size, since the
// plain set's handles are record addresses.
using FileHandle = std::intptr_t;
// A find handle: -1 when nothing matched.
using FindHandle = std::intptr_t;

// One directory entry as the find operations report it.
struct FindResultRecord {
  char name[260];          // without its folder
  std::int32_t directory;  // 1 for a folder
  std::uint32_t sizeLow;
  std::uint32_t sizeHigh;
  DateRecord creationTime;
  DateRecord lastWriteTime;
};

// Twelve operations, in this order. Read takes the handle last, every other one first. Seek
// origins: 0 start, 1 current position, 2 end.
struct FileFunctionTable {
  FileHandle (*open)(const char* path, int cacheFlag, int reserved, int noWaitFlag);
  int (*close)(FileHandle handle);
  std::int32_t (*tell)(FileHandle handle);
  int (*seek)(FileHandle handle, std::int32_t offset, int origin);
  std::size_t (*read)(void* buffer, std::size_t size, std::size_t count, FileHandle handle);
  int (*eof)(FileHandle handle);
  int (*idleCheck)(FileHandle handle);
  int (*changeDir)(const char* path);
  int (*getDir)(char* buffer);
  FindHandle (*findFirst)(const char* pattern, FindResultRecord* result);
  int (*findNext)(FindHandle find, FindResultRecord* result);
  int (*findClose)(FindHandle find);
};

// Six stream operations over a data handle, in this order.
struct StreamOps {
  std::int32_t (*tell)(std::intptr_t handle);
  int (*seek)(std::intptr_t handle, std::int32_t offset, int origin);
  std::size_t (*read)(void* buffer, std::size_t size, std::size_t count, std::intptr_t handle);
  int (*eof)(std::intptr_t handle);
  int (*idleCheck)(std::intptr_t handle);
  int (*close)(std::intptr_t handle);
};

// What a decoder reads from: a copy of one StreamOps and its data handle. The decoder calls only
// its slots and never closes it; whoever built it does.
struct StreamRecord {
  StreamOps ops;
  std::intptr_t handle;
};

struct MemoryStreamRecord {
  const std::uint8_t* data;  // the caller's; never freed by the stream
  std::int32_t size;
  std::int32_t position;
  std::int32_t endFlag;  // 1 after a Read found no bytes left
};

// The installed table. It holds the archive-aware set from the start of the process.
extern FileFunctionTable fileFunctionTable;

// With a table, copies its twelve slots; with null, installs the archive-aware set, or the plain
// set when the no-archive setting is 1. Returns 0.
int SelectFileFunctions(const FileFunctionTable* table);
// The no-archive setting (0 by default), read by SelectFileFunctions(null).
int SetNoArchiveSetting(int noArchive);
const FileFunctionTable* GetArchiveFileFunctions();
const FileFunctionTable* GetWin32FileFunctions();

FileHandle OpenStreamFile(const char* path, int cacheFlag, int reserved, int noWaitFlag);
int CloseStreamFile(std::intptr_t handle);
std::int32_t TellStreamFile(std::intptr_t handle);
int SeekStreamFile(std::intptr_t handle, std::int32_t offset, int origin);
std::size_t ReadStreamFile(void* buffer, std::size_t size, std::size_t count, std::intptr_t handle);
int EofStreamFile(std::intptr_t handle);
int IdleCheckStreamFile(std::intptr_t handle);

StreamOps* GetFileStreamOps();
StreamOps* GetMemoryStreamOps();
// Writes the six slots of both instances again (the start-up sequence does).
int ResetStreamOps();

// Null when tracked memory is exhausted.
MemoryStreamRecord* OpenMemoryStream(const void* data, std::int32_t size);
std::int32_t TellMemoryStream(std::intptr_t record);
int SeekMemoryStream(std::intptr_t record, std::int32_t offset, int origin);
std::size_t ReadMemoryStream(void* buffer, std::size_t size, std::size_t count,
                             std::intptr_t record);
int EofMemoryStream(std::intptr_t record);
int IdleCheckMemoryStream(std::intptr_t record);
int CloseMemoryStream(std::intptr_t record);
