// Ogg Theora movies made by the tests themselves with libtheoraenc and libogg (and libvorbisenc
// for a sound track). Each frame carries its own number as a pattern of black and white 16 x 16
// blocks, which survives the lossy coding and reads back from any converted picture.
#pragma once

#include <ogg/ogg.h>
#include <theora/theoraenc.h>
#include <vorbis/vorbisenc.h>

#include "platform/win32/file_path.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace theora_fixtures {

struct MovieShape {
  int width = 64;
  int height = 48;
  int frames = 30;
  int keyframeInterval = 10;
  th_pixel_fmt format = TH_PF_420;
  // Pages: one per packet; or libogg's pages of about `pageFill` bytes; or, with
  // `segmentsPerPage`, pages cut every few 255-byte segments, so that packets span pages.
  bool pagePerPacket = true;
  int pageFill = 0;
  int segmentsPerPage = 0;
  bool noise = false;  // grain on every frame, so packets are large
  bool vorbis = false;
  bool garbageBetweenPages = false;  // bytes no page owns after each video page
};

constexpr int kBlock = 16;

inline int CodeBlocks(int width, int height) { return (width / kBlock) * (height / kBlock); }

// Luma of pixel (x, y) of frame `frame`: bit i of the number is block i, row by row.
inline std::uint8_t FrameLuma(int frame, int x, int y, int width) {
  const int block = (y / kBlock) * (width / kBlock) + x / kBlock;
  return ((frame >> block) & 1) ? 235 : 16;
}

inline void AppendPage(std::vector<std::uint8_t>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

struct HeldPacket {
  std::vector<std::uint8_t> bytes;
  ogg_int64_t granule;
};

// Lays the packets out in pages of `segments` lacing values each, cut wherever the count runs
// out (libogg itself only cuts a packet at 255 segments).
inline void AppendCutPages(std::vector<std::uint8_t>& out, const std::vector<HeldPacket>& packets,
                           int serial, long firstPage, int segments) {
  struct Segment {
    std::uint8_t value;
    std::size_t packet;
    bool last;
  };
  std::vector<Segment> laced;
  for (std::size_t p = 0; p < packets.size(); ++p) {
    std::size_t left = packets[p].bytes.size();
    while (left >= 255) {
      laced.push_back({255, p, false});
      left -= 255;
    }
    laced.push_back({static_cast<std::uint8_t>(left), p, true});
  }
  std::size_t offsetInPacket = 0;
  long pageNumber = firstPage;
  for (std::size_t at = 0; at < laced.size(); at += static_cast<std::size_t>(segments)) {
    const std::size_t end = std::min(laced.size(), at + static_cast<std::size_t>(segments));
    std::vector<std::uint8_t> header = {'O', 'g', 'g', 'S', 0, 0};
    if (offsetInPacket != 0) header[5] |= 1;
    if (end == laced.size()) header[5] |= 4;
    ogg_int64_t granule = -1;
    std::vector<std::uint8_t> body;
    for (std::size_t i = at; i < end; ++i) {
      const HeldPacket& packet = packets[laced[i].packet];
      body.insert(body.end(), packet.bytes.begin() + static_cast<long>(offsetInPacket),
                  packet.bytes.begin() + static_cast<long>(offsetInPacket + laced[i].value));
      offsetInPacket += laced[i].value;
      if (laced[i].last) {
        granule = packet.granule;
        offsetInPacket = 0;
      }
    }
    for (int i = 0; i < 8; ++i) header.push_back(static_cast<std::uint8_t>(granule >> (8 * i)));
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<std::uint8_t>(serial >> (8 * i)));
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<std::uint8_t>(pageNumber >> (8 * i)));
    for (int i = 0; i < 4; ++i) header.push_back(0);
    header.push_back(static_cast<std::uint8_t>(end - at));
    for (std::size_t i = at; i < end; ++i) header.push_back(laced[i].value);
    ogg_page page{header.data(), static_cast<long>(header.size()), body.data(),
                  static_cast<long>(body.size())};
    ogg_page_checksum_set(&page);
    AppendPage(out, page);
    ++pageNumber;
  }
}

struct VorbisTrack {
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dsp;
  vorbis_block block;
  ogg_stream_state stream;
  std::int64_t written = 0;
  static constexpr int kRate = 22050;
};

inline void FlushVorbisPages(VorbisTrack& track, std::vector<std::uint8_t>& out, bool all) {
  ogg_packet packet;
  while (vorbis_analysis_blockout(&track.dsp, &track.block) == 1) {
    vorbis_analysis(&track.block, nullptr);
    vorbis_bitrate_addblock(&track.block);
    while (vorbis_bitrate_flushpacket(&track.dsp, &packet) == 1)
      ogg_stream_packetin(&track.stream, &packet);
  }
  ogg_page page;
  while (all ? ogg_stream_flush(&track.stream, &page) : ogg_stream_pageout(&track.stream, &page))
    AppendPage(out, page);
}

// Writes sine samples up to `until` samples into the track.
inline void WriteVorbisSamples(VorbisTrack& track, std::int64_t until) {
  const int count = static_cast<int>(until - track.written);
  if (count <= 0) return;
  float** buffer = vorbis_analysis_buffer(&track.dsp, count);
  for (int i = 0; i < count; ++i)
    buffer[0][i] = 0.25f * std::sin(static_cast<float>(track.written + i) * 0.05f);
  vorbis_analysis_wrote(&track.dsp, count);
  track.written = until;
}

// The movie's bytes; `keyframes`, when given, receives each frame's keyframe flag as the encoder
// made it (it adds keyframes of its own where the picture changes much).
inline std::vector<std::uint8_t> MakeTheoraMovie(const MovieShape& shape,
                                                 std::vector<int>* keyframes = nullptr) {
  th_info info;
  th_info_init(&info);
  info.frame_width = static_cast<ogg_uint32_t>(shape.width);
  info.frame_height = static_cast<ogg_uint32_t>(shape.height);
  info.pic_width = static_cast<ogg_uint32_t>(shape.width);
  info.pic_height = static_cast<ogg_uint32_t>(shape.height);
  info.fps_numerator = 25;
  info.fps_denominator = 1;
  info.aspect_numerator = 1;
  info.aspect_denominator = 1;
  info.pixel_fmt = shape.format;
  info.quality = 63;
  th_enc_ctx* encoder = th_encode_alloc(&info);
  ogg_uint32_t interval = static_cast<ogg_uint32_t>(shape.keyframeInterval);
  th_encode_ctl(encoder, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &interval, sizeof interval);

  std::vector<std::uint8_t> out;
  ogg_stream_state video;
  ogg_stream_init(&video, 0x7E0);
  th_comment comment;
  th_comment_init(&comment);
  ogg_packet packet;
  ogg_page page;
  std::vector<ogg_packet> later;
  std::vector<std::vector<std::uint8_t>> laterBytes;
  // The identification header alone on the first page; the rest after every stream began.
  bool first = true;
  while (th_encode_flushheader(encoder, &comment, &packet) > 0) {
    ogg_stream_packetin(&video, &packet);
    if (first) {
      while (ogg_stream_flush(&video, &page)) AppendPage(out, page);
      first = false;
    }
  }
  VorbisTrack track;
  if (shape.vorbis) {
    vorbis_info_init(&track.info);
    vorbis_encode_init_vbr(&track.info, 1, VorbisTrack::kRate, 0.1f);
    vorbis_comment_init(&track.comment);
    vorbis_analysis_init(&track.dsp, &track.info);
    vorbis_block_init(&track.dsp, &track.block);
    ogg_stream_init(&track.stream, 0x50C);
    ogg_packet id, commentPacket, code;
    vorbis_analysis_headerout(&track.dsp, &track.comment, &id, &commentPacket, &code);
    ogg_stream_packetin(&track.stream, &id);
    while (ogg_stream_flush(&track.stream, &page)) AppendPage(out, page);
    ogg_stream_packetin(&track.stream, &commentPacket);
    ogg_stream_packetin(&track.stream, &code);
  }
  while (ogg_stream_flush(&video, &page)) AppendPage(out, page);
  if (shape.vorbis) FlushVorbisPages(track, out, true);

  const int uvWidth = shape.format == TH_PF_444 ? shape.width : shape.width / 2;
  const int uvHeight = shape.format == TH_PF_420 ? shape.height / 2 : shape.height;
  std::vector<std::uint8_t> y(static_cast<std::size_t>(shape.width) * shape.height);
  std::vector<std::uint8_t> u(static_cast<std::size_t>(uvWidth) * uvHeight, 128);
  std::vector<std::uint8_t> v(u.size(), 128);
  std::mt19937 random(7);
  std::vector<HeldPacket> held;
  for (int frame = 0; frame < shape.frames; ++frame) {
    for (int row = 0; row < shape.height; ++row)
      for (int column = 0; column < shape.width; ++column) {
        int luma = FrameLuma(frame, column, row, shape.width);
        // Grain away from the block centres keeps the number readable.
        if (shape.noise && (column % kBlock < 4 || row % kBlock < 4))
          luma = luma == 16 ? 16 + static_cast<int>(random() % 60)
                            : 235 - static_cast<int>(random() % 60);
        y[static_cast<std::size_t>(row) * shape.width + column] = static_cast<std::uint8_t>(luma);
      }
    th_ycbcr_buffer buffer;
    buffer[0] = {shape.width, shape.height, shape.width, y.data()};
    buffer[1] = {uvWidth, uvHeight, uvWidth, u.data()};
    buffer[2] = {uvWidth, uvHeight, uvWidth, v.data()};
    th_encode_ycbcr_in(encoder, buffer);
    while (th_encode_packetout(encoder, frame + 1 == shape.frames, &packet) > 0) {
      if (keyframes != nullptr) keyframes->push_back(th_packet_iskeyframe(&packet));
      if (shape.segmentsPerPage > 0) {
        held.push_back({std::vector<std::uint8_t>(packet.packet, packet.packet + packet.bytes),
                        packet.granulepos});
        continue;
      }
      ogg_stream_packetin(&video, &packet);
      if (shape.pagePerPacket) {
        while (ogg_stream_flush(&video, &page)) {
          AppendPage(out, page);
          if (shape.garbageBetweenPages) out.insert(out.end(), {'j', 'u', 'n', 'k', 0, 1, 2});
        }
      } else {
        while (ogg_stream_flush_fill(&video, &page, shape.pageFill)) AppendPage(out, page);
      }
    }
    // The sound of each frame follows it on pages of its own, as a muxer interleaves them; the
    // Vorbis file layer does not read a short track that sits whole on its last page.
    if (shape.vorbis) {
      WriteVorbisSamples(track, static_cast<std::int64_t>(frame + 1) * VorbisTrack::kRate / 25);
      FlushVorbisPages(track, out, true);
    }
  }
  while (ogg_stream_flush(&video, &page)) AppendPage(out, page);
  if (shape.segmentsPerPage > 0)
    AppendCutPages(out, held, 0x7E0, video.pageno, shape.segmentsPerPage);
  if (shape.vorbis) {
    vorbis_analysis_wrote(&track.dsp, 0);
    FlushVorbisPages(track, out, true);
    ogg_stream_clear(&track.stream);
    vorbis_block_clear(&track.block);
    vorbis_dsp_clear(&track.dsp);
    vorbis_comment_clear(&track.comment);
    vorbis_info_clear(&track.info);
  }
  ogg_stream_clear(&video);
  th_comment_clear(&comment);
  th_encode_free(encoder);
  th_info_clear(&info);
  return out;
}

// The frame number shown in an XRGB8 picture (bytes B, G, R, 255), read at the block centres.
inline int ReadFrameNumber(const std::uint8_t* pixels, int pitch, int width, int height) {
  int number = 0;
  for (int block = 0; block < CodeBlocks(width, height); ++block) {
    const int x = (block % (width / kBlock)) * kBlock + kBlock / 2;
    const int yPos = (block / (width / kBlock)) * kBlock + kBlock / 2;
    if (pixels[static_cast<std::size_t>(yPos) * pitch + x * 4 + 1] >= 128) number |= 1 << block;
  }
  return number;
}

// Writes the bytes into `directory` and returns the file's path as the engine names it.
inline std::string WriteTempFile(const std::string& directory, const std::string& name,
                                 const std::vector<std::uint8_t>& bytes) {
  const std::string path = directory + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  std::string enginePath;
  MapPosixToEnginePath(path, enginePath);
  return enginePath;
}

}  // namespace theora_fixtures
