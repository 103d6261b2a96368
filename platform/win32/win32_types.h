// The platform's basic types, handles and records, declared for this layer: every other header
// of platform/ includes this one. Handles are pointers, so they stay unique on a 64-bit build.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using CHAR = char;
using UCHAR = unsigned char;
using WCHAR = char16_t;
using BOOL = int;
using BOOLEAN = BYTE;
using FLOAT = float;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = std::int32_t;
using ATOM = WORD;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPLONG = LONG*;

using HANDLE = void*;
#define DECLARE_PLATFORM_HANDLE(name) \
  struct name##__;                    \
  using name = name##__*
DECLARE_PLATFORM_HANDLE(HWND);
DECLARE_PLATFORM_HANDLE(HINSTANCE);
DECLARE_PLATFORM_HANDLE(HDC);
DECLARE_PLATFORM_HANDLE(HMENU);
DECLARE_PLATFORM_HANDLE(HICON);
DECLARE_PLATFORM_HANDLE(HBITMAP);
DECLARE_PLATFORM_HANDLE(HFONT);
DECLARE_PLATFORM_HANDLE(HBRUSH);
DECLARE_PLATFORM_HANDLE(HMONITOR);
DECLARE_PLATFORM_HANDLE(HHOOK);
DECLARE_PLATFORM_HANDLE(HIMC);
DECLARE_PLATFORM_HANDLE(HDROP);
DECLARE_PLATFORM_HANDLE(HACCEL);
#undef DECLARE_PLATFORM_HANDLE
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using HGDIOBJ = void*;
using HGLOBAL = HANDLE;

// void (*)() converts to and from every function pointer type without a cast warning, so entry
// points looked up by name are cast straight to their real type.
using FARPROC = void (*)();

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr DWORD MAX_PATH = 260;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
constexpr DWORD INFINITE = 0xFFFFFFFF;

// Every kernel HANDLE the layer gives out (file, find, event, thread, ...) points at a record that
// starts with this header, so one CloseHandle releases any of them.
struct KernelObjectHeader {
  BOOL (*close)(KernelObjectHeader* object);  // releases the object; FALSE when that fails
};
inline BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return FALSE;
  auto* object = static_cast<KernelObjectHeader*>(handle);
  return object->close(object);
}

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  ULONGLONG QuadPart;
};

struct RECT {
  LONG left, top, right, bottom;
};
using LPRECT = RECT*;
struct POINT {
  LONG x, y;
};
struct SIZE {
  LONG cx, cy;
};

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr WORD LOWORD(DWORD_PTR v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(DWORD_PTR v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr DWORD MAKELONG(WORD lo, WORD hi) {
  return static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16);
}
