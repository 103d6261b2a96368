// The Theora decoder on movies the tests encode: the index, seeks and advances to the right
// picture, the conversion tables, the stock, the refusals and closing while the thread decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "files/file_table.h"
#include "media/sound_fixtures.h"
#include "media/theora_decoder.h"
#include "media/theora_fixtures.h"
#include "system/tracked_memory.h"

namespace {

using theora_fixtures::MakeTheoraMovie;
using theora_fixtures::MovieShape;

struct OpenedMovie {
  FileHandle file = 0;
  TheoraDecoderRecord* decoder = nullptr;
};

OpenedMovie OpenFixture(const std::string& name, const std::vector<std::uint8_t>& bytes,
                        int stock = kMovieFrameStock) {
  const std::string path =
      theora_fixtures::WriteTempFile(std::filesystem::temp_directory_path(),
                                     "movie" + std::to_string(getpid()) + "_" + name, bytes);
  OpenedMovie movie;
  movie.file = fileFunctionTable.open(path.c_str(), 0, 1, 0);
  if (movie.file != 0) movie.decoder = OpenTheoraDecoder(&fileFunctionTable, movie.file, stock);
  return movie;
}

void CloseFixture(OpenedMovie& movie) {
  if (movie.decoder != nullptr) CloseTheoraDecoder(movie.decoder);
  if (movie.file != 0) fileFunctionTable.close(movie.file);
  movie = {};
}

int ShownFrame(TheoraDecoderRecord* decoder) {
  ConvertTheoraFrame(decoder, 1, 0);
  const StandardImage* image = GetTheoraFrameImage(decoder);
  return theora_fixtures::ReadFrameNumber(image->pixels, image->pitch, image->width, image->height);
}

class TheoraDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildYuvToRgbTables();
    blocksBefore = GetTrackedBlockCount();
  }
  void TearDown() override { EXPECT_EQ(GetTrackedBlockCount(), blocksBefore) << "leaked blocks"; }
  int blocksBefore = 0;
};

TEST_F(TheoraDecoderTest, IndexCountsFramesPagesAndKeyframes) {
  std::vector<int> keyframes;
  OpenedMovie movie = OpenFixture("index.ogv", MakeTheoraMovie({}, &keyframes));
  ASSERT_EQ(keyframes.size(), 30u);
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoderRecord* d = movie.decoder;
  EXPECT_EQ(d->frameCount, 30);
  EXPECT_EQ(d->pageCount, 30);
  int sinceKeyframe = 0;
  for (int frame = 0; frame < 30; ++frame) {
    SCOPED_TRACE(frame);
    EXPECT_EQ(d->keyframes[frame], keyframes[frame]);
    EXPECT_EQ(d->pageIndex[frame].keyframe, keyframes[frame]);
    // The forced interval: never more than 10 frames without one.
    sinceKeyframe = keyframes[frame] ? 0 : sinceKeyframe + 1;
    EXPECT_LT(sinceKeyframe, 10);
    EXPECT_EQ(d->pageIndex[frame].firstFrame, frame);
    EXPECT_EQ(d->pageIndex[frame].frames, 1);
  }
  EXPECT_EQ(d->pageIndex[0].offset, 0);
  TheoraMovieInfo info{};
  GetTheoraMovieInfo(d, &info);
  EXPECT_EQ(info.framesPerSecond, 25.0);
  EXPECT_EQ(info.frameCount, 30);
  EXPECT_EQ(info.width, 64);
  EXPECT_EQ(info.height, 48);
  // Open leaves the first frame in the image.
  EXPECT_EQ(GetTheoraCurrentFrame(d), 0);
  EXPECT_EQ(theora_fixtures::ReadFrameNumber(d->frameImage.pixels, d->frameImage.pitch, 64, 48), 0);
  CloseFixture(movie);
}

TEST_F(TheoraDecoderTest, A1500FrameMovieGrowsTheIndexOnce) {
  MovieShape shape;
  shape.frames = 1500;
  shape.keyframeInterval = 64;
  OpenedMovie movie = OpenFixture("long.ogv", MakeTheoraMovie(shape));
  ASSERT_NE(movie.decoder, nullptr);
  EXPECT_EQ(movie.decoder->frameCount, 1500);
  EXPECT_EQ(movie.decoder->pageCapacity, 2000);
  EXPECT_EQ(movie.decoder->keyframeCapacity, 2000);
  SeekTheoraFrame(movie.decoder, 1234);
  EXPECT_EQ(ShownFrame(movie.decoder), 1234);
  CloseFixture(movie);
}

struct LayoutCase {
  const char* name;
  MovieShape shape;
};

MovieShape Spanning() {
  MovieShape shape;
  shape.pagePerPacket = false;
  shape.segmentsPerPage = 3;
  shape.noise = true;
  shape.width = 128;
  shape.height = 64;
  return shape;
}
MovieShape WithFormat(th_pixel_fmt format) {
  MovieShape shape;
  shape.format = format;
  return shape;
}
MovieShape WithGarbage() {
  MovieShape shape;
  shape.garbageBetweenPages = true;
  return shape;
}
MovieShape WithVorbis() {
  MovieShape shape;
  shape.vorbis = true;
  shape.pagePerPacket = false;
  shape.pageFill = 4096;
  return shape;
}

class TheoraLayoutTest : public TheoraDecoderTest,
                         public ::testing::WithParamInterface<LayoutCase> {};

// Seeks (from the page before the nearest keyframe), then advances that wrap past the end.
TEST_P(TheoraLayoutTest, SeekAndAdvanceShowTheWantedPicture) {
  const std::vector<std::uint8_t> bytes = MakeTheoraMovie(GetParam().shape);
  if (GetParam().shape.noise) {
    // The fixture does what it is for: pages that continue a packet begun on an earlier one.
    int continued = 0;
    for (std::size_t at = 0; at + 6 <= bytes.size(); ++at)
      if (std::memcmp(&bytes[at], "OggS", 4) == 0 && (bytes[at + 5] & 1) != 0) ++continued;
    ASSERT_GT(continued, 20);
  }
  OpenedMovie movie = OpenFixture(std::string(GetParam().name) + ".ogv", bytes);
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoderRecord* d = movie.decoder;
  ASSERT_EQ(d->frameCount, 30);
  constexpr struct {
    int target;
    int shown;
  } kSeeks[] = {{0, 0}, {9, 9}, {10, 10}, {11, 11}, {29, 29}, {40, 29}, {3, 3}, {21, 21}};
  for (const auto& seek : kSeeks) {
    SCOPED_TRACE(seek.target);
    SeekTheoraFrame(d, seek.target);
    EXPECT_EQ(GetTheoraCurrentFrame(d), seek.shown);
    EXPECT_EQ(ShownFrame(d), seek.shown);
  }
  // A seek to the current frame hands nothing to the thread and keeps the picture current.
  SeekTheoraFrame(d, 21);
  EXPECT_EQ(ConvertTheoraFrame(d, 1, 0), 0);

  SeekTheoraFrame(d, 28);
  EXPECT_EQ(ShownFrame(d), 28);
  AdvanceTheoraFrame(d, 3);
  EXPECT_EQ(GetTheoraCurrentFrame(d), 1);
  EXPECT_EQ(ShownFrame(d), 1);
  // Frame by frame through the end and round again.
  for (int frame = 2; frame < 2 + 35; ++frame) {
    AdvanceTheoraFrame(d, 1);
    ASSERT_EQ(ShownFrame(d), frame % 30) << frame;
  }
  CloseFixture(movie);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TheoraLayoutTest,
                         ::testing::Values(LayoutCase{"one_page_per_packet", MovieShape{}},
                                           LayoutCase{"packets_span_pages", Spanning()},
                                           LayoutCase{"bytes_between_pages", WithGarbage()},
                                           LayoutCase{"with_vorbis_track", WithVorbis()},
                                           LayoutCase{"yuv422", WithFormat(TH_PF_422)},
                                           LayoutCase{"yuv444", WithFormat(TH_PF_444)}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(TheoraDecoderTest, TableConversionPoints) {
  struct Point {
    int y, u, v;
    int b, g, r;
  };
  // Worked by hand from the table formulas, divisions truncating toward zero.
  const Point points[] = {
      {16, 128, 128, 0, 0, 0},      {235, 128, 128, 254, 254, 254}, {255, 128, 128, 255, 255, 255},
      {0, 128, 128, 0, 0, 0},       {81, 90, 240, 0, 0, 254},  // red: 4168126 / 16384 = 254.4
      {145, 54, 34, 0, 255, 0},                                // green: 4186154 / 16384 = 255.5
      {41, 240, 110, 255, 0, 0},                               // blue: 4179694 / 16384 = 255.1
      {100, 100, 150, 41, 90, 132},  // R: 2177136 / 16384 = 132.9, truncated
  };
  for (const Point& p : points) {
    SCOPED_TRACE(::testing::Message() << p.y << "," << p.u << "," << p.v);
    std::uint8_t bgra[4] = {};
    ConvertYuvPixelWithTables(p.y, p.u, p.v, bgra);
    EXPECT_EQ(bgra[0], p.b);
    EXPECT_EQ(bgra[1], p.g);
    EXPECT_EQ(bgra[2], p.r);
    EXPECT_EQ(bgra[3], 255);
  }
}

// A 4 x 2 frame with chroma (U, V) = (a, b) on the left pair and (c, d) on the right pair.
TEST_F(TheoraDecoderTest, SurfacePackingLaysOutEachFourcc) {
  std::uint8_t y[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::uint8_t u[2] = {0xA0, 0xC0};
  std::uint8_t v[2] = {0xB0, 0xD0};
  TheoraFrameSlot slot;
  slot.planeY = y;
  slot.planeU = u;
  slot.planeV = v;
  slot.yWidth = 4;
  slot.yHeight = 2;
  slot.yStride = 4;
  slot.uvWidth = 2;
  slot.uvHeight = 1;
  slot.uvStride = 2;
  const struct {
    const char* fourcc;
    int pitch;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      // Y rows a pitch apart, then V and U at half the pitch.
      {"YV12", 6, {1, 2, 3, 4, 0, 0, 5, 6, 7, 8, 0, 0, 0xB0, 0xD0, 0, 0xA0, 0xC0, 0}},
      {"YUY2", 8, {1, 0xA0, 2, 0xB0, 3, 0xC0, 4, 0xD0, 5, 0xA0, 6, 0xB0, 7, 0xC0, 8, 0xD0}},
      {"UYVY", 8, {0xA0, 1, 0xB0, 2, 0xC0, 3, 0xD0, 4, 0xA0, 5, 0xB0, 6, 0xC0, 7, 0xD0, 8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fourcc);
    const std::uint32_t format = static_cast<std::uint32_t>(c.fourcc[0]) |
                                 (static_cast<std::uint32_t>(c.fourcc[1]) << 8) |
                                 (static_cast<std::uint32_t>(c.fourcc[2]) << 16) |
                                 (static_cast<std::uint32_t>(c.fourcc[3]) << 24);
    std::vector<std::uint8_t> surface(c.bytes.size(), 0);
    ASSERT_EQ(PackTheoraFrameToSurface(&slot, format, surface.data(), c.pitch), 0);
    EXPECT_EQ(surface, c.bytes);
  }
}

TEST_F(TheoraDecoderTest, TheStockFillsTheWindowAheadAndIdles) {
  OpenedMovie movie = OpenFixture("stock.ogv", MakeTheoraMovie({}));
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoderRecord* d = movie.decoder;
  SeekTheoraFrame(d, 25);
  ASSERT_EQ(ShownFrame(d), 25);
  // Waits at most ten seconds for the thread to find its stock full.
  for (int waited = 0; waited < 10000 && d->threadState.load() != kTheoraIdle; ++waited)
    usleep(1000);
  ASSERT_EQ(d->threadState.load(), kTheoraIdle) << "the stock never filled";
  std::vector<int> held;
  for (int i = 0; i < d->stockSize; ++i) held.push_back(d->stock[i].frame.load());
  std::sort(held.begin(), held.end());
  // The window of ten frames from 25 runs round the end of the movie.
  EXPECT_EQ(held, (std::vector<int>{0, 1, 2, 3, 4, 25, 26, 27, 28, 29}));
  CloseFixture(movie);
}

TEST_F(TheoraDecoderTest, FilesThatAreNotTheoraMoviesAreRefused) {
  std::vector<std::uint8_t> full = MakeTheoraMovie({});
  MovieShape headersOnly;
  headersOnly.frames = 0;
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"not_ogg", std::vector<std::uint8_t>(full.begin() + 4, full.end())},
      {"vorbis_only", sound_fixtures::EncodeOggVorbis(1, 22050, 4000)},
      {"cut_in_headers", std::vector<std::uint8_t>(full.begin(), full.begin() + 120)},
      {"headers_only", MakeTheoraMovie(headersOnly)},
      {"empty", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedMovie movie = OpenFixture(std::string(c.name) + ".ogv", c.bytes);
    ASSERT_NE(movie.file, 0);
    EXPECT_EQ(movie.decoder, nullptr);
    CloseFixture(movie);
  }
}

TEST_F(TheoraDecoderTest, ClosingWhileTheThreadDecodesJoinsIt) {
  MovieShape shape;
  shape.frames = 400;
  shape.keyframeInterval = 200;
  OpenedMovie movie = OpenFixture("close.ogv", MakeTheoraMovie(shape));
  ASSERT_NE(movie.decoder, nullptr);
  SeekTheoraFrame(movie.decoder, 390);
  AdvanceTheoraFrame(movie.decoder, 5);
  CloseFixture(movie);
}

}  // namespace
