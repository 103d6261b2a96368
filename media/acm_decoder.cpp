// Compressed sound through the compression manager: the WAV decoder for any compressed format
// tag, and the conversion that it and the MP3 decoder share: the whole source in memory, a
// conversion stream in use and a standby one at the start, output converted whole blocks at a
// time, forward seeks by converting and dropping, backward seeks through the standby stream.
#include <algorithm>
#include <cstring>

#include "media/sound_decoder.h"
#include "media/wave_chunks.h"
#include "system/tracked_memory.h"

namespace {

// Whole seconds of ADPCM or G.711 must not make a damaged rate allocate without bound.
constexpr std::int32_t kLargestAcmBlock = 1 << 22;
// The standby stream converts ahead only when it lags its target by more than this.
constexpr std::int32_t kStandbyLag = 10240;

WAVEFORMATEX* SourceFormat(SoundDecoderRecord* decoder) {
  return reinterpret_cast<WAVEFORMATEX*>(decoder->acm.sourceFormat);
}

int OpenConversionStream(SoundDecoderRecord* decoder, HACMSTREAM* stream) {
  *stream = nullptr;
  return GetAcmFunctions()->streamOpen(stream, nullptr, SourceFormat(decoder),
                                       &decoder->outputFormat, nullptr, 0, 0,
                                       ACM_STREAMOPENF_NONREALTIME) == MMSYSERR_NOERROR
             ? 0
             : -1;
}

void CloseConversionStream(HACMSTREAM* stream) {
  if (*stream != nullptr && GetAcmFunctions() != nullptr)
    GetAcmFunctions()->streamClose(*stream, 0);
  *stream = nullptr;
}

// Converts one step of source from `*position` on `stream` into `output`: the bytes produced,
// or 0 when the data has ended (nothing produced counts as the end).
std::int32_t ConvertStep(SoundDecoderRecord* decoder, HACMSTREAM stream, std::int32_t* position,
                         std::uint8_t* output) {
  AcmDecoderState& acm = decoder->acm;
  const AcmFunctionTable* functions = GetAcmFunctions();
  if (stream == nullptr || functions == nullptr || *position >= acm.sourceSize) return 0;
  ACMSTREAMHEADER header{};
  header.cbStruct = sizeof header;
  header.pbSrc = acm.sourceData + *position;
  header.cbSrcLength = static_cast<DWORD>(std::min(acm.step, acm.sourceSize - *position));
  header.pbDst = output;
  header.cbDstLength = static_cast<DWORD>(decoder->outputBufferSize);
  bool converted = false;
  if (functions->streamPrepareHeader(stream, &header, 0) == MMSYSERR_NOERROR) {
    converted = functions->streamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN) ==
                MMSYSERR_NOERROR;
    functions->streamUnprepareHeader(stream, &header, 0);
  }
  if (!converted || header.cbDstLengthUsed == 0 || header.cbSrcLengthUsed > header.cbSrcLength) {
    *position = acm.sourceSize;
    return 0;
  }
  *position += static_cast<std::int32_t>(header.cbSrcLengthUsed);
  return static_cast<std::int32_t>(std::min<DWORD>(header.cbDstLengthUsed, header.cbDstLength));
}

void RestartStandby(SoundDecoderRecord* decoder) {
  AcmDecoderState& acm = decoder->acm;
  CloseConversionStream(&acm.streams[1]);
  OpenConversionStream(decoder, &acm.streams[1]);
  acm.standbySourcePosition = 0;
  acm.standbyConverted = 0;
}

// Drops output until the position reaches the target; running out of data ends the decoder.
void ConvertForwardTo(SoundDecoderRecord* decoder, std::int32_t target) {
  while (decoder->position < target) {
    if (decoder->outputBytes == 0) {
      decoder->outputOffset = 0;
      if (ReadAcmBlock(decoder) != 0) {
        decoder->endReached = 1;
        return;
      }
    }
    const std::int32_t skip = std::min(decoder->outputBytes, target - decoder->position);
    decoder->outputOffset += skip;
    decoder->outputBytes -= skip;
    decoder->position += skip;
  }
}

}  // namespace

int OpenAcmConversion(SoundDecoderRecord* decoder, int mpeg) {
  const AcmFunctionTable* functions = GetAcmFunctions();
  AcmDecoderState& acm = decoder->acm;
  decoder->outputFormat = WAVEFORMATEX{};
  decoder->outputFormat.wFormatTag = WAVE_FORMAT_PCM;
  if (functions->formatSuggest(nullptr, SourceFormat(decoder), &decoder->outputFormat,
                               sizeof(WAVEFORMATEX),
                               ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR ||
      decoder->outputFormat.nBlockAlign == 0 || decoder->outputFormat.nAvgBytesPerSec == 0)
    return -1;
  if (OpenConversionStream(decoder, &acm.streams[0]) != 0 ||
      OpenConversionStream(decoder, &acm.streams[1]) != 0)
    return -1;
  // A step of at least 2048 bytes, and never less than one whole block: larger ADPCM blocks
  // would otherwise never convert.
  const std::int32_t block = std::max<std::int32_t>(SourceFormat(decoder)->nBlockAlign, 1);
  acm.step = block > 2048 ? block : 2048 / block * block;
  const std::int64_t average = decoder->outputFormat.nAvgBytesPerSec;
  std::int64_t size = mpeg ? average * 4 / 3 : average;
  DWORD stepOutput = 0;
  if (!mpeg && functions->streamSize(acm.streams[0], static_cast<DWORD>(acm.step), &stepOutput,
                                     ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR)
    size = std::max<std::int64_t>(size, stepOutput);
  if (size > kLargestAcmBlock) size = std::max<std::int64_t>(kLargestAcmBlock, stepOutput);
  if (size > INT32_MAX / 2) return -1;
  decoder->outputBufferSize = static_cast<std::int32_t>(size);
  acm.standbyOutput =
      static_cast<std::uint8_t*>(TrackedAlloc(decoder->outputBufferSize, __FILE__, __LINE__));
  if (acm.standbyOutput == nullptr) return -1;
  decoder->kind = kSoundDecoderAcm;
  return 0;
}

int OpenWaveAcmDecoder(SoundDecoderRecord* decoder) {
  decoder->acm = AcmDecoderState{};
  decoder->acm.totalSamples = -1;
  if (GetAcmFunctions() == nullptr) return -1;
  const std::int32_t streamSize = GetDecoderStreamSize(decoder);
  std::uint8_t* chunk = ReadWaveFormatChunk(decoder, streamSize);
  if (chunk == nullptr) return -1;
  const std::int32_t chunkSize = decoder->formatSize;
  WAVEFORMATEX format = ReadWaveFormatFields(chunk);
  if (chunkSize == 16 && format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels != 0) {
    format.cbSize = 0;
    format.wBitsPerSample = static_cast<WORD>(format.nBlockAlign / format.nChannels * 8);
  }
  // Only the extra bytes the chunk really holds.
  format.cbSize = static_cast<WORD>(std::clamp<std::int32_t>(chunkSize - 18, 0, format.cbSize));
  auto* stored = static_cast<std::uint8_t*>(
      TrackedAlloc(sizeof(WAVEFORMATEX) + format.cbSize, __FILE__, __LINE__));
  if (stored != nullptr) {
    std::memcpy(stored, &format, sizeof format);
    std::memcpy(stored + sizeof format, chunk + 18, format.cbSize);
  }
  TrackedFree(chunk);
  if (stored == nullptr) return -1;
  decoder->acm.sourceFormat = stored;
  // Every later step divides by these.
  std::uint32_t dataSize = 0;
  if (format.nChannels == 0 || format.nSamplesPerSec == 0 || format.nAvgBytesPerSec == 0 ||
      format.nBlockAlign == 0 || !FindWaveDataChunk(decoder, streamSize, &dataSize)) {
    ReleaseAcmDecoder(decoder);
    return -1;
  }
  decoder->dataStart = decoder->stream.ops.tell(decoder->stream.handle);
  // A size past the end of the file is clamped to the bytes present.
  decoder->dataSize = static_cast<std::int32_t>(
      std::min<std::uint32_t>(dataSize, std::max(streamSize - decoder->dataStart, 0)));
  AcmDecoderState& acm = decoder->acm;
  acm.sourceData =
      static_cast<std::uint8_t*>(TrackedAlloc(std::max(decoder->dataSize, 1), __FILE__, __LINE__));
  if (acm.sourceData == nullptr) {
    ReleaseAcmDecoder(decoder);
    return -1;
  }
  acm.sourceSize = static_cast<std::int32_t>(decoder->stream.ops.read(
      acm.sourceData, 1, static_cast<std::size_t>(decoder->dataSize), decoder->stream.handle));
  decoder->stream.ops.seek(decoder->stream.handle, decoder->dataStart, 0);
  if (OpenAcmConversion(decoder, 0) != 0) {
    ReleaseAcmDecoder(decoder);
    return -1;
  }
  return 0;
}

int ReadAcmBlock(SoundDecoderRecord* decoder) {
  AcmDecoderState& acm = decoder->acm;
  if (decoder->standbyTarget != acm.standbyConverted) {
    if (decoder->standbyTarget < acm.standbyConverted) RestartStandby(decoder);
    if (decoder->standbyTarget - acm.standbyConverted > kStandbyLag)
      acm.standbyConverted +=
          ConvertStep(decoder, acm.streams[1], &acm.standbySourcePosition, acm.standbyOutput);
  }
  const std::int32_t produced =
      ConvertStep(decoder, acm.streams[0], &acm.sourcePosition, decoder->outputBuffer);
  if (produced == 0) return -1;
  decoder->outputBytes = produced;
  return 0;
}

int SeekAcmDecoder(SoundDecoderRecord* decoder, int target) {
  AcmDecoderState& acm = decoder->acm;
  if (target < decoder->position) {
    decoder->outputBytes = 0;
    decoder->outputOffset = 0;
    if (target >= acm.standbyConverted) {
      // The standby stream waits where the seek can go on from; a fresh one takes its place.
      std::swap(acm.streams[0], acm.streams[1]);
      acm.sourcePosition = acm.standbySourcePosition;
      decoder->position = acm.standbyConverted;
      RestartStandby(decoder);
    } else {
      CloseConversionStream(&acm.streams[0]);
      OpenConversionStream(decoder, &acm.streams[0]);
      acm.sourcePosition = 0;
      decoder->position = 0;
    }
  }
  decoder->endReached = 0;
  ConvertForwardTo(decoder, target);
  return 0;
}

int GetAcmDecoderTotalBytes(SoundDecoderRecord* decoder) {
  const AcmDecoderState& acm = decoder->acm;
  std::int64_t total = 0;
  if (acm.totalSamples >= 0) {
    total = static_cast<std::int64_t>(acm.totalSamples) * decoder->outputFormat.nBlockAlign;
  } else {
    DWORD bytes = 0;
    if (GetAcmFunctions() != nullptr &&
        GetAcmFunctions()->streamSize(acm.streams[0], static_cast<DWORD>(acm.sourceSize), &bytes,
                                      ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR)
      total = bytes;
  }
  return static_cast<int>(std::min<std::int64_t>(total, INT32_MAX));
}

int ReleaseAcmDecoder(SoundDecoderRecord* decoder) {
  AcmDecoderState& acm = decoder->acm;
  TrackedFree(acm.sourceFormat);
  TrackedFree(acm.standbyOutput);
  CloseConversionStream(&acm.streams[0]);
  CloseConversionStream(&acm.streams[1]);
  TrackedFree(acm.sourceData);
  acm = AcmDecoderState{};
  return 0;
}
