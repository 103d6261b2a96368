// The block codecs of the compression manager: A-law and µ-law (one byte per sample), IMA ADPCM
// and MS ADPCM (blocks with a header per channel and 4-bit codes), decoded to 16-bit PCM.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/acm/acm_codecs.h"

namespace {

std::uint16_t Little16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::int16_t Clamp16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

std::int16_t DecodeALaw(std::uint8_t code) {
  code ^= 0x55;
  int value = (code & 0x0F) << 4;
  const int segment = (code & 0x70) >> 4;
  if (segment == 0) {
    value += 8;
  } else {
    value += 0x108;
    value <<= segment - 1;
  }
  return static_cast<std::int16_t>((code & 0x80) ? value : -value);
}

std::int16_t DecodeMuLaw(std::uint8_t code) {
  code = static_cast<std::uint8_t>(~code);
  int value = ((code & 0x0F) << 3) + 0x84;
  value <<= (code & 0x70) >> 4;
  return static_cast<std::int16_t>((code & 0x80) ? 0x84 - value : value - 0x84);
}

constexpr std::array<int, 89> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 8> kImaIndexSteps = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int predictor;
  int index;
};

std::int16_t DecodeImaCode(ImaChannel& channel, int code) {
  const int step = kImaSteps[channel.index];
  int difference = step >> 3;
  if (code & 4) difference += step;
  if (code & 2) difference += step >> 1;
  if (code & 1) difference += step >> 2;
  channel.predictor = std::clamp(
      (code & 8) ? channel.predictor - difference : channel.predictor + difference, -32768, 32767);
  channel.index = std::clamp(channel.index + kImaIndexSteps[code & 7], 0, 88);
  return static_cast<std::int16_t>(channel.predictor);
}

// After the channel headers, each channel has 4-byte groups of eight codes, low nibble first,
// the channels' groups taking turns.
bool DecodeImaBlock(const AcmSourceFormat& format, const std::uint8_t* block, std::int16_t* out) {
  const int channels = format.channels;
  ImaChannel state[2];
  for (int c = 0; c < channels; ++c) {
    const std::uint8_t* header = block + 4 * c;
    state[c].predictor = static_cast<std::int16_t>(Little16(header));
    state[c].index = std::min<int>(header[2], 88);
    out[c] = static_cast<std::int16_t>(state[c].predictor);
  }
  const std::uint8_t* data = block + 4 * channels;
  for (int sample = 1; sample < format.samplesPerBlock; ++sample) {
    const int code = sample - 1;
    const int group = code / 8;
    const int within = code % 8;
    for (int c = 0; c < channels; ++c) {
      const std::uint8_t byte = data[(group * channels + c) * 4 + within / 2];
      const int nibble = (within & 1) ? byte >> 4 : byte & 0x0F;
      out[sample * channels + c] = DecodeImaCode(state[c], nibble);
    }
  }
  return true;
}

constexpr std::array<int, 16> kMsAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                               768, 614, 512, 409, 307, 230, 230, 230};

constexpr int kLargestMsDelta = INT32_MAX / 1024;

struct MsChannel {
  int coefficient1;
  int coefficient2;
  int delta;
  int sample1;
  int sample2;
};

std::int16_t DecodeMsCode(MsChannel& channel, int code) {
  // Two 16-bit samples times two 16-bit coefficients sum to as much as 2^31: the prediction is
  // made in 64 bits and only the sample is clamped to 16.
  const std::int64_t predicted = (std::int64_t{channel.sample1} * channel.coefficient1 +
                                  std::int64_t{channel.sample2} * channel.coefficient2) >>
                                 8;
  const int signedCode = code >= 8 ? code - 16 : code;
  const std::int16_t sample = Clamp16(predicted + std::int64_t{signedCode} * channel.delta);
  channel.sample2 = channel.sample1;
  channel.sample1 = sample;
  // A damaged block can raise the step without end; past any real file's steps it stops
  // growing, so that it never overflows.
  channel.delta = std::clamp((kMsAdaptation[code] * channel.delta) >> 8, 16, kLargestMsDelta);
  return sample;
}

// The header holds, channel by channel, the predictor, the delta and the two first samples
// (the older one plays first); then the codes, high nibble first, channels interleaved.
bool DecodeMsBlock(const AcmSourceFormat& format, const std::uint8_t* block, std::int16_t* out) {
  const int channels = format.channels;
  const int sets = static_cast<int>(format.coefficients.size() / 2);
  MsChannel state[2];
  for (int c = 0; c < channels; ++c) {
    const int predictor = block[c];
    if (predictor >= sets) return false;
    state[c].coefficient1 = format.coefficients[2 * predictor];
    state[c].coefficient2 = format.coefficients[2 * predictor + 1];
    state[c].delta = static_cast<std::int16_t>(Little16(block + channels + 2 * c));
    state[c].sample1 = static_cast<std::int16_t>(Little16(block + 3 * channels + 2 * c));
    state[c].sample2 = static_cast<std::int16_t>(Little16(block + 5 * channels + 2 * c));
    out[c] = static_cast<std::int16_t>(state[c].sample2);
    out[channels + c] = static_cast<std::int16_t>(state[c].sample1);
  }
  const std::uint8_t* data = block + 7 * channels;
  const int codes = (format.samplesPerBlock - 2) * channels;
  for (int i = 0; i < codes; ++i) {
    const std::uint8_t byte = data[i / 2];
    const int nibble = (i & 1) ? byte & 0x0F : byte >> 4;
    out[2 * channels + i] = DecodeMsCode(state[i % channels], nibble);
  }
  return true;
}

}  // namespace

bool DescribeAcmSource(const WAVEFORMATEX* format, AcmSourceFormat* out) {
  if (format == nullptr || out == nullptr) return false;
  const WORD channels = format->nChannels;
  if (channels < 1 || channels > 2 || format->nSamplesPerSec == 0 ||
      format->nSamplesPerSec > 200000 || format->nBlockAlign == 0)
    return false;
  const auto* extra = reinterpret_cast<const std::uint8_t*>(format) + sizeof(WAVEFORMATEX);
  out->tag = format->wFormatTag;
  out->channels = channels;
  out->rate = format->nSamplesPerSec;
  out->blockAlign = format->nBlockAlign;
  out->coefficients.clear();
  switch (format->wFormatTag) {
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      if (format->wBitsPerSample != 8 || format->nBlockAlign != channels) return false;
      out->samplesPerBlock = 1;
      return true;
    case WAVE_FORMAT_IMA_ADPCM: {
      if (format->wBitsPerSample != 4 || format->cbSize < 2) return false;
      if (format->nBlockAlign < 4 * channels + 4 * channels) return false;
      const int most = (format->nBlockAlign - 4 * channels) * 2 / channels + 1;
      out->samplesPerBlock = Little16(extra);
      // Codes come in groups of eight per channel.
      return out->samplesPerBlock >= 2 && out->samplesPerBlock <= most &&
             (out->samplesPerBlock - 1) % 8 == 0;
    }
    case WAVE_FORMAT_ADPCM: {
      if (format->wBitsPerSample != 4 || format->cbSize < 4) return false;
      if (format->nBlockAlign < 7 * channels) return false;
      const int most = (format->nBlockAlign - 7 * channels) * 2 / channels + 2;
      out->samplesPerBlock = Little16(extra);
      const int sets = Little16(extra + 2);
      if (out->samplesPerBlock < 2 || out->samplesPerBlock > most || sets < 1 ||
          format->cbSize < 4 + 4 * sets)
        return false;
      for (int i = 0; i < 2 * sets; ++i)
        out->coefficients.push_back(static_cast<std::int16_t>(Little16(extra + 4 + 2 * i)));
      return true;
    }
    case WAVE_FORMAT_MPEGLAYER3:
    case WAVE_FORMAT_MPEG: out->samplesPerBlock = 0; return true;
    default: return false;
  }
}

bool DecodeAcmBlock(const AcmSourceFormat& format, const std::uint8_t* block, std::int16_t* out) {
  switch (format.tag) {
    case WAVE_FORMAT_ALAW:
      for (int c = 0; c < format.channels; ++c) out[c] = DecodeALaw(block[c]);
      return true;
    case WAVE_FORMAT_MULAW:
      for (int c = 0; c < format.channels; ++c) out[c] = DecodeMuLaw(block[c]);
      return true;
    case WAVE_FORMAT_IMA_ADPCM: return DecodeImaBlock(format, block, out);
    case WAVE_FORMAT_ADPCM: return DecodeMsBlock(format, block, out);
    default: return false;
  }
}
