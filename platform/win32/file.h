// The kernel's file calls over POSIX: files, deletion, the current directory, find, temporary
// files and file times. Paths are the engine's (code page 932, "\" separators, drive Z: for the
// POSIX root) and are mapped as file_path.h describes; other drives and UNC paths are not found.
#pragma once

#include "platform/win32/win32_types.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;
using PLONG = LONG*;

// 100-nanosecond intervals since 1 January 1601, UTC.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};

// Regular files only: a directory is refused. Share modes, security and flags are ignored;
// GENERIC_READ | GENERIC_WRITE opens for both. INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// Reads up to `toRead` bytes; fewer only at the end of the file. Overlapped I/O is not offered.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
// INVALID_SET_FILE_POINTER for a position before the start or a bad handle.
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL DeleteFileA(LPCSTR fileName);
// The wide forms take UTF-16 names and go through the code page 932 forms.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeleteFileW(LPCWSTR fileName);

BOOL SetCurrentDirectoryA(LPCSTR path);
// The length written without its terminator, or the size needed (with it) when the buffer is too
// small, in which case nothing is written; 0 on failure.
DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);

// Entries in byte order of their names, "." and ".." included. Names that have no code page 932
// form are left out.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// $TMPDIR or /tmp, with a trailing "\".
DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer);
// With unique 0: creates an empty file "<prefix up to 3 chars><hex>.tmp" in `path` and returns
// the number used; 0 on failure.
UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName);

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);

// Byte comparison: negative, 0 or positive.
int lstrcmpA(LPCSTR a, LPCSTR b);
