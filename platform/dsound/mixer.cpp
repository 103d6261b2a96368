// The DirectSound stand-in's mixer: sums every playing secondary buffer into interleaved 16-bit
// stereo at the primary format's rate, in the SDL2 audio callback or on a test's request.
#include "platform/dsound/mixer.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct MixerState {
  std::mutex lock;
  std::vector<SoundVoice*> voices;
  int rate = 44100;
  DirectSoundOutput requested = DirectSoundOutputDevice;
  DirectSoundOutput open = DirectSoundOutputNone;
  int users = 0;
  SDL_AudioDeviceID device = 0;
  std::vector<float> accumulator;
};

// The audio callback runs on SDL's thread until the device is closed, which a program that exits
// without ending the engine never does: the state lives until the process is gone, never
// destroyed by the exit handlers under a callback still running.
MixerState& Mixer() {
  static MixerState& state = *new MixerState;
  return state;
}

std::atomic<int> liveSampleBlocks{0};

std::mutex failureLock;
std::array<int, DirectSoundCallCount> failurePasses = [] {
  std::array<int, DirectSoundCallCount> passes{};
  passes.fill(-1);
  return passes;
}();

constexpr float kSampleScale = 1.0f / 4294967296.0f;

void ReadFrame(const std::uint8_t* p, int channels, int bits, float& left, float& right) {
  if (bits == 16) {
    left = static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8)));
    right =
        channels == 2 ? static_cast<float>(static_cast<std::int16_t>(p[2] | (p[3] << 8))) : left;
  } else {
    left = static_cast<float>((p[0] - 128) * 256);
    right = channels == 2 ? static_cast<float>((p[1] - 128) * 256) : left;
  }
}

// Adds one voice to the accumulator; a one-shot that reaches its end stops and rewinds.
void MixVoice(SoundVoice& voice, float* accumulator, int frames, int mixRate) {
  if (!voice.playing || voice.frames == 0) return;
  const WAVEFORMATEX& format = voice.format;
  const DWORD rate = voice.frequency != 0 ? voice.frequency : format.nSamplesPerSec;
  const std::uint64_t step =
      (static_cast<std::uint64_t>(rate) << 32) / static_cast<std::uint64_t>(mixRate);
  const std::uint64_t end = static_cast<std::uint64_t>(voice.frames) << 32;
  const std::uint8_t* data = voice.samples->bytes.data();
  const int channels = format.nChannels;
  const int bits = format.wBitsPerSample;
  const DWORD block = format.nBlockAlign;
  std::uint64_t position = (static_cast<std::uint64_t>(voice.frame) << 32) | voice.fraction;
  for (int i = 0; i < frames; ++i) {
    const DWORD frame = static_cast<DWORD>(position >> 32);
    const std::uint32_t fraction = static_cast<std::uint32_t>(position);
    float left, right;
    ReadFrame(data + static_cast<std::size_t>(frame) * block, channels, bits, left, right);
    if (fraction != 0) {
      DWORD next = frame + 1;
      if (next >= voice.frames) next = voice.looping ? 0 : frame;
      float nextLeft, nextRight;
      ReadFrame(data + static_cast<std::size_t>(next) * block, channels, bits, nextLeft, nextRight);
      const float t = static_cast<float>(fraction) * kSampleScale;
      left += (nextLeft - left) * t;
      right += (nextRight - right) * t;
    }
    accumulator[2 * i] += left * voice.gainLeft;
    accumulator[2 * i + 1] += right * voice.gainRight;
    position += step;
    if (position >= end) {
      if (voice.looping) {
        position %= end;
      } else {
        voice.playing = false;
        position = 0;
        break;
      }
    }
  }
  voice.frame = static_cast<DWORD>(position >> 32);
  voice.fraction = static_cast<std::uint32_t>(position);
}

// Called with the mixer lock held.
void MixFrames(std::int16_t* out, int frames) {
  MixerState& mixer = Mixer();
  mixer.accumulator.assign(static_cast<std::size_t>(frames) * 2, 0.0f);
  for (SoundVoice* voice : mixer.voices)
    MixVoice(*voice, mixer.accumulator.data(), frames, mixer.rate);
  for (std::size_t i = 0; i < mixer.accumulator.size(); ++i) {
    const long value = std::lrint(mixer.accumulator[i]);
    out[i] = static_cast<std::int16_t>(std::clamp<long>(value, -32768, 32767));
  }
}

void SDLCALL FillAudio(void*, Uint8* stream, int bytes) {
  std::lock_guard guard(Mixer().lock);
  MixFrames(reinterpret_cast<std::int16_t*>(stream), bytes / 4);
}

bool OpenDevice(int rate) {
  MixerState& mixer = Mixer();
  SDL_AudioSpec want{};
  want.freq = rate;
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = 512;
  want.callback = FillAudio;
  SDL_AudioSpec have{};
  mixer.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (mixer.device == 0) return false;
  SDL_PauseAudioDevice(mixer.device, 0);
  return true;
}

void CloseDevice() {
  MixerState& mixer = Mixer();
  if (mixer.device != 0) SDL_CloseAudioDevice(mixer.device);
  mixer.device = 0;
}

// ALSA's library writes lines of its own to standard error while SDL looks through it for a
// device that is not there; the layer says so in one line instead, so they are held back for
// the look and ALSA speaks as before afterwards.
class QuietAlsaProbe {
 public:
  QuietAlsaProbe() {
    const char* named = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    if (named && *named && SDL_strcasecmp(named, "alsa") != 0) return;
    library_ = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library_) return;
    setHandler_ = reinterpret_cast<SetHandler>(dlsym(library_, "snd_lib_error_set_handler"));
    if (setHandler_) setHandler_(Silent);
  }
  ~QuietAlsaProbe() {
    if (setHandler_) setHandler_(nullptr);
    if (library_) dlclose(library_);
  }
  QuietAlsaProbe(const QuietAlsaProbe&) = delete;
  QuietAlsaProbe& operator=(const QuietAlsaProbe&) = delete;

 private:
  using Handler = void (*)(const char* file, int line, const char* function, int error,
                           const char* format, ...);
  using SetHandler = int (*)(Handler handler);
  static void Silent(const char*, int, const char*, int, const char*, ...) {}

  void* library_ = nullptr;
  SetHandler setHandler_ = nullptr;
};

// Opens SDL's audio and its default device. A machine without a sound device still plays: the
// mix goes to SDL's dummy driver, which takes it in real time and drops it, so that cursors move
// and sounds end as they would if heard. That is said once on standard error.
bool OpenOutputDevice(int rate) {
  std::string missing;
  {
    QuietAlsaProbe quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      missing = SDL_GetError();
    } else if (OpenDevice(rate)) {
      return true;
    } else {
      missing = SDL_GetError();
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
  }
  // Audio kept open by another user cannot change its driver.
  if (SDL_WasInit(SDL_INIT_AUDIO) != 0) return false;
  SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
  const bool started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  if (!started) return false;
  if (!OpenDevice(rate)) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  static bool said = false;
  if (!said)
    std::fprintf(stderr, "platform: no sound device (%s): everything plays silent\n",
                 missing.c_str());
  said = true;
  return true;
}

}  // namespace

SampleBlock::SampleBlock(std::size_t size, std::uint8_t fill) : bytes(size, fill) {
  ++liveSampleBlocks;
}
SampleBlock::~SampleBlock() { --liveSampleBlocks; }

std::mutex& MixerLock() { return Mixer().lock; }

void AddMixerVoice(SoundVoice* voice) { Mixer().voices.push_back(voice); }

void RemoveMixerVoice(SoundVoice* voice) {
  auto& voices = Mixer().voices;
  voices.erase(std::remove(voices.begin(), voices.end(), voice), voices.end());
}

// Volume is an attenuation in hundredths of a decibel; pan attenuates the opposite side only.
void UpdateVoiceGains(SoundVoice* voice) {
  auto amplitude = [](LONG hundredthsOfDecibel) {
    return hundredthsOfDecibel <= DSBVOLUME_MIN
               ? 0.0f
               : static_cast<float>(std::pow(10.0, hundredthsOfDecibel / 2000.0));
  };
  const float volume = amplitude(voice->volume);
  voice->gainLeft = volume * (voice->pan > 0 ? amplitude(-voice->pan) : 1.0f);
  voice->gainRight = volume * (voice->pan < 0 ? amplitude(voice->pan) : 1.0f);
}

HRESULT OpenMixerOutput() {
  MixerState& mixer = Mixer();
  {
    std::lock_guard guard(mixer.lock);
    if (mixer.users > 0) {
      ++mixer.users;
      return DS_OK;
    }
  }
  switch (mixer.requested) {
    case DirectSoundOutputNone: return DSERR_NODRIVER;
    case DirectSoundOutputManual: break;
    case DirectSoundOutputDevice:
      if (!OpenOutputDevice(mixer.rate)) return DSERR_NODRIVER;
      break;
  }
  std::lock_guard guard(mixer.lock);
  mixer.open = mixer.requested;
  mixer.users = 1;
  return DS_OK;
}

void CloseMixerOutput() {
  MixerState& mixer = Mixer();
  DirectSoundOutput closing;
  {
    std::lock_guard guard(mixer.lock);
    if (mixer.users == 0 || --mixer.users > 0) return;
    closing = mixer.open;
    mixer.open = DirectSoundOutputNone;
  }
  if (closing == DirectSoundOutputDevice) {
    CloseDevice();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  std::lock_guard guard(mixer.lock);
  mixer.rate = 44100;
}

HRESULT SetMixerRate(DWORD rate) {
  MixerState& mixer = Mixer();
  int previous;
  {
    std::lock_guard guard(mixer.lock);
    previous = mixer.rate;
  }
  if (static_cast<int>(rate) == previous) return DS_OK;
  if (mixer.open == DirectSoundOutputDevice) CloseDevice();
  {
    std::lock_guard guard(mixer.lock);
    mixer.rate = static_cast<int>(rate);
  }
  if (mixer.open != DirectSoundOutputDevice || OpenDevice(mixer.rate)) return DS_OK;
  {
    std::lock_guard guard(mixer.lock);
    mixer.rate = previous;
  }
  OpenDevice(previous);
  return DSERR_BADFORMAT;
}

bool ShouldFailDirectSoundCall(DirectSoundCall call) {
  std::lock_guard guard(failureLock);
  int& passes = failurePasses[call];
  if (passes < 0) return false;
  if (passes > 0) {
    --passes;
    return false;
  }
  passes = -1;
  return true;
}

void SetDirectSoundOutput(DirectSoundOutput output) { Mixer().requested = output; }

int RenderDirectSoundOutput(std::int16_t* stereoFrames, int frames) {
  MixerState& mixer = Mixer();
  std::lock_guard guard(mixer.lock);
  if (mixer.users == 0 || mixer.open != DirectSoundOutputManual || frames < 0) return -1;
  MixFrames(stereoFrames, frames);
  return frames;
}

int GetDirectSoundMixRate() {
  std::lock_guard guard(Mixer().lock);
  return Mixer().rate;
}

void FailDirectSoundCall(DirectSoundCall call, int passes) {
  if (call < 0 || call >= DirectSoundCallCount) return;
  std::lock_guard guard(failureLock);
  failurePasses[call] = passes;
}

int CountDirectSoundBuffers() {
  std::lock_guard guard(Mixer().lock);
  return static_cast<int>(Mixer().voices.size());
}

int CountDirectSoundSampleBlocks() { return liveSampleBlocks; }
