// The plain set of file operations: read-only files, read directly or through a reader thread
// per file; directories, find, full paths, temporary files and find-data conversion.
#include "files/win32_file.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "system/log.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

HANDLE readerGate = nullptr;

Win32FileRecord* AsRecord(FileHandle handle) { return reinterpret_cast<Win32FileRecord*>(handle); }

void FreeRecord(Win32FileRecord* record) {
  DeleteCriticalSection(&record->lock);
  TrackedFree(record);
}

// A no-wait read that got fewer bytes than it asked for moves the position back to what was
// read and sets the end flag, as a waiting read would have.
void SettlePendingRead(Win32FileRecord* record) {
  if (!record->pendingRead) return;
  record->pendingRead = 0;
  if (record->readByteCount < record->pendingByteCount) {
    record->position = record->position - static_cast<std::int32_t>(record->pendingByteCount) +
                       static_cast<std::int32_t>(record->readByteCount);
    record->endFlag = 1;
  }
}

void WaitUntilIdle(Win32FileRecord* record) {
  WaitForSingleObject(record->idleEvent, INFINITE);
  SettlePendingRead(record);
}

// The caller has waited for idle and written the arguments.
void GiveCommand(Win32FileRecord* record, Win32FileCommand command) {
  record->command = command;
  ResetEvent(record->idleEvent);
  SetEvent(record->commandEvent);
}

void FillCache(Win32FileRecord* record) {
  if (record->cacheValidBytes >= kWin32FileCacheSize) return;
  SetFilePointer(record->threadFile,
                 record->cachePosition + static_cast<std::int32_t>(record->cacheValidBytes),
                 nullptr, FILE_BEGIN);
  DWORD read = 0;
  ReadFile(record->threadFile, record->cache + record->cacheValidBytes,
           kWin32FileCacheSize - record->cacheValidBytes, &read, nullptr);
  record->cacheValidBytes += read;
}

void CarryOutRead(Win32FileRecord* record) {
  if (readerGate) WaitForSingleObject(readerGate, INFINITE);
  std::uint8_t* destination = record->readDestination;
  std::uint32_t wanted = record->readByteCount;
  std::int32_t position = record->readPosition;
  std::uint32_t done = 0;
  if (record->cache && position == record->cachePosition && record->cacheValidBytes > 0) {
    std::uint32_t n = std::min(wanted, record->cacheValidBytes);
    std::memcpy(destination, record->cache, n);
    destination += n;
    position += static_cast<std::int32_t>(n);
    record->cachePosition += static_cast<std::int32_t>(n);
    wanted -= n;
    record->cacheValidBytes -= n;
    std::memmove(record->cache, record->cache + n, record->cacheValidBytes);
    done += n;
  }
  if (wanted > 0) {
    DWORD read = 0;
    if (SetFilePointer(record->threadFile, position, nullptr, FILE_BEGIN) !=
        INVALID_SET_FILE_POINTER)
      ReadFile(record->threadFile, destination, wanted, &read, nullptr);
    done += read;
    if (record->cache) {
      record->cachePosition = position + static_cast<std::int32_t>(read);
      record->cacheValidBytes = 0;
    }
  }
  record->readByteCount = done;
}

void DestroyThreadParts(Win32FileRecord* record) {
  if (record->thread) {
    WaitForSingleObject(record->thread, INFINITE);
    CloseHandle(record->thread);
  }
  if (record->commandEvent) CloseHandle(record->commandEvent);
  if (record->idleEvent) CloseHandle(record->idleEvent);
  TrackedFree(record->cache);
}

// Copies a component-free path prefix, counting bytes against the output's room.
bool Append(std::string& out, const char* text, std::size_t length, std::size_t limit) {
  if (out.size() + length >= limit) return false;
  out.append(text, length);
  return true;
}

// Removes the last component of out: it is cut at the last "\" or "/", or just after a ":" that
// comes later, so ".." never climbs above a drive.
void RemoveLastComponent(std::string& out, int kind) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (IsLeadByteForCodePage(&out[i], kind) && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (out[i] == '\\' || out[i] == '/')
      cut = i;
    else if (out[i] == ':')
      cut = i + 1;
  }
  out.resize(cut);
}

}  // namespace

FileHandle Win32FileOpen(const char* path, int cacheFlag, int, int noWaitFlag) {
  if (!path || std::strlen(path) >= sizeof(Win32FileRecord::fileName)) return 0;
  auto* record = static_cast<Win32FileRecord*>(TrackedAllocZeroed(sizeof(Win32FileRecord)));
  if (!record) return 0;
  InitializeCriticalSection(&record->lock);
  record->cacheFlag = cacheFlag != 0;
  record->noWaitFlag = noWaitFlag != 0;
  record->threaded = record->cacheFlag || record->noWaitFlag;

  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    FreeRecord(record);
    return 0;
  }
  DWORD sizeHigh = 0;
  DWORD size = GetFileSize(file, &sizeHigh);
  // Positions are signed 32-bit: a file of 2 GiB or more cannot be read through them.
  if (sizeHigh != 0 || size > 0x7FFFFFFF) {
    CloseHandle(file);
    FreeRecord(record);
    return 0;
  }
  record->fileSize = size;
  if (!record->threaded) {
    record->file = file;
    return reinterpret_cast<FileHandle>(record);
  }
  CloseHandle(file);

  if (record->cacheFlag) {
    record->cache = static_cast<std::uint8_t*>(TrackedAlloc(kWin32FileCacheSize));
    if (!record->cache) {
      LogWriteText("ファイル読み込みキャッシュ用メモリの確保に失敗しました\n");
      FreeRecord(record);
      return 0;
    }
  }
  record->commandEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  record->idleEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (record->commandEvent && record->idleEvent)
    record->thread = CreateThread(nullptr, 0, Win32FileReaderThread, record, 0, &record->threadId);
  if (!record->thread) {
    DestroyThreadParts(record);
    FreeRecord(record);
    LogWriteText("ファイルアクセス専用スレッドの作成に失敗しました\n");
    return 0;
  }

  std::strcpy(record->fileName, path);
  GiveCommand(record, kWin32FileCommandOpen);
  WaitForSingleObject(record->idleEvent, INFINITE);
  if (record->openFailed) {
    DestroyThreadParts(record);
    FreeRecord(record);
    LogWriteText("ファイルのオープンに失敗しました\n");
    return 0;
  }
  record->position = 0;
  record->endFlag = 0;
  return reinterpret_cast<FileHandle>(record);
}

int Win32FileClose(FileHandle handle) {
  Win32FileRecord* record = AsRecord(handle);
  if (!record) return -1;
  if (record->threaded) {
    WaitUntilIdle(record);
    GiveCommand(record, kWin32FileCommandQuit);
    WaitForSingleObject(record->idleEvent, INFINITE);
    DestroyThreadParts(record);
    FreeRecord(record);
    return 0;
  }
  BOOL closed = CloseHandle(record->file);
  FreeRecord(record);
  return closed ? 0 : -1;
}

std::int32_t Win32FileTell(FileHandle handle) {
  Win32FileRecord* record = AsRecord(handle);
  return record ? record->position : -1;
}

int Win32FileSeek(FileHandle handle, std::int32_t offset, int origin) {
  Win32FileRecord* record = AsRecord(handle);
  if (!record) return -1;
  if (record->threaded) WaitUntilIdle(record);
  std::int64_t position = origin == 1   ? std::int64_t{record->position} + offset
                          : origin == 2 ? std::int64_t{record->fileSize} + offset
                                        : std::int64_t{offset};
  if (position < 0 || position > 0x7FFFFFFF) return -1;
  if (record->threaded) {
    record->seekPosition = static_cast<std::int32_t>(position);
    GiveCommand(record, kWin32FileCommandSeek);
  } else if (SetFilePointer(record->file, static_cast<LONG>(position), nullptr, FILE_BEGIN) ==
             INVALID_SET_FILE_POINTER) {
    return -1;
  }
  record->position = static_cast<std::int32_t>(position);
  record->endFlag = 0;
  return 0;
}

std::size_t Win32FileRead(void* buffer, std::size_t size, std::size_t count, FileHandle handle) {
  Win32FileRecord* record = AsRecord(handle);
  if (!record || size == 0) return 0;
  if (record->threaded) WaitUntilIdle(record);
  // A position at or beyond the end has nothing left to read.
  if (record->position < 0 || static_cast<std::uint32_t>(record->position) >= record->fileSize) {
    record->endFlag = 1;
    return 0;
  }
  std::uint32_t remaining = record->fileSize - static_cast<std::uint32_t>(record->position);
  if (count > remaining / size) {
    count = remaining / size;
    if (count == 0) {
      record->endFlag = 1;
      return 0;
    }
  }
  auto bytes = static_cast<std::uint32_t>(size * count);
  if (record->threaded) {
    record->readDestination = static_cast<std::uint8_t*>(buffer);
    record->readPosition = record->position;
    record->readByteCount = bytes;
    GiveCommand(record, kWin32FileCommandRead);
    if (record->noWaitFlag) {
      record->pendingRead = 1;
      record->pendingByteCount = bytes;
      record->position += static_cast<std::int32_t>(bytes);
      return count;
    }
    WaitForSingleObject(record->idleEvent, INFINITE);
    std::uint32_t read = record->readByteCount;
    record->position += static_cast<std::int32_t>(read);
    if (read < bytes) record->endFlag = 1;
    return read / size;
  }
  DWORD read = 0;
  if (!ReadFile(record->file, buffer, bytes, &read, nullptr)) return 0;
  record->position += static_cast<std::int32_t>(read);
  if (read < bytes) record->endFlag = 1;
  return read / size;
}

int Win32FileEof(FileHandle handle) {
  Win32FileRecord* record = AsRecord(handle);
  if (!record) return -1;
  return record->endFlag ? -1 : 0;
}

int Win32FileIdleCheck(FileHandle handle) {
  Win32FileRecord* record = AsRecord(handle);
  if (!record) return -1;
  if (!record->threaded) return 1;
  if (WaitForSingleObject(record->idleEvent, 0) != WAIT_OBJECT_0) return 0;
  SettlePendingRead(record);
  return 1;
}

DWORD WINAPI Win32FileReaderThread(LPVOID parameter) {
  auto* record = static_cast<Win32FileRecord*>(parameter);
  for (;;) {
    if (!record->cache) {
      WaitForSingleObject(record->commandEvent, INFINITE);
    } else {
      // Between commands the thread reads ahead into the cache while its file is open.
      while (WaitForSingleObject(record->commandEvent, 100) != WAIT_OBJECT_0)
        if (record->threadFile) FillCache(record);
    }
    ResetEvent(record->commandEvent);
    ResetEvent(record->idleEvent);
    switch (record->command) {
      case kWin32FileCommandOpen:
        record->threadFile = CreateFileA(record->fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
        if (record->threadFile == INVALID_HANDLE_VALUE) {
          record->threadFile = nullptr;
          record->openFailed = 1;
          record->threadEnded = 1;
          SetEvent(record->idleEvent);
          return 1;
        }
        break;
      case kWin32FileCommandCloseHandle:
        if (record->threadFile) CloseHandle(record->threadFile);
        record->threadFile = nullptr;
        break;
      case kWin32FileCommandRead: CarryOutRead(record); break;
      case kWin32FileCommandSeek:
        if (record->threadFile)
          SetFilePointer(record->threadFile, record->seekPosition, nullptr, FILE_BEGIN);
        if (record->cache) {
          record->cachePosition = record->seekPosition;
          record->cacheValidBytes = 0;
        }
        break;
      case kWin32FileCommandQuit:
        if (record->threadFile) CloseHandle(record->threadFile);
        record->threadFile = nullptr;
        record->threadEnded = 1;
        SetEvent(record->idleEvent);
        return 1;
      default: break;
    }
    SetEvent(record->idleEvent);
  }
}

int Win32FileChangeDir(const char* path) { return SetCurrentDirectoryA(path); }

int Win32FileGetDir(char* buffer) {
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) {
    // The directory does not fit the caller's 260 bytes: an empty name rather than stale bytes.
    buffer[0] = 0;
    LogWriteText("カレントディレクトリの取得に失敗しました\n");
    return 0;
  }
  return static_cast<int>(length);
}

FindHandle Win32FileFindFirst(const char* pattern, FindResultRecord* result) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return -1;
  if (result) FindDataToFindResult(result, &data);
  return reinterpret_cast<FindHandle>(find);
}

int Win32FileFindNext(FindHandle find, FindResultRecord* result) {
  WIN32_FIND_DATAA data;
  if (find == -1 || !FindNextFileA(reinterpret_cast<HANDLE>(find), &data)) return -1;
  if (result) FindDataToFindResult(result, &data);
  return 0;
}

int Win32FileFindClose(FindHandle find) {
  if (find == -1) return -1;
  return FindClose(reinterpret_cast<HANDLE>(find)) ? 0 : -1;
}

int FindDataToFindResult(FindResultRecord* result, const WIN32_FIND_DATAA* data) {
  CopyStringMax(result->name, data->cFileName, sizeof(result->name) - 1);
  result->directory = (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
  result->sizeLow = data->nFileSizeLow;
  result->sizeHigh = data->nFileSizeHigh;
  ConvertFileTimeToDateRecord(&data->ftCreationTime, &result->creationTime);
  ConvertFileTimeToDateRecord(&data->ftLastWriteTime, &result->lastWriteTime);
  return 0;
}

int ConvertFileTimeToDateRecord(const FILETIME* fileTime, DateRecord* date) {
  FILETIME local;
  SYSTEMTIME system;
  if (!FileTimeToLocalFileTime(fileTime, &local) || !FileTimeToSystemTime(&local, &system)) {
    *date = DateRecord{};
    return -1;
  }
  *date = DateRecord{system.wYear, system.wMonth,  system.wDay,
                     system.wHour, system.wMinute, system.wSecond};
  return 0;
}

int BuildFullPath(const char* path, char* out, const char* base, int outSize) {
  if (!out || outSize <= 0) return -1;
  out[0] = 0;
  const auto limit = static_cast<std::size_t>(outSize);
  char currentDirectory[MAX_PATH] = {};
  if (!base) {
    fileFunctionTable.getDir(currentDirectory);
    base = currentDirectory;
  }
  if (!path) {
    if (std::strlen(base) >= limit) return -1;
    std::strcpy(out, base);
    return 0;
  }
  const int kind = GetCodePageKind();
  auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  std::string result;
  const char* p = path;
  if (isSeparator(p[0]) && p[1] == p[0]) {
    result = "\\";
    p += 2;
  } else if (isSeparator(p[0])) {
    result.assign(base, std::min<std::size_t>(std::strlen(base), 2));
    p += 1;
  } else if (p[0] && p[1] == ':') {
    result.push_back(p[0]);
    result.push_back(p[1]);
    p += 2;
    if (isSeparator(*p)) ++p;
  } else {
    result = base;
    if (!result.empty() && isSeparator(result.back()) &&
        GetByteKindInString(base, static_cast<int>(result.size() - 1), kind) == 0)
      result.pop_back();
  }
  if (result.size() >= limit) return -1;

  constexpr std::size_t kComponentMax = 239;
  std::string component;
  auto apply = [&](bool last) {
    if (component.empty()) return true;
    if (!last && component == ".") return true;
    if (!last && component == "..") {
      RemoveLastComponent(result, kind);
      return true;
    }
    return Append(result, "\\", 1, limit) &&
           Append(result, component.data(), component.size(), limit);
  };
  while (*p) {
    if (isSeparator(*p)) {
      if (!apply(false)) return -1;
      component.clear();
      ++p;
      continue;
    }
    std::size_t length = (IsLeadByteForCodePage(p, kind) && p[1]) ? 2 : 1;
    if (component.size() + length > kComponentMax) return -1;
    component.append(p, length);
    p += length;
  }
  if (!apply(true)) return -1;
  std::memcpy(out, result.c_str(), result.size() + 1);
  return 0;
}

HANDLE OpenNewTempFile(char* pathOut) {
  char folder[256 + 2];
  DWORD length = GetTempPathA(256, folder);
  if (length == 0 || length >= 256) return nullptr;
  if (folder[length - 1] != '\\') std::strcpy(folder + length, "\\");
  char name[MAX_PATH];
  if (GetTempFileNameA(folder, "tmp", 0, name) == 0) return nullptr;
  char full[kFilePathBufferSize];
  if (BuildFullPath(name, full, nullptr, sizeof full) != 0) {
    DeleteFileA(name);
    return nullptr;
  }
  // GetTempFileNameA created the file exclusively; opening that same file, rather than deleting
  // it and creating it again, leaves no moment in which another process could take the name.
  HANDLE file =
      CreateFileA(full, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteFileA(full);
    return nullptr;
  }
  if (pathOut) std::strcpy(pathOut, full);
  return file;
}

void SetWin32FileReaderGate(HANDLE gateEvent) { readerGate = gateEvent; }
