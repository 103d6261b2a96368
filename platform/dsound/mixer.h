// The mixer behind the DirectSound stand-in: the voices of the secondary buffers, the one lock
// that guards them against the audio callback, and the output device.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dsound/dsound.h"

// Sample memory shared by a buffer and its duplicates; freed with the last of them.
struct SampleBlock {
  explicit SampleBlock(std::size_t bytes, std::uint8_t fill);
  ~SampleBlock();
  SampleBlock(const SampleBlock&) = delete;
  SampleBlock& operator=(const SampleBlock&) = delete;
  std::vector<std::uint8_t> bytes;
};

// The mixer's state of one secondary buffer; every field is guarded by MixerLock().
struct SoundVoice {
  std::shared_ptr<SampleBlock> samples;
  WAVEFORMATEX format{};
  DWORD flags = 0;
  DWORD sizeBytes = 0;
  DWORD frames = 0;
  bool playing = false;
  bool looping = false;
  DWORD frame = 0;
  std::uint32_t fraction = 0;  // position between frame and frame + 1, in 1/2^32
  DWORD frequency = 0;         // 0 = the format's own rate
  LONG volume = 0;
  LONG pan = 0;
  float gainLeft = 1.0f;
  float gainRight = 1.0f;
};

std::mutex& MixerLock();
// Called with MixerLock() held.
void AddMixerVoice(SoundVoice* voice);
void RemoveMixerVoice(SoundVoice* voice);
void UpdateVoiceGains(SoundVoice* voice);

// Opens the output chosen by SetDirectSoundOutput for one more user; DS_OK or DSERR_NODRIVER.
HRESULT OpenMixerOutput();
void CloseMixerOutput();
// The primary format's rate becomes the mix rate; a device is reopened at it.
HRESULT SetMixerRate(DWORD rate);

// True when a test asked this call to fail now.
bool ShouldFailDirectSoundCall(DirectSoundCall call);
