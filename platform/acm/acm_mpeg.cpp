// MPEG audio behind the compression manager: whole frames fed to libmpg123, one at a time, so
// that every frame (the encoder's info frame too) gives exactly its samples, and the source
// bytes reported as used always end on a frame boundary.
#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/acm/acm_codecs.h"
#include "platform/acm/mpeg_audio.h"

struct MpegConverter {
  mpg123_handle* handle;
  int channels;
  long rate;
};

bool MeasureMpegFrame(const std::uint8_t* h, int* frameBytes, int* frameSamples) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const int layer = 3 - ((h[1] >> 1) & 3);  // 0: I, 1: II, 2: III
  const int bitrateIndex = h[2] >> 4;
  const int rateIndex = (h[2] >> 2) & 3;
  if (versionBits == 1 || layer == 3 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return false;
  const bool mpeg1 = versionBits == 3;
  const int bitrate = kMpegBitrates[mpeg1 ? 0 : 1][layer][bitrateIndex] * 1000;
  const int rate = kMpegSampleRates[mpeg1 ? 0 : (versionBits == 2 ? 1 : 2)][rateIndex];
  const int padding = (h[2] >> 1) & 1;
  if (layer == 0) {
    *frameBytes = (12 * bitrate / rate + padding) * 4;
    *frameSamples = 384;
  } else if (layer == 1 || mpeg1) {
    *frameBytes = 144 * bitrate / rate + padding;
    *frameSamples = 1152;
  } else {
    *frameBytes = 72 * bitrate / rate + padding;
    *frameSamples = 576;
  }
  return *frameBytes >= 4;
}

MpegConverter* OpenMpegConverter(const AcmSourceFormat& format) {
  StartMpg123();
  mpg123_handle* handle = mpg123_new(nullptr, nullptr);
  if (handle == nullptr) return nullptr;
  // No gapless trimming and the info frame decoded as audio: every frame gives all its samples.
  mpg123_param(
      handle, MPG123_FLAGS,
      MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_NO_READAHEAD | MPG123_NO_FRANKENSTEIN, 0.0);
  mpg123_format_none(handle);
  const int channels = format.channels == 1 ? MPG123_MONO : MPG123_STEREO;
  if (mpg123_format(handle, static_cast<long>(format.rate), channels, MPG123_ENC_SIGNED_16) !=
          MPG123_OK ||
      mpg123_open_feed(handle) != MPG123_OK) {
    mpg123_delete(handle);
    return nullptr;
  }
  auto* converter =
      new (std::nothrow) MpegConverter{handle, format.channels, static_cast<long>(format.rate)};
  if (converter == nullptr) mpg123_delete(handle);
  return converter;
}

void CloseMpegConverter(MpegConverter* converter) {
  if (converter == nullptr) return;
  mpg123_delete(converter->handle);
  delete converter;
}

void ConvertMpegFrames(MpegConverter* converter, const std::uint8_t* source, DWORD sourceBytes,
                       std::uint8_t* destination, DWORD destinationBytes, DWORD* sourceUsed,
                       DWORD* destinationUsed) {
  DWORD used = 0;
  DWORD produced = 0;
  const DWORD frameBlock = static_cast<DWORD>(converter->channels) * 2;
  while (sourceBytes - used >= 4) {
    int frameBytes = 0;
    int frameSamples = 0;
    if (!MeasureMpegFrame(source + used, &frameBytes, &frameSamples)) {
      // Bytes between frames that are no header are stepped over up to the next sync.
      ++used;
      while (sourceBytes - used >= 2 &&
             !(source[used] == 0xFF && (source[used + 1] & 0xE0) == 0xE0))
        ++used;
      if (sourceBytes - used < 4) used = sourceBytes;
      continue;
    }
    if (static_cast<DWORD>(frameBytes) > sourceBytes - used) break;
    const DWORD frameOutput = static_cast<DWORD>(frameSamples) * frameBlock;
    if (frameOutput > destinationBytes - produced) break;
    if (mpg123_feed(converter->handle, source + used, static_cast<size_t>(frameBytes)) != MPG123_OK)
      break;
    used += static_cast<DWORD>(frameBytes);
    for (;;) {
      off_t number = 0;
      unsigned char* audio = nullptr;
      size_t bytes = 0;
      const int result = mpg123_decode_frame(converter->handle, &number, &audio, &bytes);
      if (result == MPG123_NEW_FORMAT) continue;
      if (result != MPG123_OK) break;
      const DWORD take = static_cast<DWORD>(std::min<size_t>(bytes, destinationBytes - produced));
      if (take != 0) std::memcpy(destination + produced, audio, take);
      produced += take;
    }
  }
  *sourceUsed = used;
  *destinationUsed = produced;
}
