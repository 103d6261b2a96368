// The sound system's start and end: twice, without a device, the primary format chosen from the
// device's capabilities, and the sound thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "media/media.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "platform/win32/sysinfo.h"
#include "sound_fixtures.h"
#include "system/system_info.h"
#include "system/tracked_memory.h"

namespace {

using namespace sound_fixtures;

// The tests run on SDL's dummy audio driver unless the environment names another.
const int kAudioDriverChosen = setenv("SDL_AUDIODRIVER", "dummy", 0);

void UseProcessors(int count) {
  SetPlatformProcessorCount(static_cast<DWORD>(count));
  DetectSystemInformation();
}

class SoundSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kAudioDriverChosen, 0);
    blocksBefore_ = GetTrackedBlockCount();
  }
  void TearDown() override {
    SetDirectSoundOutput(DirectSoundOutputDevice);
    SetDirectSoundCaps(nullptr);
    EXPECT_EQ(CountDirectSoundBuffers(), 0);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore_);
  }
  int blocksBefore_ = 0;
};

TEST_F(SoundSystemTest, StartingTwiceFailsTheSecondTime) {
  SetDirectSoundOutput(DirectSoundOutputManual);
  ASSERT_EQ(StartSoundSystem(), 0);
  EXPECT_EQ(CountDirectSoundBuffers(), 1) << "the silent buffer";
  EXPECT_EQ(StartSoundSystem(), -1);
  EXPECT_EQ(CountDirectSoundBuffers(), 1);
  EXPECT_EQ(EndSoundSystem(), 0);
  EXPECT_EQ(EndSoundSystem(), -1);
}

TEST_F(SoundSystemTest, WithoutADeviceEverySoundCallFails) {
  SetDirectSoundOutput(DirectSoundOutputNone);
  EXPECT_EQ(StartSoundSystem(), -1);
  EXPECT_EQ(GetDirectSoundObject(), nullptr);
  const auto ogg = EncodeOggVorbis(1, 22050, 1000);
  EXPECT_EQ(LoadSoundDataFile("sound/e0.ogg", 3, -1), -1);
  EXPECT_EQ(LoadSoundDataFromFileImage(ogg.data(), static_cast<int>(ogg.size()), 3, -1), -1);
  EXPECT_EQ(PlaySoundData(0x10000000, SoundPlayBack, 1), -1);
  EXPECT_EQ(StopSoundData(0x10000000), -1);
  EXPECT_EQ(SetSoundDataVolume(128, 0x10000000), -1);
  EXPECT_EQ(IsSoundDataPlaying(0x10000000), -1);
  EXPECT_EQ(DeleteSoundData(0x10000000), -1);
  EXPECT_EQ(DeleteAllSoundData(), -1);
  EXPECT_EQ(EndSoundSystem(), -1);
  // A later start with a device works.
  SetDirectSoundOutput(DirectSoundOutputManual);
  EXPECT_EQ(StartSoundSystem(), 0);
  EXPECT_EQ(EndSoundSystem(), 0);
}

TEST_F(SoundSystemTest, PrimaryRateIsTheDevicesHighestUpTo44100) {
  const struct {
    DWORD maxRate;
    int mixRate;
  } cases[] = {{48000, 44100}, {22050, 22050}, {200000, 44100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxRate);
    DSCAPS caps{};
    caps.dwFlags = DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT;
    caps.dwMinSecondarySampleRate = 100;
    caps.dwMaxSecondarySampleRate = c.maxRate;
    SetDirectSoundCaps(&caps);
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(GetDirectSoundMixRate(), c.mixRate);
    EndSoundSystem();
  }
}

TEST_F(SoundSystemTest, TheSoundThreadRunsOnlyWithMoreThanOneProcessor) {
  SetDirectSoundOutput(DirectSoundOutputManual);
  UseProcessors(1);
  ASSERT_EQ(StartSoundSystem(), 0);
  EXPECT_EQ(GetSoundThreadId(), 0u);
  EndSoundSystem();

  UseProcessors(4);
  ASSERT_EQ(StartSoundSystem(), 0);
  EXPECT_NE(GetSoundThreadId(), 0u);
  // Loads, plays and deletes while the thread passes over the lists under the SoundLock.
  const auto ogg = EncodeOggVorbis(2, 44100, 4000);
  for (int i = 0; i < 20; ++i) {
    const int sound = LoadSoundDataFromFileImage(ogg.data(), static_cast<int>(ogg.size()), 3, -1);
    ASSERT_NE(sound, -1);
    PlaySoundData(sound, SoundPlayBack, 1);
    std::int16_t frames[2 * 256];
    RenderDirectSoundOutput(frames, 256);
    DeleteSoundData(sound);
  }
  SDL_Delay(40);
  EXPECT_EQ(EndSoundSystem(), 0);
  EXPECT_EQ(GetSoundThreadId(), 0u);
  UseProcessors(0);
}

}  // namespace
