// DirectSound as the engine calls it: the device object, primary, secondary and duplicated
// buffers, and the device enumeration. A mixer of the layer's own sums the playing buffers in
// the SDL2 audio callback, or, in manual mode, whenever a test asks for frames.
#pragma once

#include "platform/com/com.h"
#include "platform/winmm/wave_format.h"

constexpr HRESULT DS_OK = S_OK;
constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
constexpr HRESULT DSERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x88780082u);
constexpr HRESULT DSERR_UNINITIALIZED = static_cast<HRESULT>(0x887800AAu);
constexpr HRESULT DSERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr DWORD DSBCAPS_STATIC = 0x2;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x4;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x8;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

constexpr DWORD DSBPLAY_LOOPING = 0x1;
constexpr DWORD DSBSTATUS_PLAYING = 0x1;
constexpr DWORD DSBSTATUS_LOOPING = 0x4;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x2;

constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr DWORD DSBFREQUENCY_ORIGINAL = 0;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

constexpr DWORD DSCAPS_PRIMARYMONO = 0x1;
constexpr DWORD DSCAPS_PRIMARYSTEREO = 0x2;
constexpr DWORD DSCAPS_PRIMARY8BIT = 0x4;
constexpr DWORD DSCAPS_PRIMARY16BIT = 0x8;
constexpr DWORD DSCAPS_CONTINUOUSRATE = 0x10;
constexpr DWORD DSCAPS_SECONDARYMONO = 0x100;
constexpr DWORD DSCAPS_SECONDARYSTEREO = 0x200;
constexpr DWORD DSCAPS_SECONDARY8BIT = 0x400;
constexpr DWORD DSCAPS_SECONDARY16BIT = 0x800;

struct DSCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwMinSecondarySampleRate;
  DWORD dwMaxSecondarySampleRate;
  DWORD dwPrimaryBuffers;
  DWORD dwMaxHwMixingAllBuffers;
  DWORD dwMaxHwMixingStaticBuffers;
  DWORD dwMaxHwMixingStreamingBuffers;
  DWORD dwFreeHwMixingAllBuffers;
  DWORD dwFreeHwMixingStaticBuffers;
  DWORD dwFreeHwMixingStreamingBuffers;
  DWORD dwMaxHw3DAllBuffers;
  DWORD dwMaxHw3DStaticBuffers;
  DWORD dwMaxHw3DStreamingBuffers;
  DWORD dwFreeHw3DAllBuffers;
  DWORD dwFreeHw3DStaticBuffers;
  DWORD dwFreeHw3DStreamingBuffers;
  DWORD dwTotalHwMemBytes;
  DWORD dwFreeHwMemBytes;
  DWORD dwMaxContigFreeHwMemBytes;
  DWORD dwUnlockTransferRateHwBuffers;
  DWORD dwPlayCpuOverheadSwBuffers;
  DWORD dwReserved1;
  DWORD dwReserved2;
};

struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
  GUID guid3DAlgorithm;
};

struct IDirectSoundBuffer : IUnknown {
  virtual HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) = 0;
  virtual HRESULT GetStatus(DWORD* status) = 0;
  virtual HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2,
                       DWORD* bytes2, DWORD flags) = 0;
  virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
  virtual HRESULT SetCurrentPosition(DWORD position) = 0;
  virtual HRESULT SetFormat(LPCWAVEFORMATEX format) = 0;
  virtual HRESULT SetVolume(LONG volume) = 0;
  virtual HRESULT SetPan(LONG pan) = 0;
  virtual HRESULT SetFrequency(DWORD frequency) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) = 0;
};
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;

struct IDirectSound : IUnknown {
  virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                                    IUnknown* outer) = 0;
  virtual HRESULT GetCaps(DSCAPS* caps) = 0;
  virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                                       IDirectSoundBuffer** duplicate) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
  virtual HRESULT Initialize(const GUID* device) = 0;
};
using LPDIRECTSOUND = IDirectSound*;

inline constexpr CLSID CLSID_DirectSound = {
    0x47D4D946, 0x62E8, 0x11CF, {0x93, 0xBC, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr IID IID_IDirectSound = {
    0x279AFA83, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr IID IID_IDirectSoundBuffer = {
    0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};

using LPDSENUMCALLBACKA = BOOL (*)(GUID* device, LPCSTR description, LPCSTR module, LPVOID context);
HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);

// Makes an uninitialised DirectSound object, as the COM runtime does for CLSID_DirectSound.
HRESULT CreateDirectSoundInstance(IUnknown* outer, REFIID riid, void** object);

// The layer's own controls, for tests and for a machine without sound.
enum DirectSoundOutput {
  DirectSoundOutputDevice = 0,  // an SDL2 audio device, mixed in its callback
  DirectSoundOutputManual = 1,  // no device: frames are mixed only by RenderDirectSoundOutput
  DirectSoundOutputNone = 2,    // "no device": Initialize fails with DSERR_NODRIVER
};
// Chosen for the next Initialize; a device already open keeps its mode.
void SetDirectSoundOutput(DirectSoundOutput output);
// Manual mode: mixes the next frames (interleaved stereo, 16-bit) and moves the cursors by
// them. Returns the frames mixed, or -1 when no manual device is open.
int RenderDirectSoundOutput(std::int16_t* stereoFrames, int frames);
// Frames per second of the mixed output (the primary format's rate).
int GetDirectSoundMixRate();
// Capabilities that GetCaps reports; null restores the defaults.
void SetDirectSoundCaps(const DSCAPS* caps);

enum DirectSoundCall {
  DirectSoundCallInitialize,
  DirectSoundCallCreateBuffer,
  DirectSoundCallDuplicate,
  DirectSoundCallLock,
  DirectSoundCallUnlock,
  DirectSoundCallPlay,
  DirectSoundCallSetFormat,
  DirectSoundCallCount
};
// Lets `passes` more calls of the kind succeed, then fails the next one once; -1 cancels.
void FailDirectSoundCall(DirectSoundCall call, int passes);
// Live secondary buffers (duplicates included) and live blocks of sample memory.
int CountDirectSoundBuffers();
int CountDirectSoundSampleBlocks();

// The entry points of "DSOUND.DLL" for the module table.
std::span<const PlatformModuleEntry> DirectSoundModuleEntries();
