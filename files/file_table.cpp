// The installed file function table, the file and memory stream tables and memory streams.
#include "files/file_table.h"

#include <cstring>

#include "files/archive_file.h"
#include "files/win32_file.h"
#include "system/tracked_memory.h"

namespace {

constexpr FileFunctionTable kWin32Set = {
    Win32FileOpen,   Win32FileClose,     Win32FileTell,      Win32FileSeek,
    Win32FileRead,   Win32FileEof,       Win32FileIdleCheck, Win32FileChangeDir,
    Win32FileGetDir, Win32FileFindFirst, Win32FileFindNext,  Win32FileFindClose,
};

constexpr FileFunctionTable kArchiveSet = {
    ArchiveFSOpen,   ArchiveFSClose,     ArchiveFSTell,      ArchiveFSSeek,
    ArchiveFSRead,   ArchiveFSEof,       ArchiveFSIdleCheck, ArchiveFSChangeDir,
    ArchiveFSGetDir, ArchiveFSFindFirst, ArchiveFSFindNext,  ArchiveFSFindClose,
};

constexpr StreamOps kFileStreamOps = {TellStreamFile, SeekStreamFile,      ReadStreamFile,
                                      EofStreamFile,  IdleCheckStreamFile, CloseStreamFile};
constexpr StreamOps kMemoryStreamOps = {TellMemoryStream, SeekMemoryStream,      ReadMemoryStream,
                                        EofMemoryStream,  IdleCheckMemoryStream, CloseMemoryStream};

StreamOps fileStreamOps = kFileStreamOps;
StreamOps memoryStreamOps = kMemoryStreamOps;
int noArchiveSetting = 0;

MemoryStreamRecord* AsMemoryStream(std::intptr_t handle) {
  return reinterpret_cast<MemoryStreamRecord*>(handle);
}

}  // namespace

FileFunctionTable fileFunctionTable = kArchiveSet;

int SelectFileFunctions(const FileFunctionTable* table) {
  if (table) {
    fileFunctionTable = *table;
  } else {
    fileFunctionTable = noArchiveSetting == 1 ? kWin32Set : kArchiveSet;
  }
  return 0;
}

int SetNoArchiveSetting(int noArchive) {
  noArchiveSetting = noArchive;
  return 0;
}

const FileFunctionTable* GetArchiveFileFunctions() { return &kArchiveSet; }
const FileFunctionTable* GetWin32FileFunctions() { return &kWin32Set; }

FileHandle OpenStreamFile(const char* path, int cacheFlag, int reserved, int noWaitFlag) {
  return fileFunctionTable.open(path, cacheFlag, reserved, noWaitFlag);
}
int CloseStreamFile(std::intptr_t handle) { return fileFunctionTable.close(handle); }
std::int32_t TellStreamFile(std::intptr_t handle) { return fileFunctionTable.tell(handle); }
int SeekStreamFile(std::intptr_t handle, std::int32_t offset, int origin) {
  return fileFunctionTable.seek(handle, offset, origin);
}
std::size_t ReadStreamFile(void* buffer, std::size_t size, std::size_t count,
                           std::intptr_t handle) {
  return fileFunctionTable.read(buffer, size, count, handle);
}
int EofStreamFile(std::intptr_t handle) { return fileFunctionTable.eof(handle); }
int IdleCheckStreamFile(std::intptr_t handle) { return fileFunctionTable.idleCheck(handle); }

StreamOps* GetFileStreamOps() { return &fileStreamOps; }
StreamOps* GetMemoryStreamOps() { return &memoryStreamOps; }

int ResetStreamOps() {
  fileStreamOps = kFileStreamOps;
  memoryStreamOps = kMemoryStreamOps;
  return 0;
}

MemoryStreamRecord* OpenMemoryStream(const void* data, std::int32_t size) {
  auto* record = static_cast<MemoryStreamRecord*>(TrackedAlloc(sizeof(MemoryStreamRecord)));
  if (!record) return nullptr;
  record->data = static_cast<const std::uint8_t*>(data);
  record->size = size < 0 ? 0 : size;
  record->position = 0;
  record->endFlag = 0;
  return record;
}

std::int32_t TellMemoryStream(std::intptr_t handle) { return AsMemoryStream(handle)->position; }

int SeekMemoryStream(std::intptr_t handle, std::int32_t offset, int origin) {
  MemoryStreamRecord* record = AsMemoryStream(handle);
  std::int64_t position = origin == 1   ? std::int64_t{record->position} + offset
                          : origin == 2 ? std::int64_t{record->size} + offset
                                        : std::int64_t{offset};
  if (position > record->size) position = record->size;
  if (position < 0) position = 0;
  record->position = static_cast<std::int32_t>(position);
  record->endFlag = 0;
  return 0;
}

std::size_t ReadMemoryStream(void* buffer, std::size_t size, std::size_t count,
                             std::intptr_t handle) {
  MemoryStreamRecord* record = AsMemoryStream(handle);
  if (record->position >= record->size) {
    record->endFlag = 1;
    return 0;
  }
  if (count == 0) return 0;
  auto remaining = static_cast<std::uint64_t>(record->size - record->position);
  // A product that does not fit 64 bits certainly exceeds what remains.
  bool tooMuch = size != 0 &&
                 (count > remaining / size || static_cast<std::uint64_t>(size) * count > remaining);
  if (tooMuch) count = static_cast<std::size_t>(remaining / size);
  if (count != 0) {
    std::size_t bytes = size * count;
    std::memcpy(buffer, record->data + record->position, bytes);
    record->position += static_cast<std::int32_t>(bytes);
    record->endFlag = 0;
    return count;
  }
  // Fewer bytes than one element remain: they are copied and count as one element.
  std::memcpy(buffer, record->data + record->position, static_cast<std::size_t>(remaining));
  record->position = record->size;
  record->endFlag = 0;
  return 1;
}

int EofMemoryStream(std::intptr_t handle) { return AsMemoryStream(handle)->endFlag; }

int IdleCheckMemoryStream(std::intptr_t) { return 1; }

int CloseMemoryStream(std::intptr_t handle) {
  TrackedFree(AsMemoryStream(handle));
  return 0;
}
