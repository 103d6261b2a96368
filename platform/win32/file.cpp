// The kernel's file, directory, find, temporary-file and file-time calls over POSIX.
#include "platform/win32/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/win32/file_path.h"

namespace {

struct FileObject {
  KernelObjectHeader header;
  int fd;
};

struct FindObject {
  KernelObjectHeader header;
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next;
};

BOOL CloseFileObject(KernelObjectHeader* object) {
  auto* file = reinterpret_cast<FileObject*>(object);
  int result = close(file->fd);
  delete file;
  return result == 0 ? TRUE : FALSE;
}

BOOL CloseFindObject(KernelObjectHeader* object) {
  delete reinterpret_cast<FindObject*>(object);
  return TRUE;
}

FileObject* AsFile(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* header = static_cast<KernelObjectHeader*>(handle);
  return header->close == CloseFileObject ? reinterpret_cast<FileObject*>(header) : nullptr;
}

FindObject* AsFind(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* header = static_cast<KernelObjectHeader*>(handle);
  return header->close == CloseFindObject ? reinterpret_cast<FindObject*>(header) : nullptr;
}

constexpr std::int64_t kFileTimeUnixOffset = 11644473600LL;  // seconds from 1601 to 1970
constexpr std::int64_t kTicksPerSecond = 10000000LL;

FILETIME MakeFileTime(std::int64_t ticks) {
  auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFF), static_cast<DWORD>(value >> 32)};
}

std::int64_t FileTimeTicks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

FILETIME TimespecToFileTime(const timespec& ts) {
  return MakeFileTime((static_cast<std::int64_t>(ts.tv_sec) + kFileTimeUnixOffset) *
                          kTicksPerSecond +
                      ts.tv_nsec / 100);
}

bool FillFindData(const std::string& posixPath, const char* ansiName, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  if (std::strlen(ansiName) >= MAX_PATH) return false;
  struct statx sx;
  if (statx(AT_FDCWD, posixPath.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;
  bool directory = S_ISDIR(sx.stx_mode);
  data.dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(sx.stx_mode & S_IWUSR)) data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  auto toTimespec = [](const statx_timestamp& t) {
    return timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)};
  };
  data.ftLastWriteTime = TimespecToFileTime(toTimespec(sx.stx_mtime));
  data.ftLastAccessTime = TimespecToFileTime(toTimespec(sx.stx_atime));
  // File systems without a birth time give the last write time as the creation time.
  data.ftCreationTime = (sx.stx_mask & STATX_BTIME) ? TimespecToFileTime(toTimespec(sx.stx_btime))
                                                    : data.ftLastWriteTime;
  std::uint64_t size = directory ? 0 : sx.stx_size;
  data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
  data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  std::strcpy(data.cFileName, ansiName);
  return true;
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD, HANDLE) {
  std::string path;
  if (!ResolveEnginePath(fileName, path)) return INVALID_HANDLE_VALUE;
  bool read = desiredAccess & GENERIC_READ;
  bool write = desiredAccess & GENERIC_WRITE;
  int flags = O_CLOEXEC;
  flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    default: return INVALID_HANDLE_VALUE;
  }
  int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return new FileObject{{CloseFileObject}, fd};
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  FileObject* file = AsFile(handle);
  if (read) *read = 0;
  if (!file || (toRead && !buffer)) return FALSE;
  DWORD total = 0;
  auto* bytes = static_cast<char*>(buffer);
  while (total < toRead) {
    ssize_t n = ::read(file->fd, bytes + total, toRead - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read) *read = total;
      return FALSE;
    }
    if (n == 0) break;
    total += static_cast<DWORD>(n);
  }
  if (read) *read = total;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  FileObject* file = AsFile(handle);
  if (written) *written = 0;
  if (!file || (toWrite && !buffer)) return FALSE;
  DWORD total = 0;
  auto* bytes = static_cast<const char*>(buffer);
  while (total < toWrite) {
    ssize_t n = ::write(file->fd, bytes + total, toWrite - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = total;
      return FALSE;
    }
    total += static_cast<DWORD>(n);
  }
  if (written) *written = total;
  return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
  FileObject* file = AsFile(handle);
  if (!file) return INVALID_SET_FILE_POINTER;
  std::int64_t offset =
      distanceHigh ? static_cast<std::int64_t>(
                         (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                         static_cast<DWORD>(distance))
                   : static_cast<std::int64_t>(distance);
  int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
               : moveMethod == FILE_CURRENT ? SEEK_CUR
               : moveMethod == FILE_END     ? SEEK_END
                                            : -1;
  if (whence < 0) return INVALID_SET_FILE_POINTER;
  off_t position = lseek(file->fd, static_cast<off_t>(offset), whence);
  if (position < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  return static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFF);
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  FileObject* file = AsFile(handle);
  struct stat st;
  if (!file || fstat(file->fd, &st) != 0) return INVALID_FILE_SIZE;
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size & 0xFFFFFFFF);
}

BOOL DeleteFileA(LPCSTR fileName) {
  std::string path;
  if (!ResolveEnginePath(fileName, path)) return FALSE;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return FALSE;
  return unlink(path.c_str()) == 0 ? TRUE : FALSE;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  std::string posix;
  if (!ResolveEnginePath(path, posix)) return FALSE;
  return chdir(posix.c_str()) == 0 ? TRUE : FALSE;
}

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
  char* cwd = getcwd(nullptr, 0);
  if (!cwd) return 0;
  std::string engine;
  bool ok = MapPosixToEnginePath(cwd, engine);
  std::free(cwd);
  if (!ok) return 0;
  // The root keeps its backslash ("Z:\"); any other directory has none at its end.
  if (engine.size() > 3 && engine.back() == '\\') engine.pop_back();
  if (engine.size() + 1 > bufferLength || !buffer) return static_cast<DWORD>(engine.size() + 1);
  std::memcpy(buffer, engine.c_str(), engine.size() + 1);
  return static_cast<DWORD>(engine.size());
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  std::string posix;
  if (!MapToPosixPath(pattern, posix)) return INVALID_HANDLE_VALUE;
  size_t slash = posix.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : posix.substr(0, slash);
  std::string namePattern = slash == std::string::npos ? posix : posix.substr(slash + 1);
  if (namePattern.empty()) return INVALID_HANDLE_VALUE;
  directory = ResolvePosixPath(directory);
  DIR* dir = opendir(directory.c_str());
  if (!dir) return INVALID_HANDLE_VALUE;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir))
    if (MatchWildcard(namePattern.c_str(), entry->d_name)) names.emplace_back(entry->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  auto* find = new FindObject{{CloseFindObject}, {}, 0};
  for (const std::string& name : names) {
    std::string ansi;
    WIN32_FIND_DATAA entry;
    std::string full = directory == "/" ? "/" + name : directory + "/" + name;
    if (ConvertUtf8ToAnsi(name, ansi) && FillFindData(full, ansi.c_str(), entry))
      find->entries.push_back(entry);
  }
  if (find->entries.empty()) {
    delete find;
    return INVALID_HANDLE_VALUE;
  }
  if (data) *data = find->entries[0];
  find->next = 1;
  return find;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) {
  FindObject* find = AsFind(handle);
  if (!find || find->next >= find->entries.size()) return FALSE;
  if (data) *data = find->entries[find->next];
  ++find->next;
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  FindObject* find = AsFind(handle);
  if (!find) return FALSE;
  return CloseFindObject(&find->header);
}

DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer) {
  const char* tmp = std::getenv("TMPDIR");
  std::string posix = (tmp && tmp[0] == '/') ? tmp : "/tmp";
  std::string engine;
  if (!MapPosixToEnginePath(posix, engine)) return 0;
  if (engine.back() != '\\') engine += '\\';
  if (engine.size() + 1 > bufferLength || !buffer) return static_cast<DWORD>(engine.size() + 1);
  std::memcpy(buffer, engine.c_str(), engine.size() + 1);
  return static_cast<DWORD>(engine.size());
}

UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
  if (!path || !tempFileName) return 0;
  std::string folder = path;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  std::string start = folder + std::string(prefix ? prefix : "").substr(0, 3);
  auto makeName = [&](UINT number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", number & 0xFFFF);
    return start + hex + ".tmp";
  };
  if (unique != 0) {
    std::string name = makeName(unique);
    if (name.size() >= MAX_PATH) return 0;
    std::strcpy(tempFileName, name.c_str());
    return unique;
  }
  unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u + tempCounter.fetch_add(7919);
  for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
    UINT number = ((seed + attempt) & 0xFFFF) ? ((seed + attempt) & 0xFFFF) : 1;
    std::string name = makeName(number);
    if (name.size() >= MAX_PATH) return 0;
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      std::strcpy(tempFileName, name.c_str());
      return number;
    }
    std::string posix;
    if (!ResolveEnginePath(name.c_str(), posix)) return 0;
    struct stat st;
    if (lstat(posix.c_str(), &st) != 0)
      return 0;  // failed for another reason than the name being taken
  }
  return 0;
}

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime) {
  if (!fileTime || !localFileTime) return FALSE;
  std::int64_t ticks = FileTimeTicks(*fileTime);
  time_t seconds = static_cast<time_t>(ticks / kTicksPerSecond - kFileTimeUnixOffset);
  tm local;
  if (!localtime_r(&seconds, &local)) return FALSE;
  *localFileTime =
      MakeFileTime(ticks + static_cast<std::int64_t>(local.tm_gmtoff) * kTicksPerSecond);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
  if (!fileTime || !systemTime) return FALSE;
  std::int64_t ticks = FileTimeTicks(*fileTime);
  if (ticks < 0) return FALSE;
  time_t seconds = static_cast<time_t>(ticks / kTicksPerSecond - kFileTimeUnixOffset);
  tm utc;
  if (!gmtime_r(&seconds, &utc)) return FALSE;
  systemTime->wYear = static_cast<WORD>(utc.tm_year + 1900);
  systemTime->wMonth = static_cast<WORD>(utc.tm_mon + 1);
  systemTime->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
  systemTime->wDay = static_cast<WORD>(utc.tm_mday);
  systemTime->wHour = static_cast<WORD>(utc.tm_hour);
  systemTime->wMinute = static_cast<WORD>(utc.tm_min);
  systemTime->wSecond = static_cast<WORD>(utc.tm_sec);
  systemTime->wMilliseconds = static_cast<WORD>((ticks % kTicksPerSecond) / 10000);
  return TRUE;
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
  int result = std::strcmp(a ? a : "", b ? b : "");
  return result < 0 ? -1 : result > 0 ? 1 : 0;
}
