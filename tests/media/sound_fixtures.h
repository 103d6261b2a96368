// Sound files made by the tests themselves: RIFF/WAVE images chunk by chunk, Ogg Vorbis files
// encoded with libvorbisenc, and an independent libvorbisfile decode to compare against.
#pragma once

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sound_fixtures {

inline void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

inline void AddChunk(std::vector<std::uint8_t>& out, const char* id,
                     const std::vector<std::uint8_t>& body,
                     std::uint32_t declaredSize = 0xFFFFFFFF) {
  out.insert(out.end(), id, id + 4);
  Put32(out, declaredSize == 0xFFFFFFFF ? static_cast<std::uint32_t>(body.size()) : declaredSize);
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() & 1) out.push_back(0);
}

struct WaveFields {
  std::uint16_t tag = 1;
  std::uint16_t channels = 2;
  std::uint32_t rate = 44100;
  std::uint32_t average = 176400;
  std::uint16_t block = 4;
  std::uint16_t bits = 16;
  bool sixteenByteChunk = true;
};

inline std::vector<std::uint8_t> FormatBody(const WaveFields& f) {
  std::vector<std::uint8_t> body;
  Put16(body, f.tag);
  Put16(body, f.channels);
  Put32(body, f.rate);
  Put32(body, f.average);
  Put16(body, f.block);
  Put16(body, f.bits);
  if (!f.sixteenByteChunk) Put16(body, 0);
  return body;
}

// "RIFF" size "WAVE" followed by the given chunks, already laid out.
inline std::vector<std::uint8_t> Riff(const std::vector<std::uint8_t>& chunks) {
  std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
  Put32(out, static_cast<std::uint32_t>(chunks.size() + 4));
  out.insert(out.end(), {'W', 'A', 'V', 'E'});
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

inline std::vector<std::uint8_t> Wave(const WaveFields& fields,
                                      const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> chunks;
  AddChunk(chunks, "fmt ", FormatBody(fields));
  AddChunk(chunks, "data", data);
  return Riff(chunks);
}

inline std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> out;
  for (std::int16_t s : samples) Put16(out, static_cast<std::uint16_t>(s));
  return out;
}

// A chord that moves, so that every frame differs; amplitude below full scale.
inline float TestTone(int frame, int channel, int rate) {
  const double t = static_cast<double>(frame) / rate;
  return static_cast<float>(0.4 * std::sin(2 * M_PI * (440.0 + 110.0 * channel) * t) +
                            0.2 * std::sin(2 * M_PI * 1234.5 * t * (1.0 + t)));
}

// An Ogg Vorbis file of `frames` frames of TestTone, encoded at quality 0.4 with a fixed serial.
inline std::vector<std::uint8_t> EncodeOggVorbis(int channels, int rate, int frames) {
  vorbis_info info;
  vorbis_info_init(&info);
  vorbis_encode_init_vbr(&info, channels, rate, 0.4f);
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 0x5EED);

  std::vector<std::uint8_t> out;
  auto writePage = [&out](const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
  };
  ogg_packet header, commentHeader, codeHeader;
  vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codeHeader);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &commentHeader);
  ogg_stream_packetin(&stream, &codeHeader);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page) != 0) writePage(page);

  int written = 0;
  bool finished = false;
  while (!finished) {
    const int chunk = std::min(1024, frames - written);
    if (chunk <= 0) {
      vorbis_analysis_wrote(&dsp, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&dsp, chunk);
      for (int i = 0; i < chunk; ++i)
        for (int c = 0; c < channels; ++c) buffer[c][i] = TestTone(written + i, c, rate);
      vorbis_analysis_wrote(&dsp, chunk);
      written += chunk;
    }
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page) != 0) {
          writePage(page);
          if (ogg_page_eos(&page)) finished = true;
        }
      }
    }
    if (chunk <= 0 && !finished) {
      while (ogg_stream_flush(&stream, &page) != 0) writePage(page);
      finished = true;
    }
  }
  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

struct MemorySource {
  const std::vector<std::uint8_t>* bytes;
  std::size_t position;
};

// Decodes with libvorbisfile directly (16-bit little-endian signed), as a reference.
inline std::vector<std::int16_t> DecodeOggVorbisReference(const std::vector<std::uint8_t>& file) {
  MemorySource source{&file, 0};
  ov_callbacks callbacks{};
  callbacks.read_func = [](void* buffer, size_t size, size_t count, void* data) -> size_t {
    auto* s = static_cast<MemorySource*>(data);
    const std::size_t left = s->bytes->size() - s->position;
    const std::size_t bytes = std::min(left, size * count);
    std::memcpy(buffer, s->bytes->data() + s->position, bytes);
    s->position += bytes;
    return size ? bytes / size : 0;
  };
  callbacks.seek_func = [](void* data, ogg_int64_t offset, int whence) -> int {
    auto* s = static_cast<MemorySource*>(data);
    const ogg_int64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? s->position
                                                  : s->bytes->size();
    if (base + offset < 0 || base + offset > static_cast<ogg_int64_t>(s->bytes->size())) return -1;
    s->position = static_cast<std::size_t>(base + offset);
    return 0;
  };
  callbacks.tell_func = [](void* data) -> long {
    return static_cast<long>(static_cast<MemorySource*>(data)->position);
  };
  OggVorbis_File vf;
  std::vector<std::int16_t> pcm;
  if (ov_open_callbacks(&source, &vf, nullptr, 0, callbacks) != 0) return pcm;
  char buffer[4096];
  int section = 0;
  for (;;) {
    const long got = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section);
    if (got <= 0) break;
    for (long i = 0; i + 1 < got; i += 2)
      pcm.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(buffer[i]) |
                                              (static_cast<std::uint8_t>(buffer[i + 1]) << 8)));
  }
  ov_clear(&vf);
  return pcm;
}

}  // namespace sound_fixtures
