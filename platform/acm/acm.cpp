// The compression manager's calls: a suggested PCM format for a source the layer converts,
// conversion streams, and headers converted whole block by whole block, never writing past the
// destination and reporting the source bytes they used.
#include "platform/acm/acm.h"

#include <array>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "platform/acm/acm_codecs.h"

struct AcmStreamObject {
  AcmSourceFormat source;
  MpegConverter* mpeg;
  DWORD outputBlock;  // bytes of one PCM frame
  std::vector<std::int16_t> blockSamples;
};

namespace {

struct AcmState {
  std::mutex lock;
  std::set<AcmStreamObject*> streams;
};

AcmState& Acm() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* state = new AcmState;
  return *state;
}

bool IsLive(HACMSTREAM stream) {
  std::lock_guard guard(Acm().lock);
  return Acm().streams.count(stream) != 0;
}

bool IsMpeg(const AcmSourceFormat& format) {
  return format.tag == WAVE_FORMAT_MPEGLAYER3 || format.tag == WAVE_FORMAT_MPEG;
}

void SuggestPcm(const AcmSourceFormat& source, WAVEFORMATEX* destination) {
  destination->wFormatTag = WAVE_FORMAT_PCM;
  destination->nChannels = source.channels;
  destination->nSamplesPerSec = source.rate;
  destination->wBitsPerSample = 16;
  destination->nBlockAlign = static_cast<WORD>(2 * source.channels);
  destination->nAvgBytesPerSec = source.rate * destination->nBlockAlign;
  destination->cbSize = 0;
}

bool MatchesSuggestion(const AcmSourceFormat& source, const WAVEFORMATEX* destination) {
  WAVEFORMATEX expected{};
  SuggestPcm(source, &expected);
  return destination->wFormatTag == expected.wFormatTag &&
         destination->nChannels == expected.nChannels &&
         destination->nSamplesPerSec == expected.nSamplesPerSec &&
         destination->nBlockAlign == expected.nBlockAlign &&
         destination->wBitsPerSample == expected.wBitsPerSample;
}

void ConvertBlocks(AcmStreamObject* stream, ACMSTREAMHEADER* header) {
  const AcmSourceFormat& source = stream->source;
  const DWORD blockOutput = static_cast<DWORD>(source.samplesPerBlock) * stream->outputBlock;
  DWORD used = 0;
  DWORD produced = 0;
  while (header->cbSrcLength - used >= source.blockAlign &&
         header->cbDstLength - produced >= blockOutput) {
    std::int16_t* samples = stream->blockSamples.data();
    if (!DecodeAcmBlock(source, header->pbSrc + used, samples)) break;
    std::uint8_t* out = header->pbDst + produced;
    const int count = source.samplesPerBlock * source.channels;
    for (int i = 0; i < count; ++i) {
      out[2 * i] = static_cast<std::uint8_t>(samples[i]);
      out[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(samples[i]) >> 8);
    }
    used += source.blockAlign;
    produced += blockOutput;
  }
  header->cbSrcLengthUsed = used;
  header->cbDstLengthUsed = produced;
}

bool IsUsableHeader(const ACMSTREAMHEADER* header) {
  return header != nullptr && header->cbStruct >= sizeof(ACMSTREAMHEADER) &&
         (header->cbSrcLength == 0 || header->pbSrc != nullptr) &&
         (header->cbDstLength == 0 || header->pbDst != nullptr);
}

}  // namespace

MMRESULT acmFormatSuggest(HACMDRIVER, LPWAVEFORMATEX source, LPWAVEFORMATEX destination,
                          DWORD destinationBytes, DWORD flags) {
  if (source == nullptr || destination == nullptr || destinationBytes < sizeof(WAVEFORMATEX))
    return MMSYSERR_INVALPARAM;
  if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && destination->wFormatTag != WAVE_FORMAT_PCM)
    return ACMERR_NOTPOSSIBLE;
  AcmSourceFormat described;
  if (!DescribeAcmSource(source, &described)) return ACMERR_NOTPOSSIBLE;
  SuggestPcm(described, destination);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER, LPWAVEFORMATEX source,
                       LPWAVEFORMATEX destination, LPWAVEFILTER filter, DWORD_PTR, DWORD_PTR,
                       DWORD) {
  if (stream == nullptr || source == nullptr || destination == nullptr || filter != nullptr)
    return MMSYSERR_INVALPARAM;
  *stream = nullptr;
  auto* object = new (std::nothrow) AcmStreamObject{};
  if (object == nullptr) return MMSYSERR_NOMEM;
  if (!DescribeAcmSource(source, &object->source) ||
      !MatchesSuggestion(object->source, destination)) {
    delete object;
    return ACMERR_NOTPOSSIBLE;
  }
  object->outputBlock = 2u * object->source.channels;
  if (IsMpeg(object->source)) {
    object->mpeg = OpenMpegConverter(object->source);
    if (object->mpeg == nullptr) {
      delete object;
      return ACMERR_NOTPOSSIBLE;
    }
  } else {
    object->blockSamples.resize(static_cast<std::size_t>(object->source.samplesPerBlock) *
                                object->source.channels);
  }
  std::lock_guard guard(Acm().lock);
  Acm().streams.insert(object);
  *stream = object;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD) {
  {
    std::lock_guard guard(Acm().lock);
    if (Acm().streams.erase(stream) == 0) return MMSYSERR_INVALHANDLE;
  }
  CloseMpegConverter(stream->mpeg);
  delete stream;
  return MMSYSERR_NOERROR;
}

MMRESULT acmMetrics(HACMOBJ, UINT metric, LPVOID value) {
  if (value == nullptr) return MMSYSERR_INVALPARAM;
  if (metric != ACM_METRIC_MAX_SIZE_FORMAT) return MMSYSERR_NOTSUPPORTED;
  // The largest record the layer hands out: an MS ADPCM format with its seven predictor pairs.
  constexpr DWORD kAdpcmFormat = sizeof(WAVEFORMATEX) + 4 + 7 * 4;
  *static_cast<DWORD*>(value) = std::max<DWORD>(kAdpcmFormat, sizeof(MPEGLAYER3WAVEFORMAT));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD) {
  if (!IsLive(stream)) return MMSYSERR_INVALHANDLE;
  if (!IsUsableHeader(header)) return MMSYSERR_INVALPARAM;
  header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
  header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD) {
  if (!IsLive(stream)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD) {
  if (!IsLive(stream)) return MMSYSERR_INVALHANDLE;
  if (!IsUsableHeader(header)) return MMSYSERR_INVALPARAM;
  if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (stream->mpeg != nullptr) {
    ConvertMpegFrames(stream->mpeg, header->pbSrc, header->cbSrcLength, header->pbDst,
                      header->cbDstLength, &header->cbSrcLengthUsed, &header->cbDstLengthUsed);
  } else {
    ConvertBlocks(stream, header);
  }
  header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD inputBytes, LPDWORD outputBytes, DWORD flags) {
  if (!IsLive(stream)) return MMSYSERR_INVALHANDLE;
  if (outputBytes == nullptr) return MMSYSERR_INVALPARAM;
  const AcmSourceFormat& source = stream->source;
  if (IsMpeg(source)) {
    // Frames are known only once parsed: the most that many bytes could hold (96-byte frames
    // of 1152 samples).
    if (flags != ACM_STREAMSIZEF_SOURCE) return ACMERR_NOTPOSSIBLE;
    const std::uint64_t bytes = (inputBytes / 96 + 1) * 1152ull * stream->outputBlock;
    *outputBytes = static_cast<DWORD>(std::min<std::uint64_t>(bytes, 0xFFFFFFFFu));
    return MMSYSERR_NOERROR;
  }
  const std::uint64_t blockOutput =
      static_cast<std::uint64_t>(source.samplesPerBlock) * stream->outputBlock;
  std::uint64_t result;
  if (flags == ACM_STREAMSIZEF_SOURCE) {
    result = inputBytes / source.blockAlign * blockOutput;
  } else if (flags == ACM_STREAMSIZEF_DESTINATION) {
    result = (inputBytes + blockOutput - 1) / blockOutput * source.blockAlign;
  } else {
    return MMSYSERR_INVALFLAG;
  }
  if (result > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
  *outputBytes = static_cast<DWORD>(result);
  return MMSYSERR_NOERROR;
}

std::span<const PlatformModuleEntry> AcmModuleEntries() {
  static const std::array<PlatformModuleEntry, 8> entries = {{
      {"acmFormatSuggest", AsFarProc(acmFormatSuggest)},
      {"acmStreamOpen", AsFarProc(acmStreamOpen)},
      {"acmStreamClose", AsFarProc(acmStreamClose)},
      {"acmMetrics", AsFarProc(acmMetrics)},
      {"acmStreamPrepareHeader", AsFarProc(acmStreamPrepareHeader)},
      {"acmStreamConvert", AsFarProc(acmStreamConvert)},
      {"acmStreamUnprepareHeader", AsFarProc(acmStreamUnprepareHeader)},
      {"acmStreamSize", AsFarProc(acmStreamSize)},
  }};
  return entries;
}
