// The DirectDraw 7 object as the engine uses it: created through COM, initialised, given a
// cooperative level, and asked to wait for the vertical blank of a 60 Hz display whose blanks
// follow the platform clock (so in virtual time a wait advances the clock instead of blocking).
#pragma once

#include "platform/com/com.h"

constexpr HRESULT DD_OK = S_OK;
constexpr HRESULT DDERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x88760005u);
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

constexpr DWORD DDSCL_FULLSCREEN = 0x00000001;
constexpr DWORD DDSCL_ALLOWREBOOT = 0x00000002;
constexpr DWORD DDSCL_NORMAL = 0x00000008;
constexpr DWORD DDSCL_EXCLUSIVE = 0x00000010;
constexpr DWORD DDSCL_MULTITHREADED = 0x00000400;
constexpr DWORD DDSCL_FPUSETUP = 0x00000800;
constexpr DWORD DDSCL_FPUPRESERVE = 0x00001000;

constexpr DWORD DDWAITVB_BLOCKBEGIN = 0x00000001;
constexpr DWORD DDWAITVB_BLOCKEND = 0x00000004;

inline constexpr CLSID CLSID_DirectDraw7 = {
    0x3C305196, 0x50DB, 0x11D3, {0x9C, 0xFE, 0x00, 0xC0, 0x4F, 0xD9, 0x30, 0xC5}};
inline constexpr IID IID_IDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

struct IDirectDraw7 : IUnknown {
  // Null is the display driver, the only one there is.
  virtual HRESULT Initialize(GUID* driver) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  // BLOCKBEGIN returns at the start of the next blank, BLOCKEND at the end of the next (or
  // current) one; the event handle must be null.
  virtual HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) = 0;
};

// The factory the COM runtime's class table calls for CLSID_DirectDraw7: IID_IDirectDraw7 or
// IID_IUnknown, never aggregated.
HRESULT CreateDirectDraw7Instance(IUnknown* outer, REFIID riid, void** object);

// Test controls: the next `count` creations fail (E_OUTOFMEMORY); counts of live objects and
// of vertical-blank waits since the last reset.
void DirectDrawFailNextCreations(int count);
int DirectDrawGetLiveObjectCount();
int DirectDrawGetWaitCount();
void DirectDrawResetControls();
