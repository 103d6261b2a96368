// The engine's contact with the file system: the plain set of file operations (read-only files,
// with an optional reader thread per file and a 128 KB read-ahead cache), the directory and find
// operations, full-path building, temporary files and find-data conversion.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/file_table.h"
#include "platform/win32/file.h"
#include "platform/win32/kernel.h"

// Longest path the file layer keeps, terminator included.
constexpr int kFilePathBufferSize = 1024;
constexpr std::uint32_t kWin32FileCacheSize = 0x20000;

enum Win32FileCommand : std::int32_t {
  kWin32FileCommandOpen = 0,
  kWin32FileCommandCloseHandle = 1,
  kWin32FileCommandRead = 2,
  kWin32FileCommandSeek = 3,
  kWin32FileCommandQuit = 4,
};

struct Win32FileRecord {
  HANDLE file;  // when not threaded
  std::int32_t threaded;
  std::int32_t cacheFlag;
  std::int32_t noWaitFlag;
  std::int32_t endFlag;
  std::int32_t position;
  std::uint32_t fileSize;
  DWORD threadId;
  HANDLE thread;
  HANDLE threadFile;    // the reader thread's own handle
  HANDLE commandEvent;  // manual reset, created not signalled
  HANDLE idleEvent;     // manual reset, created signalled
  std::int32_t command;
  std::int32_t threadEnded;
  std::int32_t openFailed;
  char fileName[kFilePathBufferSize];
  std::uint8_t* readDestination;
  std::int32_t readPosition;
  std::uint32_t readByteCount;  // the thread writes the bytes read back into it
  std::int32_t seekPosition;
  std::uint8_t* cache;
  std::int32_t cachePosition;
  std::uint32_t cacheValidBytes;
  // A read handed over without waiting, settled once the thread is idle again.
  std::int32_t pendingRead;
  std::uint32_t pendingByteCount;
  // Serialises the users of one record: several archive entries share their archive's record.
  CRITICAL_SECTION lock;
};

FileHandle Win32FileOpen(const char* path, int cacheFlag, int reserved, int noWaitFlag);
int Win32FileClose(FileHandle record);
std::int32_t Win32FileTell(FileHandle record);
int Win32FileSeek(FileHandle record, std::int32_t offset, int origin);
std::size_t Win32FileRead(void* buffer, std::size_t size, std::size_t count, FileHandle record);
int Win32FileEof(FileHandle record);
int Win32FileIdleCheck(FileHandle record);
int Win32FileChangeDir(const char* path);
int Win32FileGetDir(char* buffer);
FindHandle Win32FileFindFirst(const char* pattern, FindResultRecord* result);
int Win32FileFindNext(FindHandle find, FindResultRecord* result);
int Win32FileFindClose(FindHandle find);
DWORD WINAPI Win32FileReaderThread(LPVOID record);

int FindDataToFindResult(FindResultRecord* result, const WIN32_FIND_DATAA* data);
int ConvertFileTimeToDateRecord(const FILETIME* fileTime, DateRecord* date);

// Writes the normalised absolute form of path ("\" separators, no trailing separator) into out,
// which holds outSize bytes. Relative paths start from base, or from the current directory when
// base is null. 0, or -1 (out empty) when the result or a component does not fit.
int BuildFullPath(const char* path, char* out, const char* base, int outSize = 260);

// An empty file in the temporary folder, open for writing, or null; its full path goes to
// pathOut (kFilePathBufferSize bytes) when given.
HANDLE OpenNewTempFile(char* pathOut);

// Test seam: while set, the reader threads wait for this event before they carry out a read.
void SetWin32FileReaderGate(HANDLE gateEvent);
