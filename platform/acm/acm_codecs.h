// The converters behind the compression manager's streams: a source format checked and
// described once at open, then whole source blocks (or MPEG frames) turned into 16-bit PCM.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/acm/acm.h"

struct MpegConverter;

struct AcmSourceFormat {
  WORD tag;
  WORD channels;
  DWORD rate;
  WORD blockAlign;      // bytes of one source block (1 for MPEG: frames are found by parsing)
  int samplesPerBlock;  // frames of PCM per source block (ADPCM and G.711)
  std::vector<std::int16_t> coefficients;  // MS ADPCM predictor pairs, two per set
};

// True when the layer converts `format` (its extra bytes follow it); fills `out`.
bool DescribeAcmSource(const WAVEFORMATEX* format, AcmSourceFormat* out);

// Decodes one source block of a G.711 or ADPCM format into samplesPerBlock × channels samples.
// False for a block that cannot be decoded (an MS ADPCM predictor outside the table).
bool DecodeAcmBlock(const AcmSourceFormat& format, const std::uint8_t* block, std::int16_t* out);

// MPEG audio through libmpg123, one whole frame at a time.
MpegConverter* OpenMpegConverter(const AcmSourceFormat& format);
void CloseMpegConverter(MpegConverter* converter);
// Converts whole frames from `source` while their PCM fits into `destination`.
void ConvertMpegFrames(MpegConverter* converter, const std::uint8_t* source, DWORD sourceBytes,
                       std::uint8_t* destination, DWORD destinationBytes, DWORD* sourceUsed,
                       DWORD* destinationUsed);
// Bytes and PCM frames of the MPEG frame whose header starts at `header`; false when it is not a
// header the layer can step over (bad sync, reserved values, free format).
bool MeasureMpegFrame(const std::uint8_t* header, int* frameBytes, int* frameSamples);
