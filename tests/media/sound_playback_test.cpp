// Sounds loaded, played, stopped and set in volume through the engine's calls, heard through the
// DirectSound stand-in's manual mixer, sample by sample.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "media/media.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "sound_fixtures.h"
#include "system/tracked_memory.h"

namespace {

using namespace sound_fixtures;

constexpr int kFrames = 30000;

std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = name + "_" + std::to_string(getpid());
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

std::vector<std::int16_t> Render(int frames) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * 2);
  EXPECT_EQ(RenderDirectSoundOutput(out.data(), frames), frames);
  return out;
}

std::int16_t Clip(long value) {
  return static_cast<std::int16_t>(std::clamp<long>(value, -32768, 32767));
}

class SoundPlaybackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto ogg = EncodeOggVorbis(2, 44100, kFrames);
    reference_ = new std::vector<std::int16_t>(DecodeOggVorbisReference(ogg));
    oggPath_ = new std::string(WriteFile("sound_playback_test.ogg", ogg));
  }
  static void TearDownTestSuite() {
    std::remove(oggPath_->c_str());
    delete oggPath_;
    delete reference_;
  }
  void SetUp() override {
    blocksBefore_ = GetTrackedBlockCount();
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(StartSoundSystem(), 0);
  }
  void TearDown() override {
    EXPECT_EQ(EndSoundSystem(), 0);
    SetDirectSoundOutput(DirectSoundOutputDevice);
    EXPECT_EQ(CountDirectSoundBuffers(), 0);
    EXPECT_EQ(CountDirectSoundSampleBlocks(), 0);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore_) << "the leak report is empty";
  }

  int Load(int buffers = 3) { return LoadSoundDataFile(oggPath_->c_str(), buffers, -1); }
  const std::vector<std::int16_t>& reference() const { return *reference_; }

  static std::vector<std::int16_t>* reference_;
  static std::string* oggPath_;
  int blocksBefore_ = 0;
};

std::vector<std::int16_t>* SoundPlaybackTest::reference_ = nullptr;
std::string* SoundPlaybackTest::oggPath_ = nullptr;

TEST_F(SoundPlaybackTest, OggSoundPlaysExactlyTheDecodedPcm) {
  ASSERT_EQ(reference().size(), 2u * kFrames);
  const int sound = Load();
  ASSERT_NE(sound, -1);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  EXPECT_EQ(IsSoundDataPlaying(sound), 1);
  const auto out = Render(kFrames + 100);
  for (int i = 0; i < 2 * kFrames; ++i) ASSERT_EQ(out[i], reference()[i]) << "sample " << i;
  for (int i = 2 * kFrames; i < 2 * kFrames + 200; ++i) ASSERT_EQ(out[i], 0);
  EXPECT_EQ(IsSoundDataPlaying(sound), 0);
}

TEST_F(SoundPlaybackTest, VolumeSixtyFourAttenuatesBySixDecibels) {
  const int sound = Load();
  ASSERT_EQ(SetSoundDataVolume(64, sound), 0);
  EXPECT_EQ(GetSoundRecord(sound)->volume, -600);
  PlaySoundData(sound, SoundPlayBack, 1);
  const auto out = Render(kFrames);
  const double gain = std::pow(10.0, -0.3);
  for (int i = 0; i < 2 * kFrames; ++i)
    ASSERT_NEAR(out[i], reference()[i] * gain, 1.0) << "sample " << i;
}

TEST_F(SoundPlaybackTest, VolumeSettingsMapToHundredthsOfADecibel) {
  const int sound = Load();
  const struct {
    int volume, stored;
  } cases[] = {{255, 0}, {128, -299}, {1, -2406}, {0, -10000}, {-5, -10000}, {300, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.volume);
    ASSERT_EQ(SetSoundDataVolume(c.volume, sound), 0);
    EXPECT_EQ(GetSoundRecord(sound)->volume, c.stored);
  }
  SetSoundDataVolume(0, sound);
  PlaySoundData(sound, SoundPlayBack, 1);
  for (std::int16_t sample : Render(1000)) ASSERT_EQ(sample, 0);
}

TEST_F(SoundPlaybackTest, LoopedPlayRepeatsWithoutASeam) {
  const int sound = Load();
  ASSERT_EQ(PlaySoundData(sound, SoundPlayLoop, 1), 0);
  const auto out = Render(kFrames * 5 / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], reference()[i % reference().size()]) << i;
  EXPECT_EQ(IsSoundDataPlaying(sound), 1);
  ASSERT_EQ(StopSoundData(sound), 0);
  EXPECT_EQ(IsSoundDataPlaying(sound), 0);
}

TEST_F(SoundPlaybackTest, ThreeBuffersOverlapInTurnAndAFourthPlayRestartsTheFirstUsed) {
  const int sound = Load();
  ASSERT_EQ(GetSoundRecord(sound)->bufferCount, 3);
  const int gap = 1000;
  std::vector<std::int16_t> out;
  const int order[] = {1, 2, 0};
  for (int play = 0; play < 3; ++play) {
    ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
    EXPECT_EQ(GetSoundRecord(sound)->currentBuffer, order[play]);
    const auto part = Render(gap);
    out.insert(out.end(), part.begin(), part.end());
  }
  for (int i = 0; i < 3 * gap * 2; ++i) {
    long expected = 0;
    for (int play = 0; play < 3; ++play) {
      const int offset = i - play * gap * 2;
      if (offset >= 0) expected += reference()[offset];
    }
    ASSERT_EQ(out[i], Clip(expected)) << "sample " << i;
  }
  // The fourth play takes buffer 1 again and starts it from the top.
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  EXPECT_EQ(GetSoundRecord(sound)->currentBuffer, 1);
  const auto next = Render(1);
  EXPECT_EQ(next[0], Clip(static_cast<long>(reference()[0]) + reference()[2 * gap * 2] +
                          reference()[gap * 2]));
}

TEST_F(SoundPlaybackTest, StopKeepsThePositionAndPlayWithoutTopGoesOnFromIt) {
  const int sound = Load();
  PlaySoundData(sound, SoundPlayBack, 1);
  Render(5000);
  ASSERT_EQ(StopSoundData(sound), 0);
  for (std::int16_t sample : Render(100)) ASSERT_EQ(sample, 0);
  // The next buffer starts where the stopped one stood.
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 0), 0);
  const auto out = Render(100);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(out[i], reference()[2 * 5000 + i]) << i;
}

TEST_F(SoundPlaybackTest, PlayWithoutTopOnAPlayingBufferPlaysNothingButMovesOn) {
  const int sound = Load(1);
  PlaySoundData(sound, SoundPlayBack, 1);
  Render(10);
  EXPECT_EQ(PlaySoundData(sound, SoundPlayBack, 0), 0);
  const auto out = Render(10);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(out[i], reference()[20 + i]);
}

TEST_F(SoundPlaybackTest, DeletingReleasesTheBuffersThePcmAndTheHandle) {
  const int blocks = GetTrackedBlockCount();
  const int sound = Load();
  EXPECT_EQ(CountDirectSoundBuffers(), 3 + 1) << "three buffers and the silent buffer";
  EXPECT_EQ(CountDirectSoundSampleBlocks(), 2) << "the three buffers share one block";
  EXPECT_GT(GetTrackedBlockCount(), blocks);
  ASSERT_EQ(DeleteSoundData(sound), 0);
  EXPECT_EQ(CountDirectSoundBuffers(), 1);
  EXPECT_EQ(CountDirectSoundSampleBlocks(), 1);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
  EXPECT_EQ(PlaySoundData(sound, SoundPlayBack, 1), -1);
  EXPECT_EQ(DeleteSoundData(sound), -1);
  const int again = Load();
  EXPECT_EQ(again & 0xFFFF, sound & 0xFFFF) << "the slot is used again";
  EXPECT_NE(again, sound) << "with another check number";
  EXPECT_EQ(SetSoundDataVolume(100, sound), -1);
}

TEST_F(SoundPlaybackTest, BufferCountsAreClampedOrRefused) {
  const int sound = Load(25);
  ASSERT_NE(sound, -1);
  EXPECT_EQ(GetSoundRecord(sound)->bufferCount, 10);
  const auto ogg = EncodeOggVorbis(1, 22050, 100);
  EXPECT_EQ(LoadSoundDataFromFileImage(ogg.data(), static_cast<int>(ogg.size()), 25, -1), -1);
  const int image = LoadSoundDataFromFileImage(ogg.data(), static_cast<int>(ogg.size()), 10, -1);
  EXPECT_NE(image, -1);
}

TEST_F(SoundPlaybackTest, FailedDuplicateKeepsTheBuffersMadeBefore) {
  FailDirectSoundCall(DirectSoundCallDuplicate, 1);
  const int sound = Load(3);
  ASSERT_NE(sound, -1);
  EXPECT_EQ(GetSoundRecord(sound)->bufferCount, 2);
  PlaySoundData(sound, SoundPlayBack, 1);
  EXPECT_EQ(GetSoundRecord(sound)->currentBuffer, 1);
  PlaySoundData(sound, SoundPlayBack, 1);
  EXPECT_EQ(GetSoundRecord(sound)->currentBuffer, 0);
}

TEST_F(SoundPlaybackTest, WaveOfOneHundredAndEightySecondsStaysANormalSound) {
  WaveFields fields{1, 1, 100, 100, 1, 8, true};
  const std::vector<std::uint8_t> data(18000, 0x90);
  const auto wave = Wave(fields, data);
  const int sound = LoadSoundDataFromFileImage(wave.data(), static_cast<int>(wave.size()), 1, -1);
  ASSERT_NE(sound, -1);
  EXPECT_EQ(GetSoundRecord(sound)->kind, kNormalSound);
  EXPECT_EQ(GetSoundTotalSamples(sound), 18000);
  EXPECT_EQ(GetSoundTotalTime(sound), 180000);
}

TEST_F(SoundPlaybackTest, SoundsTheDeviceCannotPlayAreRefusedNotFatal) {
  WaveFields fields{1, 2, 44100, 44100 * 6, 6, 24, true};
  const auto wave = Wave(fields, std::vector<std::uint8_t>(600, 1));
  EXPECT_EQ(LoadSoundDataFromFileImage(wave.data(), static_cast<int>(wave.size()), 3, -1), -1);
  WaveFields zeroRate{1, 2, 0, 0, 4, 16, true};
  const auto silent = Wave(zeroRate, std::vector<std::uint8_t>(600, 1));
  EXPECT_EQ(LoadSoundDataFromFileImage(silent.data(), static_cast<int>(silent.size()), 3, -1), -1);
  EXPECT_EQ(LoadSoundDataFile("no_such_sound_file.ogg", 3, -1), -1);
  const std::vector<std::uint8_t> noise(5000, 0x33);
  EXPECT_EQ(LoadSoundDataFromFileImage(noise.data(), 5000, 3, -1), -1);
}

TEST_F(SoundPlaybackTest, PlayTimeFollowsTheCurrentBuffer) {
  const int sound = Load();
  PlaySoundData(sound, SoundPlayBack, 1);
  Render(4410);
  EXPECT_EQ(GetSoundDataPlayTime(sound), 100);
  EXPECT_EQ(GetSoundTotalTime(sound), kFrames * 1000 / 44100);
}

TEST_F(SoundPlaybackTest, LoadTypeSettings) {
  EXPECT_EQ(GetSoundLoadType(), 0);
  EXPECT_EQ(SetSoundLoadType(4), -1);
  EXPECT_EQ(SetSoundLoadType(1), 0);
  EXPECT_EQ(GetSoundLoadType(), 0);
  EXPECT_EQ(SetSoundLoadType(0), 0);
}

}  // namespace
