// Stream sounds heard through the manual mixer, refilled as the message pump does on one
// processor: once-play and looping sample by sample across many refills, the drain and its stop,
// stop and resume, shared rings, entry limits; and one streamed sound in real time through SDL's
// disk driver with the real sound thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/engine_fixture.h"
#include "media/media.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "platform/win32/sysinfo.h"
#include "sound_fixtures.h"
#include "system/system_info.h"
#include "system/tracked_memory.h"

namespace {

using namespace sound_fixtures;

void UseProcessors(int count) {
  SetPlatformProcessorCount(static_cast<DWORD>(count));
  DetectSystemInformation();
}

// A 16-bit WAV whose every sample differs from its neighbours.
std::vector<std::int16_t> Signal(int channels, int frames, int seed) {
  std::vector<std::int16_t> out;
  for (int i = 0; i < frames * channels; ++i)
    out.push_back(static_cast<std::int16_t>((i * 7919 + seed * 104729) % 60000 - 30000));
  return out;
}

std::vector<std::uint8_t> SignalWave(int channels, int rate, const std::vector<std::int16_t>& pcm) {
  WaveFields fields{1,
                    static_cast<std::uint16_t>(channels),
                    static_cast<std::uint32_t>(rate),
                    static_cast<std::uint32_t>(rate * 2 * channels),
                    static_cast<std::uint16_t>(2 * channels),
                    16,
                    true};
  return Wave(fields, Bytes(pcm));
}

struct StreamCase {
  const char* name;
  int rate;
  int channels;
  int frames;
  int loadType;  // 2 forces a stream; 0 streams a sound longer than 180 seconds
  int chunk;     // frames mixed between two refills
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

const StreamCase kCases[] = {
    {"forced stream", 44100, 2, 110250, 2, 1499},
    {"181 seconds", 1000, 1, 181000, 0, 97},
};

class StreamSoundTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    blocksBefore_ = GetTrackedBlockCount();
    UseProcessors(1);
    DSCAPS caps{};
    caps.dwFlags = DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT;
    caps.dwMinSecondarySampleRate = 100;
    caps.dwMaxSecondarySampleRate = static_cast<DWORD>(GetParam().rate);
    SetDirectSoundCaps(&caps);
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_EQ(GetDirectSoundMixRate(), GetParam().rate);
  }
  void TearDown() override {
    SetSoundLoadType(0);
    EXPECT_EQ(EndSoundSystem(), 0);
    SetDirectSoundOutput(DirectSoundOutputDevice);
    SetDirectSoundCaps(nullptr);
    UseProcessors(0);
    EXPECT_EQ(CountDirectSoundBuffers(), 0);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore_) << "the leak report is empty";
  }

  int Load(const std::vector<std::int16_t>& pcm, int shared = -1, int loadType = -1) {
    const StreamCase& c = GetParam();
    const auto wave = SignalWave(c.channels, c.rate, pcm);
    SetSoundLoadType(loadType != -1 ? loadType : c.loadType);
    const int handle =
        LoadSoundDataFromFileImage(wave.data(), static_cast<int>(wave.size()), 1, shared);
    SetSoundLoadType(0);
    return handle;
  }

  // Mixes `frames` frames in chunks, refilling after each as the pump would. The mixed output
  // is kept as the left channel only, which carries every sample of a mono sound.
  std::vector<std::int16_t> Play(int frames) {
    const StreamCase& c = GetParam();
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(c.chunk) * 2);
    for (int done = 0; done < frames; done += c.chunk) {
      const int n = std::min(c.chunk, frames - done);
      EXPECT_EQ(RenderDirectSoundOutput(buffer.data(), n), n);
      for (int i = 0; i < n; ++i)
        for (int ch = 0; ch < c.channels; ++ch) out.push_back(buffer[2 * i + ch]);
      RefillAllStreamSoundBuffers();
    }
    return out;
  }

  int blocksBefore_ = 0;
};

TEST_P(StreamSoundTest, PlaysOnceExactlyThenDrainsAndStops) {
  const StreamCase& c = GetParam();
  const auto pcm = Signal(c.channels, c.frames, 1);
  const int sound = Load(pcm);
  ASSERT_NE(sound, -1);
  ASSERT_EQ(GetSoundRecord(sound)->kind, kStreamSound);
  EXPECT_EQ(GetSoundTotalSamples(sound), c.frames);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  RefillAllStreamSoundBuffers();
  const auto out = Play(c.frames + c.rate / 4);
  for (std::size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(out[i], pcm[i]) << "sample " << i;
  for (std::size_t i = pcm.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "sample " << i;
  EXPECT_EQ(IsSoundDataPlaying(sound), 0) << "the ring stopped once the data had played";
  // The next play starts from the beginning.
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 0), 0);
  const auto again = Play(c.chunk * 3);
  for (std::size_t i = 0; i < again.size(); ++i) ASSERT_EQ(again[i], pcm[i]) << i;
}

TEST_P(StreamSoundTest, LoopsWithoutAGapAndThePlayTimeStartsAgainAtTheSeam) {
  const StreamCase& c = GetParam();
  const auto pcm = Signal(c.channels, c.frames, 2);
  const int sound = Load(pcm);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayLoop, 1), 0);
  RefillAllStreamSoundBuffers();
  const int past = c.chunk * 7;
  const auto out = Play(c.frames + past);
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], pcm[i % pcm.size()]) << "sample " << i;
  EXPECT_EQ(GetSoundDataPlayTime(sound), static_cast<int>(past * 1000LL / c.rate));
  const auto more = Play(c.frames);
  for (std::size_t i = 0; i < more.size(); ++i)
    ASSERT_EQ(more[i], pcm[(out.size() + i) % pcm.size()]) << "sample " << i;
  EXPECT_EQ(IsSoundDataPlaying(sound), 1);
}

TEST_P(StreamSoundTest, DataEndingExactlyAtTheCursorStillStops) {
  const StreamCase& c = GetParam();
  // Prefill (3/4 s) and the first refill (1/8 s) hold the whole sound.
  const int block = 2 * c.channels;
  const int average = c.rate * block;
  const int bytes = average * 192 / 256 / block * block + average / 8 / block * block;
  const auto pcm = Signal(c.channels, bytes / block, 3);
  const int sound = Load(pcm, -1, 2);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  RefillAllStreamSoundBuffers();
  std::vector<std::int16_t> out(static_cast<std::size_t>(bytes / block) * 2);
  ASSERT_EQ(RenderDirectSoundOutput(out.data(), bytes / block), bytes / block);
  EXPECT_EQ(GetSoundRecord(sound)->lastCursor, 0) << "not yet seen by the stream";
  RefillAllStreamSoundBuffers();  // finds the end with the cursor on it
  RefillAllStreamSoundBuffers();  // nothing is left to play: stops
  EXPECT_EQ(IsSoundDataPlaying(sound), 0);
  for (int i = 0; i < bytes / block; ++i)
    for (int ch = 0; ch < c.channels; ++ch)
      ASSERT_EQ(out[2 * i + ch], pcm[i * c.channels + ch]) << i;
}

TEST_P(StreamSoundTest, StopThenPlayResumesOrRestarts) {
  const StreamCase& c = GetParam();
  const auto pcm = Signal(c.channels, c.frames, 4);
  const int sound = Load(pcm);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  RefillAllStreamSoundBuffers();
  const auto first = Play(c.chunk * 10);
  EXPECT_EQ(PlaySoundData(sound, SoundPlayBack, 0), -1) << "already playing";
  ASSERT_EQ(StopSoundData(sound), 0);
  EXPECT_EQ(IsSoundDataPlaying(sound), 0);
  for (std::int16_t sample : Play(c.chunk * 2)) ASSERT_EQ(sample, 0);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 0), 0);
  const auto resumed = Play(c.chunk * 20);
  for (std::size_t i = 0; i < resumed.size(); ++i)
    ASSERT_EQ(resumed[i], pcm[first.size() + i]) << "sample " << i;
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  RefillAllStreamSoundBuffers();
  const auto restarted = Play(c.chunk * 20);
  for (std::size_t i = 0; i < restarted.size(); ++i) ASSERT_EQ(restarted[i], pcm[i]) << i;
}

TEST_P(StreamSoundTest, SharedRingSoundsOneStreamAtATime) {
  const StreamCase& c = GetParam();
  const auto first = Signal(c.channels, c.frames, 5);
  const auto second = Signal(c.channels, c.frames, 6);
  const int owner = Load(first);
  const int sharer = Load(second, owner);
  ASSERT_NE(sharer, -1);
  EXPECT_EQ(GetSoundRecord(sharer)->ringOwner, owner);
  EXPECT_EQ(CountDirectSoundBuffers(), 2) << "the silent buffer and one ring";
  ASSERT_EQ(PlaySoundData(owner, SoundPlayBack, 1), 0);
  RefillAllStreamSoundBuffers();
  Play(c.chunk * 4);
  ASSERT_EQ(PlaySoundData(sharer, SoundPlayBack, 1), 0);
  EXPECT_EQ(IsSoundDataPlaying(owner), 0) << "the second play stopped the first";
  EXPECT_EQ(IsSoundDataPlaying(sharer), 1);
  RefillAllStreamSoundBuffers();
  const auto out = Play(c.chunk * 20);
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], second[i]) << i;
  // The owner stays while the sharer plays through its ring; the sharer's end takes it along.
  ASSERT_EQ(DeleteSoundData(owner), 0);
  EXPECT_NE(GetSoundRecord(owner), nullptr);
  ASSERT_EQ(DeleteSoundData(sharer), 0);
  EXPECT_EQ(GetSoundRecord(owner), nullptr);
  EXPECT_EQ(CountDirectSoundBuffers(), 1);
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamSoundTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           return info.param.loadType == 2 ? "Forced" : "Long";
                         });

class StreamEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    blocksBefore_ = GetTrackedBlockCount();
    UseProcessors(1);
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(StartSoundSystem(), 0);
  }
  void TearDown() override {
    EXPECT_EQ(EndSoundSystem(), 0);
    SetDirectSoundOutput(DirectSoundOutputDevice);
    UseProcessors(0);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore_);
  }
  int blocksBefore_ = 0;
};

TEST_F(StreamEntryTest, EntriesPlayInTurnWithTheirLoopCountsUpToThree) {
  const auto a = Signal(2, 30000, 7);
  const auto b = Signal(2, 20000, 8);
  const auto waveA = SignalWave(2, 44100, a);
  const auto waveB = SignalWave(2, 44100, b);
  const int sound = AddSoundData(-1);
  ASSERT_EQ(AddStreamSoundFileImage(waveA.data(), static_cast<int>(waveA.size()), 1, sound, 2, -1),
            0);
  ASSERT_EQ(AddStreamSoundFileImage(waveB.data(), static_cast<int>(waveB.size()), 0, sound, 0, -1),
            0);
  const auto mono = SignalWave(1, 44100, a);
  EXPECT_EQ(AddStreamSoundFileImage(mono.data(), static_cast<int>(mono.size()), 0, sound, 2, -1),
            -1)
      << "another format";
  ASSERT_EQ(AddStreamSoundFileImage(waveB.data(), static_cast<int>(waveB.size()), 0, sound, 3, -1),
            0);
  EXPECT_EQ(AddStreamSoundFileImage(waveB.data(), static_cast<int>(waveB.size()), 0, sound, 2, -1),
            -1)
      << "three entries at most";
  EXPECT_EQ(GetSoundTotalSamples(sound), 30000 + 20000 + 20000);
  PrefillStreamSoundBuffer(sound);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  std::vector<std::int16_t> expected;
  for (const auto* part : {&a, &a, &b, &b})
    expected.insert(expected.end(), part->begin(), part->end());
  std::vector<std::int16_t> out;
  std::vector<std::int16_t> buffer(2 * 1000);
  for (std::size_t done = 0; done < expected.size() / 2 + 10000; done += 1000) {
    RefillAllStreamSoundBuffers();
    RenderDirectSoundOutput(buffer.data(), 1000);
    out.insert(out.end(), buffer.begin(), buffer.end());
  }
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(out[i], expected[i]) << i;
  ASSERT_EQ(DeleteSoundData(sound), 0);
}

TEST_F(StreamEntryTest, LoadTypeThreeDecodesFromTheOpenFileWhilePlaying) {
  const auto pcm = Signal(2, 60000, 10);
  const auto wave = SignalWave(2, 44100, pcm);
  const std::string path = "stream_entry_test_" + std::to_string(getpid()) + ".wav";
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(wave.data(), 1, wave.size(), file);
  std::fclose(file);
  ASSERT_EQ(SetSoundLoadType(3), 0);
  const int sound = LoadSoundDataFile(path.c_str(), 3, -1);
  SetSoundLoadType(0);
  ASSERT_NE(sound, -1);
  EXPECT_EQ(GetSoundRecord(sound)->entries[0].type, kStreamEntryCallers);
  EXPECT_EQ(GetSoundRecord(sound)->entryOpened[0], 1);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  std::vector<std::int16_t> out;
  std::vector<std::int16_t> buffer(2 * 2000);
  for (int done = 0; done < 60000; done += 2000) {
    RefillAllStreamSoundBuffers();
    RenderDirectSoundOutput(buffer.data(), 2000);
    out.insert(out.end(), buffer.begin(), buffer.end());
  }
  EXPECT_EQ(out, pcm);
  // Deleting closes the file the engine opened: the blocks count of the teardown shows it.
  ASSERT_EQ(DeleteSoundData(sound), 0);
  std::remove(path.c_str());
}

class StreamRealTimeTest : public EngineFixture {
 protected:
  void TearDown() override {
    EngineFixture::TearDown();
    SetSoundLoadType(0);
    SetDirectSoundOutput(DirectSoundOutputDevice);
  }
};

TEST_F(StreamRealTimeTest, AStreamArrivesInTheDiskDriversFileWithoutADropout) {
  const char* previous = std::getenv("SDL_AUDIODRIVER");
  const std::string previousDriver = previous != nullptr ? previous : "dummy";
  const std::string path = directory_ + "/stream.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  UseProcessors(4);
  SetDirectSoundOutput(DirectSoundOutputDevice);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_NE(GetDirectSoundObject(), nullptr);
  ASSERT_NE(GetSoundThreadId(), 0u);
  const auto pcm = Signal(2, 44100 * 3 / 2, 9);
  const auto wave = SignalWave(2, 44100, pcm);
  SetSoundLoadType(2);
  const int music = LoadSoundDataFromFileImage(wave.data(), static_cast<int>(wave.size()), 1, -1);
  ASSERT_NE(music, -1);
  ASSERT_EQ(GetSoundRecord(music)->kind, kStreamSound);
  ASSERT_EQ(PlaySoundData(music, SoundPlayWait, 1), 0);
  EXPECT_EQ(IsSoundDataPlaying(music), 0);
  EXPECT_EQ(ShutdownEngine(), 0);
  setenv("SDL_AUDIODRIVER", previousDriver.c_str(), 1);
  UseProcessors(0);

  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::vector<std::int16_t> written(bytes.size() / 2);
  std::memcpy(written.data(), bytes.data(), written.size() * 2);
  const auto found = std::search(written.begin(), written.end(), pcm.begin(), pcm.end());
  EXPECT_NE(found, written.end()) << "the whole sound, unbroken, among " << written.size()
                                  << " samples";
}

}  // namespace
