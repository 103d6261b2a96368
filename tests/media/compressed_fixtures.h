// Compressed sound files made by the tests: G.711 and ADPCM WAV files from encoders written here
// (IMA and MS ADPCM, any block size), MP3 files encoded with libmp3lame, and references that do
// not share the engine's code: SoX's decoders for the WAV files, libmpg123 used directly for MP3.
#pragma once

#include <lame/lame.h>
#include <mpg123.h>
#include <sox.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "sound_fixtures.h"

namespace compressed_fixtures {

using sound_fixtures::AddChunk;
using sound_fixtures::Put16;
using sound_fixtures::Put32;
using sound_fixtures::Riff;

// Interleaved 16-bit samples of the moving test chord.
inline std::vector<std::int16_t> ToneSamples(int channels, int rate, int frames) {
  std::vector<std::int16_t> out;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      out.push_back(static_cast<std::int16_t>(sound_fixtures::TestTone(i, c, rate) * 30000));
  return out;
}

struct CompressedWave {
  std::uint16_t tag;
  int channels;
  int rate;
  int blockAlign;
  int bits;
  std::vector<std::uint8_t> extra;  // the format's extra bytes
  std::vector<std::uint8_t> data;
};

inline std::vector<std::uint8_t> WaveFile(const CompressedWave& w) {
  std::vector<std::uint8_t> format;
  Put16(format, w.tag);
  Put16(format, static_cast<std::uint32_t>(w.channels));
  Put32(format, static_cast<std::uint32_t>(w.rate));
  const int perBlock = w.extra.size() >= 2 ? w.extra[0] | (w.extra[1] << 8) : 1;
  Put32(format,
        static_cast<std::uint32_t>(static_cast<long long>(w.rate) * w.blockAlign / perBlock));
  Put16(format, static_cast<std::uint32_t>(w.blockAlign));
  Put16(format, static_cast<std::uint32_t>(w.bits));
  Put16(format, static_cast<std::uint32_t>(w.extra.size()));
  format.insert(format.end(), w.extra.begin(), w.extra.end());
  std::vector<std::uint8_t> chunks;
  AddChunk(chunks, "fmt ", format);
  std::vector<std::uint8_t> fact;
  Put32(fact, 0);
  AddChunk(chunks, "fact", fact);
  AddChunk(chunks, "data", w.data);
  return Riff(chunks);
}

// G.711: every code, in turn, on every channel.
inline CompressedWave G711Wave(std::uint16_t tag, int channels, int frames) {
  CompressedWave w{tag, channels, 8000, channels, 8, {}, {}};
  for (int i = 0; i < frames * channels; ++i) w.data.push_back(static_cast<std::uint8_t>(i * 7));
  return w;
}

constexpr std::array<int, 89> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// IMA ADPCM with `blockAlign`-byte blocks; whole blocks only.
inline CompressedWave ImaWave(int channels, int rate, int blockAlign, int blocks) {
  const int perBlock = (blockAlign - 4 * channels) * 2 / channels + 1;
  const auto pcm = ToneSamples(channels, rate, perBlock * blocks);
  CompressedWave w{0x11, channels, rate, blockAlign, 4, {}, {}};
  Put16(w.extra, static_cast<std::uint32_t>(perBlock));
  const int indexSteps[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
  for (int b = 0; b < blocks; ++b) {
    const std::size_t start = w.data.size();
    int predictor[2], index[2];
    for (int c = 0; c < channels; ++c) {
      predictor[c] = pcm[(b * perBlock) * channels + c];
      index[c] = (b * 11 + c * 30) % 89;
      Put16(w.data, static_cast<std::uint16_t>(predictor[c]));
      w.data.push_back(static_cast<std::uint8_t>(index[c]));
      w.data.push_back(0);
    }
    std::vector<std::uint8_t> codes[2];
    for (int s = 1; s < perBlock; ++s) {
      for (int c = 0; c < channels; ++c) {
        const int step = kImaSteps[index[c]];
        int diff = pcm[(b * perBlock + s) * channels + c] - predictor[c];
        int code = 0;
        if (diff < 0) {
          code = 8;
          diff = -diff;
        }
        int delta = step >> 3;
        if (diff >= step) code |= 4, diff -= step, delta += step;
        if (diff >= step >> 1) code |= 2, diff -= step >> 1, delta += step >> 1;
        if (diff >= step >> 2) code |= 1, delta += step >> 2;
        predictor[c] =
            std::clamp((code & 8) ? predictor[c] - delta : predictor[c] + delta, -32768, 32767);
        index[c] = std::clamp(index[c] + indexSteps[code & 7], 0, 88);
        codes[c].push_back(static_cast<std::uint8_t>(code));
      }
    }
    for (std::size_t group = 0; group * 8 < codes[0].size(); ++group)
      for (int c = 0; c < channels; ++c)
        for (int k = 0; k < 4; ++k)
          w.data.push_back(static_cast<std::uint8_t>(codes[c][group * 8 + 2 * k] |
                                                     (codes[c][group * 8 + 2 * k + 1] << 4)));
    w.data.resize(start + static_cast<std::size_t>(blockAlign), 0);
  }
  return w;
}

constexpr int kMsCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                       {240, 0}, {460, -208}, {392, -232}};

// MS ADPCM with `blockAlign`-byte blocks, each block with another predictor set.
inline CompressedWave MsAdpcmWave(int channels, int rate, int blockAlign, int blocks) {
  const int perBlock = (blockAlign - 7 * channels) * 2 / channels + 2;
  const auto pcm = ToneSamples(channels, rate, perBlock * blocks);
  CompressedWave w{0x02, channels, rate, blockAlign, 4, {}, {}};
  Put16(w.extra, static_cast<std::uint32_t>(perBlock));
  Put16(w.extra, 7);
  for (const auto& pair : kMsCoefficients) {
    Put16(w.extra, static_cast<std::uint16_t>(pair[0]));
    Put16(w.extra, static_cast<std::uint16_t>(pair[1]));
  }
  const int adaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                              768, 614, 512, 409, 307, 230, 230, 230};
  for (int b = 0; b < blocks; ++b) {
    const std::size_t start = w.data.size();
    auto at = [&](int s, int c) {
      return static_cast<int>(pcm[(b * perBlock + s) * channels + c]);
    };
    int set[2], delta[2], s1[2], s2[2];
    for (int c = 0; c < channels; ++c) {
      set[c] = (b + c) % 7;
      delta[c] = 16 + 40 * ((b + c) % 5);
      s2[c] = at(0, c);
      s1[c] = at(1, c);
    }
    for (int c = 0; c < channels; ++c) w.data.push_back(static_cast<std::uint8_t>(set[c]));
    for (int c = 0; c < channels; ++c) Put16(w.data, static_cast<std::uint16_t>(delta[c]));
    for (int c = 0; c < channels; ++c) Put16(w.data, static_cast<std::uint16_t>(s1[c]));
    for (int c = 0; c < channels; ++c) Put16(w.data, static_cast<std::uint16_t>(s2[c]));
    std::vector<int> codes;
    for (int s = 2; s < perBlock; ++s) {
      for (int c = 0; c < channels; ++c) {
        const int predicted =
            (s1[c] * kMsCoefficients[set[c]][0] + s2[c] * kMsCoefficients[set[c]][1]) >> 8;
        int code = (at(s, c) - predicted) / delta[c];
        code = std::clamp(code, -8, 7);
        const int sample = std::clamp(predicted + code * delta[c], -32768, 32767);
        s2[c] = s1[c];
        s1[c] = sample;
        const int nibble = code & 0x0F;
        delta[c] = std::max((adaptation[nibble] * delta[c]) >> 8, 16);
        codes.push_back(nibble);
      }
    }
    for (std::size_t i = 0; i < codes.size(); i += 2)
      w.data.push_back(
          static_cast<std::uint8_t>((codes[i] << 4) | (i + 1 < codes.size() ? codes[i + 1] : 0)));
    w.data.resize(start + static_cast<std::size_t>(blockAlign), 0);
  }
  return w;
}

// SoX's own decode of a WAV file on disk, as 16-bit samples.
inline std::vector<std::int16_t> DecodeSoxFile(const std::string& path) {
  static const bool ready = [] {
    sox_globals.verbosity = 0;
    return sox_init() == SOX_SUCCESS && sox_format_init() == SOX_SUCCESS;
  }();
  std::vector<std::int16_t> out;
  sox_format_t* in = ready ? sox_open_read(path.c_str(), nullptr, nullptr, "wav") : nullptr;
  if (in == nullptr) return out;
  sox_sample_t buffer[4096];
  size_t got;
  while ((got = sox_read(in, buffer, 4096)) > 0)
    for (size_t i = 0; i < got; ++i) out.push_back(static_cast<std::int16_t>(buffer[i] >> 16));
  sox_close(in);
  return out;
}

inline std::string WriteTemporaryFile(const std::string& name,
                                      const std::vector<std::uint8_t>& bytes) {
  const std::string path = name + "_" + std::to_string(getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

inline std::vector<std::int16_t> DecodeWithSox(const std::vector<std::uint8_t>& file) {
  const std::string path = WriteTemporaryFile("sox_reference.wav", file);
  auto out = DecodeSoxFile(path);
  std::remove(path.c_str());
  return out;
}

struct Mp3Options {
  int channels;
  int rate;
  int frames;
  bool vbr;
};

// An MP3 file of the test chord encoded by libmp3lame; a VBR file starts with its info frame.
inline std::vector<std::uint8_t> EncodeMp3(const Mp3Options& o) {
  lame_global_flags* lame = lame_init();
  lame_set_num_channels(lame, o.channels);
  lame_set_in_samplerate(lame, o.rate);
  lame_set_out_samplerate(lame, o.rate);
  lame_set_mode(lame, o.channels == 1 ? MONO : JOINT_STEREO);
  lame_set_quality(lame, 7);
  if (o.vbr) {
    lame_set_VBR(lame, vbr_default);
    lame_set_VBR_quality(lame, 4);
  } else {
    lame_set_brate(lame, 128);
    lame_set_bWriteVbrTag(lame, 0);
  }
  lame_init_params(lame);
  const auto pcm = ToneSamples(o.channels, o.rate, o.frames);
  std::vector<std::int16_t> left, right;
  for (int i = 0; i < o.frames; ++i) {
    left.push_back(pcm[i * o.channels]);
    right.push_back(pcm[i * o.channels + o.channels - 1]);
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(o.frames) * 5 / 4 + 7200 + 16384);
  int n = lame_encode_buffer(lame, left.data(), right.data(), o.frames, out.data(),
                             static_cast<int>(out.size()));
  n += lame_encode_flush(lame, out.data() + n, static_cast<int>(out.size()) - n);
  out.resize(static_cast<std::size_t>(n));
  if (o.vbr) {
    unsigned char tag[4096];
    const size_t tagBytes = lame_get_lametag_frame(lame, tag, sizeof tag);
    std::copy(tag, tag + std::min(tagBytes, out.size()), out.begin());
  }
  lame_close(lame);
  return out;
}

// libmpg123 used directly: every frame decoded, no gapless trimming, the info frame as audio.
inline std::vector<std::int16_t> DecodeWithMpg123(const std::vector<std::uint8_t>& file) {
  mpg123_init();
  mpg123_handle* handle = mpg123_new(nullptr, nullptr);
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0.0);
  mpg123_open_feed(handle);
  mpg123_feed(handle, file.data(), file.size());
  std::vector<std::int16_t> out;
  for (;;) {
    off_t number = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int result = mpg123_decode_frame(handle, &number, &audio, &bytes);
    if (result == MPG123_NEW_FORMAT) continue;
    if (result != MPG123_OK) break;
    for (size_t i = 0; i + 1 < bytes; i += 2)
      out.push_back(static_cast<std::int16_t>(audio[i] | (audio[i + 1] << 8)));
  }
  mpg123_delete(handle);
  return out;
}

// A 10-byte ID3v2 header with the given size bytes and a body of that many bytes.
inline std::vector<std::uint8_t> Id3v2Tag(std::array<std::uint8_t, 4> size, int body) {
  std::vector<std::uint8_t> tag = {'I', 'D', '3', 3, 0, 0, size[0], size[1], size[2], size[3]};
  tag.resize(tag.size() + static_cast<std::size_t>(body), 0);
  return tag;
}

inline std::vector<std::uint8_t> Id3v1Tag() {
  std::vector<std::uint8_t> tag(128, ' ');
  tag[0] = 'T';
  tag[1] = 'A';
  tag[2] = 'G';
  return tag;
}

inline std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> out(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

}  // namespace compressed_fixtures
