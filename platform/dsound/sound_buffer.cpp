// DirectSound buffer objects: the primary buffer (its format sets the mix rate) and secondary
// buffers whose sample memory duplicates share, each with its own cursor, status and settings.
#include "platform/dsound/sound_buffer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/dsound/mixer.h"

namespace {

class SoundBufferObject final : public PlatformComObject<IDirectSoundBuffer> {
 public:
  explicit SoundBufferObject(bool primary) : primary_(primary) {}
  ~SoundBufferObject() override {
    if (primary_) return;
    std::lock_guard guard(MixerLock());
    RemoveMixerVoice(&voice_);
  }

  // Called once, before the object is shared.
  void Attach(std::shared_ptr<SampleBlock> samples, const WAVEFORMATEX& format, DWORD flags,
              DWORD size) {
    voice_.samples = std::move(samples);
    voice_.format = format;
    voice_.flags = flags;
    voice_.sizeBytes = size;
    voice_.frames = size / format.nBlockAlign;
    std::lock_guard guard(MixerLock());
    AddMixerVoice(&voice_);
  }

  // Settings that a duplicate starts with: the original's, stopped at the start.
  void CopySettingsFrom(const SoundBufferObject& original) {
    std::lock_guard guard(MixerLock());
    voice_.frequency = original.voice_.frequency;
    voice_.volume = original.voice_.volume;
    voice_.pan = original.voice_.pan;
    UpdateVoiceGains(&voice_);
  }

  bool IsPrimary() const { return primary_; }
  const SoundVoice& Voice() const { return voice_; }

  bool Offers(REFIID riid) const override { return riid == IID_IDirectSoundBuffer; }

  HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) override {
    std::lock_guard guard(MixerLock());
    if (primary_) {
      if (playCursor) *playCursor = 0;
      if (writeCursor) *writeCursor = 0;
      return DS_OK;
    }
    const DWORD block = voice_.format.nBlockAlign;
    const DWORD play = voice_.frame * block;
    if (playCursor) *playCursor = play;
    if (writeCursor) *writeCursor = WriteCursor(play);
    return DS_OK;
  }

  HRESULT GetStatus(DWORD* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard guard(MixerLock());
    *status = (voice_.playing ? DSBSTATUS_PLAYING : 0) |
              (voice_.playing && voice_.looping ? DSBSTATUS_LOOPING : 0);
    return DS_OK;
  }

  // The caller writes into a copy of the range, taken back in Unlock, so the mixer never reads
  // memory that another thread is writing.
  HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
               DWORD flags) override {
    if (part1 == nullptr || bytes1 == nullptr) return DSERR_INVALIDPARAM;
    if (primary_) return DSERR_INVALIDCALL;
    if (ShouldFailDirectSoundCall(DirectSoundCallLock)) return DSERR_INVALIDCALL;
    std::lock_guard guard(MixerLock());
    if (locked_) return DSERR_INVALIDCALL;
    const DWORD size = voice_.sizeBytes;
    if (flags & DSBLOCK_FROMWRITECURSOR)
      offset = WriteCursor(voice_.frame * voice_.format.nBlockAlign);
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
    const DWORD first = std::min(bytes, size - offset);
    const DWORD second = (part2 != nullptr && bytes2 != nullptr) ? bytes - first : 0;
    const std::uint8_t* data = voice_.samples->bytes.data();
    try {
      staging_.assign(data + offset, data + offset + first);
      staging_.insert(staging_.end(), data, data + second);
    } catch (const std::bad_alloc&) {
      return DSERR_OUTOFMEMORY;
    }
    locked_ = true;
    lockOffset_ = offset;
    lockBytes1_ = first;
    lockBytes2_ = second;
    *part1 = staging_.data();
    *bytes1 = first;
    if (part2 != nullptr) *part2 = second != 0 ? staging_.data() + first : nullptr;
    if (bytes2 != nullptr) *bytes2 = second;
    return DS_OK;
  }

  HRESULT Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) override {
    if (primary_) return DSERR_INVALIDCALL;
    if (ShouldFailDirectSoundCall(DirectSoundCallUnlock)) return DSERR_INVALIDCALL;
    std::lock_guard guard(MixerLock());
    if (!locked_) return DSERR_INVALIDCALL;
    if (part1 != staging_.data() || bytes1 > lockBytes1_ || bytes2 > lockBytes2_ ||
        (bytes2 != 0 && part2 != staging_.data() + lockBytes1_))
      return DSERR_INVALIDPARAM;
    std::uint8_t* data = voice_.samples->bytes.data();
    std::memcpy(data + lockOffset_, staging_.data(), bytes1);
    if (bytes2 != 0) std::memcpy(data, staging_.data() + lockBytes1_, bytes2);
    locked_ = false;
    return DS_OK;
  }

  HRESULT Play(DWORD reserved, DWORD, DWORD flags) override {
    if (reserved != 0) return DSERR_INVALIDPARAM;
    if (ShouldFailDirectSoundCall(DirectSoundCallPlay)) return DSERR_GENERIC;
    std::lock_guard guard(MixerLock());
    voice_.playing = true;
    voice_.looping = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
  }

  HRESULT SetCurrentPosition(DWORD position) override {
    if (primary_) return DSERR_INVALIDCALL;
    std::lock_guard guard(MixerLock());
    if (position >= voice_.sizeBytes) return DSERR_INVALIDPARAM;
    const DWORD frame = position / voice_.format.nBlockAlign;
    voice_.frame = frame < voice_.frames ? frame : 0;
    voice_.fraction = 0;
    return DS_OK;
  }

  HRESULT SetFormat(LPCWAVEFORMATEX format) override {
    if (!primary_) return DSERR_INVALIDCALL;
    if (!IsSupportedWaveFormat(format)) return DSERR_BADFORMAT;
    if (ShouldFailDirectSoundCall(DirectSoundCallSetFormat)) return DSERR_BADFORMAT;
    return SetMixerRate(format->nSamplesPerSec);
  }

  HRESULT SetVolume(LONG volume) override {
    if (primary_ || !(voice_.flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    std::lock_guard guard(MixerLock());
    voice_.volume = volume;
    UpdateVoiceGains(&voice_);
    return DS_OK;
  }

  HRESULT SetPan(LONG pan) override {
    if (primary_ || !(voice_.flags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    std::lock_guard guard(MixerLock());
    voice_.pan = pan;
    UpdateVoiceGains(&voice_);
    return DS_OK;
  }

  HRESULT SetFrequency(DWORD frequency) override {
    if (primary_ || !(voice_.flags & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    if (frequency != DSBFREQUENCY_ORIGINAL &&
        (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX))
      return DSERR_INVALIDPARAM;
    std::lock_guard guard(MixerLock());
    voice_.frequency = frequency;
    return DS_OK;
  }

  // Stopping keeps the position: the next Play goes on from it.
  HRESULT Stop() override {
    std::lock_guard guard(MixerLock());
    voice_.playing = false;
    return DS_OK;
  }

 private:
  // The write cursor runs about 10 ms ahead of a playing buffer's play cursor.
  DWORD WriteCursor(DWORD play) const {
    if (!voice_.playing || voice_.frames == 0) return play;
    const DWORD rate = voice_.frequency != 0 ? voice_.frequency : voice_.format.nSamplesPerSec;
    const DWORD lead = std::max<DWORD>(1, rate / 100) * voice_.format.nBlockAlign;
    return static_cast<DWORD>((static_cast<std::uint64_t>(play) + lead) %
                              (voice_.frames * voice_.format.nBlockAlign));
  }

  const bool primary_;
  SoundVoice voice_;
  std::vector<std::uint8_t> staging_;
  bool locked_ = false;
  DWORD lockOffset_ = 0;
  DWORD lockBytes1_ = 0;
  DWORD lockBytes2_ = 0;
};

}  // namespace

bool IsSupportedWaveFormat(const WAVEFORMATEX* format) {
  if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (format->nChannels != 1 && format->nChannels != 2) return false;
  if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) return false;
  if (format->nBlockAlign != format->nChannels * format->wBitsPerSample / 8) return false;
  return format->nSamplesPerSec >= DSBFREQUENCY_MIN && format->nSamplesPerSec <= DSBFREQUENCY_MAX;
}

HRESULT CreatePrimarySoundBuffer(IDirectSoundBuffer** buffer) {
  auto* object = new (std::nothrow) SoundBufferObject(true);
  if (object == nullptr) return DSERR_OUTOFMEMORY;
  *buffer = object;
  return DS_OK;
}

HRESULT CreateSecondarySoundBuffer(const DSBUFFERDESC& desc, IDirectSoundBuffer** buffer) {
  if (!IsSupportedWaveFormat(desc.lpwfxFormat)) return DSERR_BADFORMAT;
  if (desc.dwBufferBytes < DSBSIZE_MIN || desc.dwBufferBytes > DSBSIZE_MAX ||
      desc.dwBufferBytes < desc.lpwfxFormat->nBlockAlign)
    return DSERR_INVALIDPARAM;
  if (ShouldFailDirectSoundCall(DirectSoundCallCreateBuffer)) return DSERR_OUTOFMEMORY;
  std::shared_ptr<SampleBlock> samples;
  try {
    // 8-bit samples are unsigned: their silence is 0x80.
    samples = std::make_shared<SampleBlock>(desc.dwBufferBytes,
                                            desc.lpwfxFormat->wBitsPerSample == 8 ? 0x80 : 0);
  } catch (const std::bad_alloc&) {
    return DSERR_OUTOFMEMORY;
  }
  auto* object = new (std::nothrow) SoundBufferObject(false);
  if (object == nullptr) return DSERR_OUTOFMEMORY;
  object->Attach(std::move(samples), *desc.lpwfxFormat, desc.dwFlags, desc.dwBufferBytes);
  *buffer = object;
  return DS_OK;
}

HRESULT DuplicateSecondarySoundBuffer(IDirectSoundBuffer* original,
                                      IDirectSoundBuffer** duplicate) {
  auto* source = dynamic_cast<SoundBufferObject*>(original);
  if (source == nullptr || source->IsPrimary()) return DSERR_INVALIDCALL;
  if (ShouldFailDirectSoundCall(DirectSoundCallDuplicate)) return DSERR_OUTOFMEMORY;
  auto* object = new (std::nothrow) SoundBufferObject(false);
  if (object == nullptr) return DSERR_OUTOFMEMORY;
  const SoundVoice& voice = source->Voice();
  object->Attach(voice.samples, voice.format, voice.flags, voice.sizeBytes);
  object->CopySettingsFrom(*source);
  *duplicate = object;
  return DS_OK;
}
