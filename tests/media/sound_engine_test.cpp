// Sound inside a started engine: the game's calls through start-up and shutdown, play type 0
// waiting for the end while the pump runs, a sound that reaches SDL's disk audio driver, and the
// start without a device, after which every sound call returns -1.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "media/media.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "sound_fixtures.h"
#include "tests/host/engine_fixture.h"

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

TEST_F(SoundEngineTest, PlayTypeZeroReturnsWhenTheSoundHasEnded) {
  SetDirectSoundOutput(DirectSoundOutputManual);
  ASSERT_EQ(InitializeEngine(), 0);
  const auto ogg = EncodeOggVorbis(2, 44100, 20000);
  const int sound = LoadSoundDataFromFileImage(ogg.data(), static_cast<int>(ogg.size()), 3, -1);
  ASSERT_NE(sound, -1);
  std::atomic<bool> done{false};
  // Counted as each mix begins: the mix that reaches the sound's end may let the waiting call
  // return before it has itself returned.
  std::atomic<int> begun{0};
  std::thread renderer([&] {
    std::vector<std::int16_t> frames(2 * 512);
    while (!done) {
      begun += 512;
      RenderDirectSoundOutput(frames.data(), 512);
      std::this_thread::yield();
    }
  });
  EXPECT_EQ(PlaySoundData(sound, SoundPlayWait, 1), 0);
  EXPECT_GE(begun.load(), 20000) << "the call returned only after the sound was mixed to its end";
  EXPECT_EQ(IsSoundDataPlaying(sound), 0);
  done = true;
  renderer.join();
}

TEST_F(SoundEngineTest, APlayedSoundArrivesInTheDiskDriversFile) {
  const std::string previousDriver = std::getenv("SDL_AUDIODRIVER");
  const std::string path = directory_ + "/disk.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  SetDirectSoundOutput(DirectSoundOutputDevice);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_NE(GetDirectSoundObject(), nullptr);
  std::filesystem::create_directory("sound");
  const auto ogg = EncodeOggVorbis(2, 44100, 8820);
  const auto reference = DecodeOggVorbisReference(ogg);
  WriteSoundFile("sound/b0.ogg", ogg);
  const int music = LoadSoundDataFile("sound/b0.ogg", 3, -1);
  ASSERT_NE(music, -1);
  ASSERT_EQ(PlaySoundData(music, SoundPlayWait, 1), 0);
  EXPECT_EQ(IsSoundDataPlaying(music), 0);
  Sleep(50);
  EXPECT_EQ(ShutdownEngine(), 0);
  setenv("SDL_AUDIODRIVER", previousDriver.c_str(), 1);

  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::vector<std::int16_t> written(bytes.size() / 2);
  std::memcpy(written.data(), bytes.data(), written.size() * 2);
  const auto found =
      std::search(written.begin(), written.end(), reference.begin(), reference.end());
  EXPECT_NE(found, written.end()) << "the driver wrote " << written.size() << " samples";
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
