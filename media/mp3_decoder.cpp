// The MP3 decoder: an ID3v2 tag skipped at the start and an ID3v1 tag cut at the end, the frames
// between scanned header by header to count the samples, and the frames converted by the
// compression manager, to which the data is declared as MPEG Layer-3.
#include <algorithm>
#include <cstring>

#include "media/sound_decoder.h"
#include "platform/acm/mpeg_audio.h"
#include "system/tracked_memory.h"

namespace {

struct ScanResult {
  std::int32_t firstFrame;
  std::int32_t end;
  std::int32_t totalSamples;
  MpegFrameHeader first;
};

std::int32_t ReadId3v2Length(const std::uint8_t* file, std::int32_t size) {
  if (size < 10 || std::memcmp(file, "ID3", 3) != 0) return 0;
  const std::int64_t length =
      ((static_cast<std::int64_t>(file[6]) * 128 + file[7]) * 128 + file[8]) * 128 + file[9] + 10 +
      ((file[3] == 4 && (file[5] & 0x10)) ? 10 : 0);
  return static_cast<std::int32_t>(std::min<std::int64_t>(length, size));
}

// Walks from frame to frame. A header that does not parse refuses the file only before the
// first frame; after it, it ends the data (an APE tag or junk after the audio), and so does the
// end of the data while searching for the next sync.
bool ScanFrames(const std::uint8_t* file, std::int32_t start, std::int32_t dataEnd,
                ScanResult* result) {
  result->firstFrame = -1;
  result->totalSamples = 0;
  std::int32_t position = start;
  for (;;) {
    while (position + 1 < dataEnd &&
           !(file[position] == 0xFF && (file[position + 1] & 0xF0) == 0xF0))
      ++position;
    if (position + 4 > dataEnd) break;
    MpegFrameHeader header;
    if (ParseMpegFrameHeader(file + position, &header) != 0 || header.frameLength == 0) {
      if (result->firstFrame < 0) return false;
      break;
    }
    if (result->firstFrame < 0) {
      result->firstFrame = position;
      result->first = header;
    }
    result->totalSamples += header.samplesPerFrame;
    if (static_cast<std::int64_t>(position) + header.frameLength >= dataEnd) {
      result->end = dataEnd;
      return true;
    }
    position += header.frameLength;
    result->end = position;
  }
  return result->firstFrame >= 0;
}

}  // namespace

int ParseMpegFrameHeader(const std::uint8_t* b, MpegFrameHeader* header) {
  if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return -2;
  header->lowSamplingRate = (b[1] & 0x08) ? 0 : 1;
  header->layerIndex = 3 - ((b[1] >> 1) & 3);
  if (header->layerIndex == 3) return -1;
  header->bitrateIndex = b[2] >> 4;
  if (header->bitrateIndex == 15) return -1;
  header->bitrate =
      kMpegBitrates[header->lowSamplingRate][header->layerIndex][header->bitrateIndex];
  header->sampleRateIndex = (b[2] >> 2) & 3;
  if (header->sampleRateIndex == 3) return -1;
  header->sampleRate = kMpegSampleRates[header->lowSamplingRate][header->sampleRateIndex];
  header->padding = (b[2] >> 1) & 1;
  header->channels = (b[3] >> 6) == 3 ? 1 : 2;
  const int bitrate = header->bitrate;
  const int rate = header->sampleRate;
  if (header->layerIndex == 0) {
    header->frameLength = 4 * (12000 * bitrate / rate + header->padding);
    header->samplesPerFrame = 384;
  } else if (header->layerIndex == 1 || !header->lowSamplingRate) {
    header->frameLength = 144000 * bitrate / rate + header->padding;
    header->samplesPerFrame = 1152;
  } else {
    header->frameLength = 72000 * bitrate / rate + header->padding;
    header->samplesPerFrame = 576;
  }
  return 0;
}

int OpenMp3AcmDecoder(SoundDecoderRecord* decoder) {
  decoder->acm = AcmDecoderState{};
  const AcmFunctionTable* functions = GetAcmFunctions();
  if (functions == nullptr) return -1;
  void* whole = nullptr;
  int size = 0;
  if (ReadWholeStream(&decoder->stream, &whole, &size) != 0) return -1;
  auto* file = static_cast<std::uint8_t*>(whole);

  const std::int32_t tagLength = ReadId3v2Length(file, size);
  std::int32_t dataEnd = 0;
  if (size > 128) dataEnd = std::memcmp(file + size - 128, "TAG", 3) == 0 ? size - 128 : size;
  ScanResult scan{};
  if (!ScanFrames(file, tagLength, dataEnd, &scan)) {
    TrackedFree(file);
    return -1;
  }

  DWORD formatBytes = 30;
  if (functions->metrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &formatBytes) != MMSYSERR_NOERROR)
    formatBytes = 30;
  formatBytes = std::max<DWORD>(formatBytes, sizeof(MPEGLAYER3WAVEFORMAT));
  auto* format =
      static_cast<MPEGLAYER3WAVEFORMAT*>(TrackedAllocZeroed(formatBytes, __FILE__, __LINE__));
  if (format == nullptr) {
    TrackedFree(file);
    return -1;
  }
  const MpegFrameHeader& first = scan.first;
  format->wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  format->wfx.nChannels = static_cast<WORD>(first.channels);
  format->wfx.nSamplesPerSec = static_cast<DWORD>(first.sampleRate);
  format->wfx.nAvgBytesPerSec = static_cast<DWORD>(first.bitrate * 1000 / 8);
  format->wfx.nBlockAlign = 1;
  format->wfx.wBitsPerSample = 0;
  format->wfx.cbSize = 12;
  format->wID = MPEGLAYER3_ID_MPEG;
  format->fdwFlags = static_cast<DWORD>(first.padding);
  format->nBlockSize = static_cast<WORD>(first.frameLength);
  format->nFramesPerBlock = 1;
  format->nCodecDelay = 700;

  AcmDecoderState& acm = decoder->acm;
  acm.sourceFormat = reinterpret_cast<std::uint8_t*>(format);
  acm.totalSamples = scan.totalSamples;
  decoder->dataStart = scan.firstFrame;
  decoder->dataSize = scan.end - scan.firstFrame;
  // The whole file's block keeps only the frames, moved to its start.
  std::memmove(file, file + scan.firstFrame, static_cast<std::size_t>(decoder->dataSize));
  acm.sourceData = file;
  acm.sourceSize = decoder->dataSize;
  if (OpenAcmConversion(decoder, 1) != 0) {
    ReleaseAcmDecoder(decoder);
    return -1;
  }
  return 0;
}
