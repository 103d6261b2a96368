// Sound inside a started engine: with a device the game's calls work through start-up and
// shutdown; with no device the engine still starts, and every sound call returns -1.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "media/media.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "sound_fixtures.h"
#include "system/engine_fixture.h"

namespace {

using namespace sound_fixtures;

const int kAudioDriverChosen = setenv("SDL_AUDIODRIVER", "dummy", 0);

void WriteSoundFile(const char* path, const std::vector<std::uint8_t>& bytes) {
  FILE* file = std::fopen(path, "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

class SoundEngineTest : public EngineFixture {
 protected:
  void TearDown() override {
    EngineFixture::TearDown();
    SetDirectSoundOutput(DirectSoundOutputDevice);
    EXPECT_EQ(CountDirectSoundBuffers(), 0);
  }
};

TEST_F(SoundEngineTest, TheGamesSoundCallsWorkInAStartedEngine) {
  ASSERT_EQ(kAudioDriverChosen, 0);
  SetDirectSoundOutput(DirectSoundOutputManual);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_NE(GetDirectSoundObject(), nullptr);
  std::filesystem::create_directory("sound");
  WriteSoundFile("sound/e0.ogg", EncodeOggVorbis(2, 44100, 4410));
  const int effect = LoadSoundDataFile("sound/e0.ogg", 3, -1);
  ASSERT_NE(effect, -1);
  EXPECT_EQ(SetSoundDataVolume(200, effect), 0);
  EXPECT_EQ(StopSoundData(effect), 0);
  EXPECT_EQ(PlaySoundData(effect, SoundPlayBack, 1), 0);
  EXPECT_EQ(PlaySoundData(effect, SoundPlayLoop, 1), 0);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  // The shutdown ends the sound system with the sound still loaded and playing.
  EXPECT_EQ(ShutdownEngine(), 0);
  EXPECT_EQ(GetDirectSoundObject(), nullptr);
  EXPECT_EQ(PlaySoundData(effect, SoundPlayBack, 1), -1);
}

TEST_F(SoundEngineTest, WithoutADeviceTheEngineStartsAndSoundCallsFail) {
  SetDirectSoundOutput(DirectSoundOutputNone);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(GetDirectSoundObject(), nullptr);
  std::filesystem::create_directory("sound");
  WriteSoundFile("sound/e0.ogg", EncodeOggVorbis(1, 22050, 1000));
  const int effect = LoadSoundDataFile("sound/e0.ogg", 3, -1);
  EXPECT_EQ(effect, -1);
  EXPECT_EQ(SetSoundDataVolume(255, effect), -1);
  EXPECT_EQ(PlaySoundData(effect, SoundPlayLoop, 1), -1);
  EXPECT_EQ(StopSoundData(effect), -1);
  for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(ShutdownEngine(), 0);
}

}  // namespace
