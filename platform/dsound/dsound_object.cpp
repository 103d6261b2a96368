// The DirectSound device object and the device enumeration: Initialize opens the mixer's output
// (an SDL2 audio device, the manual mixer, or none), and the object hands out buffers.
#include <array>
#include <atomic>
#include <mutex>
#include <new>

#include "platform/dsound/mixer.h"
#include "platform/dsound/sound_buffer.h"

namespace {

DSCAPS DefaultCaps() {
  DSCAPS caps{};
  caps.dwSize = sizeof(DSCAPS);
  caps.dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                 DSCAPS_PRIMARY16BIT | DSCAPS_CONTINUOUSRATE | DSCAPS_SECONDARYMONO |
                 DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT;
  caps.dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
  caps.dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
  caps.dwPrimaryBuffers = 1;
  return caps;
}

std::mutex capsLock;
DSCAPS reportedCaps = DefaultCaps();

bool IsDefaultDevice(const GUID* device) {
  if (device == nullptr) return true;
  return *device == GUID{};
}

class DirectSoundObject final : public PlatformComObject<IDirectSound> {
 public:
  ~DirectSoundObject() override {
    if (initialized_) CloseMixerOutput();
  }

  bool Offers(REFIID riid) const override { return riid == IID_IDirectSound; }

  HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                            IUnknown* outer) override {
    if (buffer == nullptr || desc == nullptr || desc->dwSize != sizeof(DSBUFFERDESC))
      return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer != nullptr) return DSERR_NOAGGREGATION;
    if (!initialized_) return DSERR_UNINITIALIZED;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr) return DSERR_INVALIDPARAM;
      return CreatePrimarySoundBuffer(buffer);
    }
    return CreateSecondarySoundBuffer(*desc, buffer);
  }

  HRESULT GetCaps(DSCAPS* caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    if (!initialized_) return DSERR_UNINITIALIZED;
    std::lock_guard guard(capsLock);
    *caps = reportedCaps;
    return DS_OK;
  }

  HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                               IDirectSoundBuffer** duplicate) override {
    if (original == nullptr || duplicate == nullptr) return DSERR_INVALIDPARAM;
    *duplicate = nullptr;
    if (!initialized_) return DSERR_UNINITIALIZED;
    return DuplicateSecondarySoundBuffer(original, duplicate);
  }

  // Any window will do: the stand-in mixes for the whole process.
  HRESULT SetCooperativeLevel(HWND, DWORD level) override {
    if (!initialized_) return DSERR_UNINITIALIZED;
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    return DS_OK;
  }

  HRESULT Initialize(const GUID* device) override {
    if (initialized_) return DSERR_ALREADYINITIALIZED;
    if (!IsDefaultDevice(device)) return DSERR_NODRIVER;
    if (ShouldFailDirectSoundCall(DirectSoundCallInitialize)) return DSERR_NODRIVER;
    const HRESULT result = OpenMixerOutput();
    if (FAILED(result)) return result;
    initialized_ = true;
    return DS_OK;
  }

 private:
  bool initialized_ = false;
};

}  // namespace

HRESULT CreateDirectSoundInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return DSERR_NOAGGREGATION;
  auto* sound = new (std::nothrow) DirectSoundObject;
  if (sound == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = sound->QueryInterface(riid, object);
  sound->Release();
  return result;
}

// One device, the default one, as the platform reports it first.
HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  if (callback == nullptr) return DSERR_INVALIDPARAM;
  callback(nullptr, "Primary Sound Driver", "", context);
  return DS_OK;
}

void SetDirectSoundCaps(const DSCAPS* caps) {
  std::lock_guard guard(capsLock);
  reportedCaps = caps != nullptr ? *caps : DefaultCaps();
  reportedCaps.dwSize = sizeof(DSCAPS);
}

std::span<const PlatformModuleEntry> DirectSoundModuleEntries() {
  static const std::array<PlatformModuleEntry, 1> entries = {{
      {"DirectSoundEnumerateA", AsFarProc(DirectSoundEnumerateA)},
  }};
  return entries;
}
