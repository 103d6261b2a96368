// Ogg Vorbis through libvorbisenc; decoding through libvorbisfile, the path the engine uses.
#include "ogg_encoder.h"

#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <cstring>

namespace mubgen {

namespace {

void AppendPage(std::vector<uint8_t>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

struct MemoryFile {
  const std::vector<uint8_t>* bytes;
  size_t at = 0;
};

size_t ReadMemory(void* dst, size_t size, size_t count, void* source) {
  auto* m = static_cast<MemoryFile*>(source);
  size_t want = size * count;
  size_t left = m->bytes->size() - m->at;
  size_t n = want < left ? want : left;
  std::memcpy(dst, m->bytes->data() + m->at, n);
  m->at += n;
  return size ? n / size : 0;
}

}  // namespace

std::vector<uint8_t> EncodeOggVorbis(const Pcm& pcm, int serial) {
  std::vector<uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, 1, pcm.rate, 0.4f) != 0) {
    vorbis_info_clear(&vi);
    return out;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "TITLE", "mub");
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);

  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) AppendPage(out, page);

  constexpr size_t kChunk = 1024;
  size_t done = 0;
  bool finished = false;
  while (!finished) {
    size_t n = pcm.samples.size() - done < kChunk ? pcm.samples.size() - done : kChunk;
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, int(n));
      for (size_t i = 0; i < n; ++i) buffer[0][i] = float(pcm.samples[done + i]) / 32768.0f;
      vorbis_analysis_wrote(&vd, int(n));
      done += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page) != 0) {
          AppendPage(out, page);
          if (ogg_page_eos(&page)) finished = true;
        }
      }
    }
    if (n == 0) finished = true;
  }
  while (ogg_stream_flush(&os, &page) != 0) AppendPage(out, page);

  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

bool DecodeOggVorbis(const std::vector<uint8_t>& bytes, int& rate, int& channels,
                     std::vector<int16_t>& samples) {
  MemoryFile m{&bytes, 0};
  ov_callbacks cb{ReadMemory, nullptr, nullptr, nullptr};
  OggVorbis_File vf;
  if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0) return false;
  vorbis_info* vi = ov_info(&vf, -1);
  rate = int(vi->rate);
  channels = vi->channels;
  samples.clear();
  char buffer[8192];
  int section = 0;
  while (true) {
    long n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section);
    if (n < 0) {
      ov_clear(&vf);
      return false;
    }
    if (n == 0) break;
    for (long i = 0; i + 1 < n; i += 2 * channels)
      samples.push_back(
          int16_t(uint16_t(uint8_t(buffer[i])) | uint16_t(uint8_t(buffer[i + 1])) << 8));
  }
  ov_clear(&vf);
  return true;
}

}  // namespace mubgen
