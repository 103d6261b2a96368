// The graph's default audio renderer: PCM samples go into a looping DirectSound buffer that the
// mixer plays, each written ahead of the play cursor by as much as it lies ahead of the graph's
// clock. Without a sound device, or for a format the mixer cannot play, samples are only timed,
// so the stream still takes as long as it lasts.
#include <algorithm>
#include <cstring>
#include <new>

#include "media/dshow_renderer.h"
#include "media/graph_filters.h"
#include "platform/dsound/dsound.h"
#include "platform/winmm/winmm.h"

namespace {

// The ring holds two seconds; a sample is written up to a fifth of a second before its time, so
// a late streaming thread does not starve the device.
constexpr LONGLONG kRingSeconds = 2;
constexpr REFERENCE_TIME kLead = 2000000;

class DefaultAudioRenderer final : public K_CRendererBase {
 public:
  DefaultAudioRenderer()
      : K_CRendererBase(GUID_NULL, u"Default Audio Renderer", nullptr, nullptr) {}
  ~DefaultAudioRenderer() override {
    // A pending end-of-stream timer would call into this renderer after its output is gone.
    EndEndOfStreamTimer();
    CloseOutput();
  }

  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    if (type == nullptr) return E_POINTER;
    return type->majortype == MEDIATYPE_Audio && type->subtype == MEDIASUBTYPE_PCM ? S_OK : S_FALSE;
  }

  HRESULT TakeMediaType(const MediaTypeObject* type) override {
    K_CAutoLock guard(RendererLock());
    playable_ = type != nullptr && type->formattype == FORMAT_WaveFormatEx &&
                type->pbFormat != nullptr && type->cbFormat >= sizeof(WAVEFORMATEX);
    if (playable_) std::memcpy(&format_, type->pbFormat, sizeof(WAVEFORMATEX));
    format_.cbSize = 0;
    playable_ = playable_ && format_.wFormatTag == WAVE_FORMAT_PCM &&
                (format_.nChannels == 1 || format_.nChannels == 2) &&
                (format_.wBitsPerSample == 8 || format_.wBitsPerSample == 16) &&
                format_.nBlockAlign == format_.nChannels * format_.wBitsPerSample / 8 &&
                format_.nSamplesPerSec >= DSBFREQUENCY_MIN &&
                format_.nSamplesPerSec <= DSBFREQUENCY_MAX;
    if (playable_) format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;
    ReleaseBuffer();
    return S_OK;
  }

  HRESULT OnActive() override {
    K_CAutoLock guard(RendererLock());
    OpenOutput();
    return S_OK;
  }

  HRESULT OnInactive() override {
    {
      K_CAutoLock guard(RendererLock());
      if (buffer_ != nullptr) {
        buffer_->Stop();
        ClearRing();
      }
    }
    return K_CRendererBase::OnInactive();
  }

  HRESULT OnStreamingBegin() override {
    if (buffer_ != nullptr) buffer_->Play(0, 0, DSBPLAY_LOOPING);
    return S_OK;
  }

  HRESULT OnStreamingEnd() override {
    if (buffer_ != nullptr) buffer_->Stop();
    return S_OK;
  }

  // A sample is due a lead before its time, so that it is in the ring when the device gets there.
  bool ScheduleRender(IMediaSample* sample) override {
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT times = ReadSampleTimes(sample, &start, &stop);
    if (FAILED(times)) return false;
    if (times == S_FALSE) {
      if (clock_ == nullptr) return false;
      const REFERENCE_TIME lead = buffer_ != nullptr ? kLead : 0;
      return SUCCEEDED(clock_->AdviseTime(start_, start - lead, renderEvent_, &adviseCookie_));
    }
    SetEvent(renderEvent_);
    return true;
  }

  HRESULT RenderSample(IMediaSample* sample) override {
    if (sample == nullptr) return E_POINTER;
    if (buffer_ == nullptr) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) return S_OK;
    const LONG length = std::min(sample->GetActualDataLength(), sample->GetSize());
    if (length <= 0) return S_OK;
    const DWORD block = format_.nBlockAlign;
    DWORD bytes = static_cast<DWORD>(length) / block * block;

    DWORD play = 0, write = 0;
    if (FAILED(buffer_->GetCurrentPosition(&play, &write))) return S_OK;
    played_ += (play + ringBytes_ - lastPlay_) % ringBytes_;
    lastPlay_ = play;
    REFERENCE_TIME now = 0, sampleStart = 0, sampleStop = 0;
    const bool timed = clock_ != nullptr && SUCCEEDED(clock_->GetTime(&now)) &&
                       SUCCEEDED(sample->GetTime(&sampleStart, &sampleStop));
    // After a start, a dropout or a stall longer than the ring can count, the sample is placed
    // at its own time again: ahead of the play cursor by what it is ahead of the clock.
    const bool stalled = timed && now - lastRender_ > kRingSeconds * 10000000 / 4;
    if (!placed_ || written_ <= played_ || stalled) {
      LONGLONG ahead = 0;
      if (timed) {
        const REFERENCE_TIME early =
            std::clamp<REFERENCE_TIME>(start_ + sampleStart - now, 0, kRingSeconds * 10000000 / 2);
        ahead = early * format_.nAvgBytesPerSec / 10000000 / block * block;
      }
      writePosition_ = static_cast<DWORD>((play + ahead) % ringBytes_);
      played_ = 0;
      written_ = static_cast<DWORD>(ahead);
      placed_ = true;
    }
    lastRender_ = now;
    const DWORD pending = written_ - played_;
    // A device that stopped taking sound (a test's manual mixer, say) loses the samples that
    // do not fit, rather than having unplayed sound overwritten.
    if (pending + bytes + block > ringBytes_) return S_OK;
    const DWORD room = ringBytes_ - pending - block;
    void* first = nullptr;
    void* second = nullptr;
    DWORD firstBytes = 0, secondBytes = 0;
    if (FAILED(buffer_->Lock(writePosition_, room, &first, &firstBytes, &second, &secondBytes, 0)))
      return S_OK;
    // The sample, then silence over all the room after it: a ring that loops past the end of
    // the stream, or past a dropout, plays nothing old again.
    const BYTE silence = format_.wBitsPerSample == 8 ? 0x80 : 0;
    const DWORD head = std::min(bytes, firstBytes);
    std::memcpy(first, data, head);
    std::memset(static_cast<BYTE*>(first) + head, silence, firstBytes - head);
    if (second != nullptr) {
      const DWORD tail = bytes - head;
      std::memcpy(second, data + head, tail);
      std::memset(static_cast<BYTE*>(second) + tail, silence, secondBytes - tail);
    }
    buffer_->Unlock(first, firstBytes, second, secondBytes);
    writePosition_ = (writePosition_ + bytes) % ringBytes_;
    written_ += bytes;
    return S_OK;
  }

  // The end of the stream is reported once the device has played what is in the ring (or, with a
  // device that stopped taking sound, a second after the stream's end on the clock); the ring is
  // then made silent so that its loop does not play the end again.
  HRESULT SignalEndOfStream() override {
    K_CAutoLock guard(RendererLock());
    if (endOfStream_ && !endOfStreamSent_ && endOfStreamTimer_ == 0 && streaming_ &&
        buffer_ != nullptr && placed_) {
      DWORD play = 0, write = 0;
      REFERENCE_TIME now = 0;
      if (SUCCEEDED(buffer_->GetCurrentPosition(&play, &write)) && clock_ != nullptr &&
          SUCCEEDED(clock_->GetTime(&now)) && now < start_ + lastSampleEnd_ + 10000000) {
        played_ += (play + ringBytes_ - lastPlay_) % ringBytes_;
        lastPlay_ = play;
        if (written_ > played_) {
          const DWORD left = static_cast<DWORD>(
              (static_cast<LONGLONG>(written_ - played_) * 1000 + format_.nAvgBytesPerSec - 1) /
              format_.nAvgBytesPerSec);
          if (StartEndOfStreamTimer(std::max<DWORD>(left, 1), 1)) return S_OK;
        }
      }
    }
    const HRESULT result = K_CRendererBase::SignalEndOfStream();
    if (endOfStreamSent_ && buffer_ != nullptr) SilenceRing();
    return result;
  }

 private:
  void OpenOutput() {
    if (!playable_) return;
    if (sound_ == nullptr && !noDevice_) {
      IDirectSound* sound = nullptr;
      if (SUCCEEDED(CreateDirectSoundInstance(nullptr, IID_IDirectSound,
                                              reinterpret_cast<void**>(&sound)))) {
        if (SUCCEEDED(sound->Initialize(nullptr)) &&
            SUCCEEDED(sound->SetCooperativeLevel(nullptr, DSSCL_PRIORITY))) {
          sound_ = sound;
        } else {
          sound->Release();
        }
      }
      // Without a device the renderer stays silent for the rest of its life.
      noDevice_ = sound_ == nullptr;
    }
    if (sound_ == nullptr || buffer_ != nullptr) return;
    ringBytes_ = static_cast<DWORD>(format_.nAvgBytesPerSec * kRingSeconds);
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME;
    desc.dwBufferBytes = ringBytes_;
    desc.lpwfxFormat = &format_;
    if (FAILED(sound_->CreateSoundBuffer(&desc, &buffer_, nullptr))) buffer_ = nullptr;
    ClearRing();
  }

  void ClearRing() {
    if (buffer_ == nullptr) return;
    buffer_->SetCurrentPosition(0);
    SilenceRing();
    lastPlay_ = 0;
    placed_ = false;
  }

  void SilenceRing() {
    void* first = nullptr;
    DWORD firstBytes = 0;
    if (FAILED(buffer_->Lock(0, 0, &first, &firstBytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER)))
      return;
    std::memset(first, format_.wBitsPerSample == 8 ? 0x80 : 0, firstBytes);
    buffer_->Unlock(first, firstBytes, nullptr, 0);
    placed_ = false;
  }

  void ReleaseBuffer() {
    if (buffer_ != nullptr) buffer_->Release();
    buffer_ = nullptr;
  }

  void CloseOutput() {
    ReleaseBuffer();
    if (sound_ != nullptr) sound_->Release();
    sound_ = nullptr;
  }

  WAVEFORMATEX format_{};
  bool playable_ = false;
  bool noDevice_ = false;
  IDirectSound* sound_ = nullptr;
  IDirectSoundBuffer* buffer_ = nullptr;
  DWORD ringBytes_ = 0;
  DWORD writePosition_ = 0;
  DWORD lastPlay_ = 0;
  DWORD played_ = 0;
  DWORD written_ = 0;
  bool placed_ = false;
  REFERENCE_TIME lastRender_ = 0;
};

}  // namespace

HRESULT CreateDefaultAudioRenderer(const AM_MEDIA_TYPE* type, IBaseFilter** filter) {
  if (type == nullptr || filter == nullptr) return E_POINTER;
  *filter = nullptr;
  if (!(type->majortype == MEDIATYPE_Audio) || !(type->subtype == MEDIASUBTYPE_PCM))
    return VFW_E_TYPE_NOT_ACCEPTED;
  auto* renderer = new (std::nothrow) DefaultAudioRenderer;
  if (renderer == nullptr) return E_OUTOFMEMORY;
  *filter = renderer->AsBaseFilter();
  (*filter)->AddRef();
  return S_OK;
}
