// Automation: IDispatch, and the type-library calls of "oleaut32.dll" that the engine's media
// position objects make to describe themselves. The layer registers no type library, so
// loading one fails as it does on a system where the library is missing.
#pragma once

#include "platform/com/com.h"

using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// Arguments and results of Invoke pass through the layer untouched: it never looks inside them.
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801Du);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802Bu);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4Au);

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct ITypeInfo : IUnknown {
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
  virtual HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;
};

struct ITypeLib : IUnknown {
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;
};

// No type library is registered: TYPE_E_LIBNOTREGISTERED, `library` null.
HRESULT LoadRegTypeLib(REFGUID guid, WORD major, WORD minor, LCID locale, ITypeLib** library);
// The layer reads no type library file: TYPE_E_CANTLOADLIBRARY, `library` null.
HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** library);

// The entry points of "oleaut32.dll" for the module table.
std::span<const PlatformModuleEntry> OleAut32ModuleEntries();
