// The DirectDraw 7 object as the engine uses it: created through COM, initialised, given a
// cooperative level, and asked to wait for the vertical blank of a 60 Hz display whose blanks
// follow the platform clock (so in virtual time a wait advances the clock instead of blocking).
// Also the capability record and the overlay surface that a movie shown as an overlay would use.
#pragma once

#include <vector>

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

// The capability record (380 bytes); of its fields only the capability flags and the overlay
// alignments are read.
struct DDCAPS {
  DWORD dwSize;
  DWORD dwCaps;
  DWORD unread1[18];
  DWORD dwAlignBoundarySrc;
  DWORD dwAlignSizeSrc;
  DWORD dwAlignBoundaryDest;
  DWORD dwAlignSizeDest;
  DWORD unread2[71];
};
static_assert(sizeof(DDCAPS) == 380);

constexpr DWORD DDCAPS_ALIGNBOUNDARYDEST = 0x00000002;
constexpr DWORD DDCAPS_ALIGNSIZEDEST = 0x00000004;
constexpr DWORD DDCAPS_ALIGNBOUNDARYSRC = 0x00000008;
constexpr DWORD DDCAPS_ALIGNSIZESRC = 0x00000010;

constexpr DWORD DDOVER_HIDE = 0x00000200;
constexpr DWORD DDOVER_SHOW = 0x00004000;

struct DDOVERLAYFX;

struct IDirectDrawSurface7 : IUnknown {
  // Shows the overlay (DDOVER_SHOW, both rectangles needed) or hides it (DDOVER_HIDE, the
  // rectangles are not read) over the destination surface, null being the primary surface.
  virtual HRESULT UpdateOverlay(RECT* source, IDirectDrawSurface7* destinationSurface,
                                RECT* destination, DWORD flags, DDOVERLAYFX* effects) = 0;
};

// There is no overlay hardware: an overlay surface keeps what it was asked to show. Nothing in the
// engine makes one; tests make one (one reference) and read back the calls made on it.
struct DirectDrawOverlayCall {
  DWORD flags;
  bool hasSource;
  RECT source;
  bool hasDestination;
  RECT destination;
  IDirectDrawSurface7* destinationSurface;
  HRESULT result;
};
IDirectDrawSurface7* CreateDirectDrawOverlaySurface();
std::vector<DirectDrawOverlayCall> GetDirectDrawOverlayCalls(IDirectDrawSurface7* surface);
// 1 while the surface shows its overlay.
int IsDirectDrawOverlayShown(IDirectDrawSurface7* surface);
