// The filter-graph sound decoder: an MPEG audio file goes through Render, the sample grabber and
// the renderer swap to completion, and gives the same PCM as libmpg123 used directly.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <cstring>
#include <vector>

#include "dshow_test_filters.h"
#include "media/dshow_framework.h"
#include "media/sound_decoder.h"
#include "system/log_fixture.h"
#include "system/tracked_memory.h"

namespace {

// MPEG-1 layer III frames at 44.1 kHz stereo, 128 kbit/s: 417 bytes each. Their side information
// is empty, so each decodes to 1152 silent sample frames.
std::vector<std::uint8_t> MpegAudioFrames(int count) {
  std::vector<std::uint8_t> bytes;
  for (int f = 0; f < count; ++f) {
    std::vector<std::uint8_t> frame(417, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    frame[3] = 0x00;
    for (size_t i = 36; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 13 + f);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  return bytes;
}

std::vector<std::uint8_t> DecodeWithLibmpg123(const std::vector<std::uint8_t>& data) {
  mpg123_init();
  mpg123_handle* handle = mpg123_new(nullptr, nullptr);
  mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_open_feed(handle);
  mpg123_feed(handle, data.data(), data.size());
  std::vector<std::uint8_t> pcm, block(65536);
  for (;;) {
    size_t done = 0;
    const int result = mpg123_read(handle, block.data(), block.size(), &done);
    pcm.insert(pcm.end(), block.begin(), block.begin() + static_cast<long>(done));
    if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
  }
  mpg123_delete(handle);
  return pcm;
}

class GraphAudioDecoder : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    SetPlatformVirtualTime(false);
    SetSoundDecoderDisableMask(kSoundDecoderSkipWavePcm | kSoundDecoderSkipWaveAcm |
                               kSoundDecoderSkipOggVorbis | kSoundDecoderSkipMp3Acm);
    objects_ = LiveFrameworkObjectCount();
  }
  void TearDown() override {
    SetSoundDecoderDisableMask(0);
    EXPECT_EQ(LiveFrameworkObjectCount(), objects_);
    LogFixture::TearDown();
  }
  int Open(const std::vector<std::uint8_t>& bytes) {
    memory_ = OpenMemoryStream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory_)};
    const int result = OpenSoundDecoder(&stream, &decoder_);
    return result;
  }
  void Close(int opened) {
    if (opened == 0) CloseSoundDecoder(&decoder_);
    CloseMemoryStream(reinterpret_cast<std::intptr_t>(memory_));
  }
  SoundDecoderRecord decoder_{};
  MemoryStreamRecord* memory_ = nullptr;
  LONG objects_ = 0;
};

TEST_F(GraphAudioDecoder, MpegAudioDecodesToTheSamePcmAsLibmpg123) {
  const auto file = MpegAudioFrames(12);
  const auto expected = DecodeWithLibmpg123(file);
  ASSERT_FALSE(expected.empty());
  const int opened = Open(file);
  ASSERT_EQ(opened, 0) << ReadLog();
  EXPECT_EQ(decoder_.kind, kSoundDecoderMemoryPcm);
  EXPECT_EQ(decoder_.outputFormat.nChannels, 2);
  EXPECT_EQ(decoder_.outputFormat.nSamplesPerSec, 44100u);
  EXPECT_EQ(decoder_.outputFormat.wBitsPerSample, 16);
  EXPECT_EQ(decoder_.outputBufferSize, 176400);
  ASSERT_EQ(decoder_.memoryPcm.size, static_cast<std::int32_t>(expected.size()));
  EXPECT_EQ(std::memcmp(decoder_.memoryPcm.data, expected.data(), expected.size()), 0);
  Close(opened);
}

TEST_F(GraphAudioDecoder, AFileNoFilterParsesFailsToBuildTheGraph) {
  std::vector<std::uint8_t> noise(5000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const int opened = Open(noise);
  EXPECT_EQ(opened, -1);
  EXPECT_NE(ReadLog().find("グラフの構築に失敗しました"), std::string::npos);
  Close(opened);
}

TEST_F(GraphAudioDecoder, ASwapThatFindsNoRendererFailsWithoutConnectingANullPin) {
  dshow_test::GraphDetour detour;
  dshow_test::DetouredGraph::bends.renderNothing = true;  // nothing downstream to swap
  const int opened = Open(MpegAudioFrames(4));
  EXPECT_EQ(opened, -1);
  EXPECT_NE(ReadLog().find("既存レンダラーをNullレンダラーと交換する処理が失敗しました"),
            std::string::npos);
  EXPECT_EQ(dshow_test::DetouredGraph::bends.connectCalls, 0);
  Close(opened);
}

TEST(PcmCapacity, TenTimesTheFileThenMebibyteStepsNeverPastTwoGibibytes) {
  constexpr std::int64_t kMiB = 1048576;
  constexpr std::int64_t kLargest = 0x7fffffff;
  struct Case {
    const char* name;
    std::int64_t fileSize;  // -1: a growth case
    std::int64_t capacity, needed, expected;
  };
  const Case cases[] = {
      {"ten times a small file", 1000, 0, 0, 10000},
      {"ten times just fits", 214748364, 0, 0, 2147483640},
      {"ten times passes 2 GiB", 214748365, 0, 0, -1},
      {"ten times wraps to 4 in 32 bits", 429496730, 0, 0, -1},
      {"ten times wraps to a negative size in 32 bits", 300000000, 0, 0, -1},
      {"room left: unchanged", -1, 10000, 9000, 10000},
      {"one byte over: one step", -1, 10000, 10001, 10000 + kMiB},
      {"three steps exactly", -1, 10000, 10000 + 3 * kMiB, 10000 + 3 * kMiB},
      {"a step ending at 2 GiB - 1", -1, kLargest - kMiB, kLargest - kMiB + 1, kLargest},
      {"a step passing 2 GiB", -1, kLargest - 100, kLargest, -1},
      {"a need past 2 GiB", -1, 1000, kLargest + 1, -1},
      {"a need that wrapped in 32 bits", -1, 2147000000, 2147000000LL + 600000, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fileSize >= 0) {
      EXPECT_EQ(InitialPcmCapacity(c.fileSize), c.expected);
    } else {
      EXPECT_EQ(GrownPcmCapacity(c.capacity, c.needed), c.expected);
    }
  }
}

}  // namespace
