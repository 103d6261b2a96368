// The DirectSound stand-in in manual mode: what the mixer outputs for buffers that play once,
// loop, stop, share memory, and change volume, pan and frequency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/dsound/dsound.h"

namespace {

WAVEFORMATEX Format(WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = bits;
  format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  return format;
}

// A stereo ramp whose left and right samples differ, so swapped channels show.
std::vector<std::int16_t> Ramp(int frames) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    samples[2 * i] = static_cast<std::int16_t>(i * 7 - 9000);
    samples[2 * i + 1] = static_cast<std::int16_t>(5000 - i * 3);
  }
  return samples;
}

class DirectSoundMixerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(
        CreateDirectSoundInstance(nullptr, IID_IDirectSound, reinterpret_cast<void**>(&sound_)),
        S_OK);
    ASSERT_EQ(sound_->Initialize(nullptr), DS_OK);
  }
  void TearDown() override {
    for (IDirectSoundBuffer* buffer : buffers_) buffer->Release();
    if (sound_) sound_->Release();
    SetDirectSoundOutput(DirectSoundOutputDevice);
    EXPECT_EQ(CountDirectSoundBuffers(), 0);
    EXPECT_EQ(CountDirectSoundSampleBlocks(), 0);
  }

  IDirectSoundBuffer* MakeBuffer(const WAVEFORMATEX& format, DWORD bytes, DWORD flags = 0x80E2) {
    WAVEFORMATEX copy = format;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = flags;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = &copy;
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(sound_->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    if (buffer) buffers_.push_back(buffer);
    return buffer;
  }

  IDirectSoundBuffer* MakeFilled(const std::vector<std::int16_t>& samples) {
    const DWORD bytes = static_cast<DWORD>(samples.size() * 2);
    IDirectSoundBuffer* buffer = MakeBuffer(Format(2, 44100, 16), bytes);
    Fill(buffer, 0, samples.data(), bytes);
    return buffer;
  }

  static void Fill(IDirectSoundBuffer* buffer, DWORD offset, const void* data, DWORD bytes) {
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    ASSERT_EQ(buffer->Lock(offset, bytes, &part1, &bytes1, &part2, &bytes2, 0), DS_OK);
    std::memcpy(part1, data, bytes1);
    if (bytes2) std::memcpy(part2, static_cast<const std::uint8_t*>(data) + bytes1, bytes2);
    ASSERT_EQ(buffer->Unlock(part1, bytes1, part2, bytes2), DS_OK);
  }

  static std::vector<std::int16_t> Render(int frames) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * 2);
    EXPECT_EQ(RenderDirectSoundOutput(out.data(), frames), frames);
    return out;
  }

  static DWORD Status(IDirectSoundBuffer* buffer) {
    DWORD status = 0;
    EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
    return status;
  }

  static DWORD PlayCursor(IDirectSoundBuffer* buffer) {
    DWORD play = 0, write = 0;
    EXPECT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
    return play;
  }

  IDirectSound* sound_ = nullptr;
  std::vector<IDirectSoundBuffer*> buffers_;
};

TEST_F(DirectSoundMixerTest, OneShotPlaysItsSamplesExactlyThenStopsAndRewinds) {
  const auto samples = Ramp(1000);
  IDirectSoundBuffer* buffer = MakeFilled(samples);
  ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
  EXPECT_EQ(Status(buffer), DSBSTATUS_PLAYING);
  const auto out = Render(1200);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(out[i], samples[i]) << "sample " << i;
  for (int i = 2000; i < 2400; ++i) ASSERT_EQ(out[i], 0) << "sample " << i;
  EXPECT_EQ(Status(buffer), 0u);
  EXPECT_EQ(PlayCursor(buffer), 0u);
}

TEST_F(DirectSoundMixerTest, LoopedBufferRepeatsWithoutASeam) {
  const auto samples = Ramp(300);
  IDirectSoundBuffer* buffer = MakeFilled(samples);
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(Status(buffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  const auto out = Render(1000);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(out[i], samples[i % 600]) << "sample " << i;
  EXPECT_EQ(PlayCursor(buffer), (1000u % 300u) * 4u);
}

TEST_F(DirectSoundMixerTest, StopKeepsThePositionAndPlayGoesOnFromIt) {
  const auto samples = Ramp(500);
  IDirectSoundBuffer* buffer = MakeFilled(samples);
  buffer->Play(0, 0, 0);
  Render(120);
  ASSERT_EQ(buffer->Stop(), DS_OK);
  EXPECT_EQ(PlayCursor(buffer), 480u);
  const auto silent = Render(50);
  for (std::int16_t s : silent) ASSERT_EQ(s, 0);
  buffer->Play(0, 0, 0);
  const auto out = Render(10);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(out[i], samples[240 + i]);
}

TEST_F(DirectSoundMixerTest, VolumeAndPanScaleByTenToTheHundredthsOfDecibelsOverTwoThousand) {
  const std::vector<std::int16_t> samples(200, 20000);
  IDirectSoundBuffer* buffer = MakeFilled(samples);
  struct Case {
    LONG volume, pan;
    double left, right;
  };
  const Case cases[] = {
      {0, 0, 1.0, 1.0},
      {-600, 0, std::pow(10.0, -0.3), std::pow(10.0, -0.3)},
      {-2000, 0, 0.1, 0.1},
      {-10000, 0, 0.0, 0.0},
      {0, 10000, 0.0, 1.0},
      {0, -600, 1.0, std::pow(10.0, -0.3)},
      {-600, 600, std::pow(10.0, -0.6), std::pow(10.0, -0.3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "volume " << c.volume << " pan " << c.pan);
    ASSERT_EQ(buffer->SetVolume(c.volume), DS_OK);
    ASSERT_EQ(buffer->SetPan(c.pan), DS_OK);
    buffer->SetCurrentPosition(0);
    buffer->Play(0, 0, 0);
    const auto out = Render(10);
    EXPECT_NEAR(out[0], 20000 * c.left, 1.0);
    EXPECT_NEAR(out[1], 20000 * c.right, 1.0);
    buffer->Stop();
  }
  EXPECT_EQ(buffer->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->SetVolume(-10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->SetPan(10001), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundMixerTest, ControlsMissingFromTheFlagsAreRefused) {
  IDirectSoundBuffer* buffer = MakeBuffer(Format(2, 44100, 16), 400, 0xC2);
  EXPECT_EQ(buffer->SetFrequency(22050), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(buffer->SetVolume(-100), DS_OK);
  IDirectSoundBuffer* plain = MakeBuffer(Format(2, 44100, 16), 400, DSBCAPS_STATIC);
  EXPECT_EQ(plain->SetVolume(-100), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(plain->SetPan(100), DSERR_CONTROLUNAVAIL);
}

TEST_F(DirectSoundMixerTest, FrequencyResamplesAndStretchesThePlayTime) {
  std::vector<std::int16_t> samples;
  for (int i = 0; i < 100; ++i) {
    samples.push_back(static_cast<std::int16_t>(i * 100));
    samples.push_back(static_cast<std::int16_t>(-i * 100));
  }
  IDirectSoundBuffer* buffer = MakeFilled(samples);
  ASSERT_EQ(buffer->SetFrequency(22050), DS_OK);
  buffer->Play(0, 0, 0);
  const auto out = Render(198);
  for (int i = 0; i < 99; ++i) {
    ASSERT_EQ(out[4 * i], i * 100);
    ASSERT_EQ(out[4 * i + 2], i * 100 + 50) << "between frames " << i << " and " << i + 1;
    ASSERT_EQ(out[4 * i + 3], -(i * 100 + 50));
  }
  EXPECT_EQ(Status(buffer), DSBSTATUS_PLAYING);
  Render(2);
  EXPECT_EQ(Status(buffer), 0u);
  EXPECT_EQ(buffer->SetFrequency(99), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->SetFrequency(DSBFREQUENCY_ORIGINAL), DS_OK);
}

TEST_F(DirectSoundMixerTest, EightBitMonoIsCenteredAndSentToBothSides) {
  IDirectSoundBuffer* buffer = MakeBuffer(Format(1, 44100, 8), 4);
  const std::uint8_t samples[4] = {0x80, 0xFF, 0x00, 0x90};
  Fill(buffer, 0, samples, 4);
  buffer->Play(0, 0, 0);
  const auto out = Render(4);
  const std::int16_t expected[4] = {0, 127 * 256, -128 * 256, 16 * 256};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(out[2 * i], expected[i]);
    EXPECT_EQ(out[2 * i + 1], expected[i]);
  }
}

TEST_F(DirectSoundMixerTest, OverlappingBuffersAreSummedAndClipped) {
  const std::vector<std::int16_t> loud(100, 30000);
  IDirectSoundBuffer* first = MakeFilled(loud);
  IDirectSoundBuffer* second = MakeFilled(Ramp(50));
  first->Play(0, 0, 0);
  second->Play(0, 0, 0);
  const auto out = Render(50);
  const auto ramp = Ramp(50);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(out[i], std::min(32767, 30000 + ramp[i]));
}

TEST_F(DirectSoundMixerTest, DuplicatesShareTheSamplesButKeepTheirOwnCursorAndSettings) {
  const auto samples = Ramp(400);
  IDirectSoundBuffer* original = MakeFilled(samples);
  original->SetVolume(-2000);
  IDirectSoundBuffer* duplicate = nullptr;
  ASSERT_EQ(sound_->DuplicateSoundBuffer(original, &duplicate), DS_OK);
  buffers_.push_back(duplicate);
  EXPECT_EQ(CountDirectSoundBuffers(), 2);
  EXPECT_EQ(CountDirectSoundSampleBlocks(), 1);

  // A write through the original is heard through the duplicate.
  const std::int16_t marker[2] = {1234, -1234};
  Fill(original, 0, marker, 4);
  duplicate->SetVolume(0);
  duplicate->Play(0, 0, 0);
  Render(100);
  original->Play(0, 0, 0);
  EXPECT_EQ(Status(original), DSBSTATUS_PLAYING);
  const auto out = Render(10);
  EXPECT_EQ(PlayCursor(duplicate), 110u * 4u);
  EXPECT_EQ(PlayCursor(original), 10u * 4u);
  EXPECT_NEAR(out[0], samples[200] + 1234 * 0.1, 1.0);
  EXPECT_NEAR(out[1], samples[201] - 1234 * 0.1, 1.0);

  original->Release();
  buffers_.erase(buffers_.begin());
  EXPECT_EQ(CountDirectSoundSampleBlocks(), 1);
  const auto later = Render(10);
  EXPECT_EQ(later[0], samples[220]);
}

TEST_F(DirectSoundMixerTest, LockSplitsARangeThatWrapsIntoTwoParts) {
  IDirectSoundBuffer* buffer = MakeBuffer(Format(2, 44100, 16), 400);
  void* part1 = nullptr;
  void* part2 = nullptr;
  DWORD bytes1 = 0, bytes2 = 0;
  ASSERT_EQ(buffer->Lock(392, 16, &part1, &bytes1, &part2, &bytes2, 0), DS_OK);
  EXPECT_EQ(bytes1, 8u);
  EXPECT_EQ(bytes2, 8u);
  ASSERT_NE(part2, nullptr);
  const std::int16_t tail[4] = {1, 2, 3, 4};
  const std::int16_t head[4] = {5, 6, 7, 8};
  std::memcpy(part1, tail, 8);
  std::memcpy(part2, head, 8);
  EXPECT_EQ(buffer->Lock(0, 4, &part1, &bytes1, nullptr, nullptr, 0), DSERR_INVALIDCALL);
  ASSERT_EQ(buffer->Unlock(part1, bytes1, part2, bytes2), DS_OK);
  ASSERT_EQ(buffer->SetCurrentPosition(392), DS_OK);
  buffer->Play(0, 0, DSBPLAY_LOOPING);
  const auto out = Render(4);
  const std::int16_t expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expected[i]);

  ASSERT_EQ(buffer->Lock(0, 0, &part1, &bytes1, &part2, &bytes2, DSBLOCK_ENTIREBUFFER), DS_OK);
  EXPECT_EQ(bytes1, 400u);
  EXPECT_EQ(bytes2, 0u);
  EXPECT_EQ(part2, nullptr);
  EXPECT_EQ(buffer->Unlock(part1, 0, nullptr, 0), DS_OK);
  EXPECT_EQ(buffer->Lock(400, 4, &part1, &bytes1, &part2, &bytes2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->Lock(0, 404, &part1, &bytes1, &part2, &bytes2, 0), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundMixerTest, WriteCursorLeadsAPlayingBufferAndMeetsAStoppedOne) {
  IDirectSoundBuffer* buffer = MakeBuffer(Format(2, 44100, 16), 44100 * 4);
  DWORD play = 0, write = 0;
  buffer->GetCurrentPosition(&play, &write);
  EXPECT_EQ(write, play);
  buffer->Play(0, 0, DSBPLAY_LOOPING);
  Render(1000);
  buffer->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 4000u);
  EXPECT_EQ(write, 4000u + 441u * 4u);
}

TEST_F(DirectSoundMixerTest, FormatsTheDeviceCannotPlayAreRefused) {
  struct Case {
    const char* name;
    WAVEFORMATEX format;
  };
  WAVEFORMATEX wrongAlign = Format(2, 44100, 16);
  wrongAlign.nBlockAlign = 2;
  WAVEFORMATEX compressed = Format(2, 44100, 16);
  compressed.wFormatTag = 2;
  const Case cases[] = {
      {"24-bit", Format(2, 44100, 24)},
      {"six channels", Format(6, 44100, 16)},
      {"no channels", Format(0, 44100, 16)},
      {"rate 0", Format(2, 0, 16)},
      {"rate 300000", Format(1, 300000, 8)},
      {"block size", wrongAlign},
      {"not PCM", compressed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WAVEFORMATEX format = c.format;
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), 0x80E2, 4000, 0, &format, {}};
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(sound_->CreateSoundBuffer(&desc, &buffer, nullptr), DSERR_BADFORMAT);
    EXPECT_EQ(buffer, nullptr);
  }
  WAVEFORMATEX format = Format(2, 44100, 16);
  DSBUFFERDESC tooSmall{sizeof(DSBUFFERDESC), 0x80E2, 2, 0, &format, {}};
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(sound_->CreateSoundBuffer(&tooSmall, &buffer, nullptr), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundMixerTest, PrimaryFormatSetsTheMixRate) {
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, {}};
  IDirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(sound_->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
  EXPECT_EQ(GetDirectSoundMixRate(), 44100);
  WAVEFORMATEX format = Format(2, 22050, 16);
  ASSERT_EQ(primary->SetFormat(&format), DS_OK);
  EXPECT_EQ(GetDirectSoundMixRate(), 22050);

  // A 44,100 Hz buffer now plays two source frames per output frame.
  const auto samples = Ramp(100);
  IDirectSoundBuffer* buffer = MakeFilled(samples);
  buffer->Play(0, 0, 0);
  const auto out = Render(10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(out[2 * i], samples[4 * i]);
  format.nChannels = 3;
  EXPECT_EQ(primary->SetFormat(&format), DSERR_BADFORMAT);
  EXPECT_EQ(primary->Lock(0, 4, nullptr, nullptr, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
  primary->Release();
}

TEST_F(DirectSoundMixerTest, InjectedFailuresHitTheChosenCallOnce) {
  IDirectSoundBuffer* buffer = MakeFilled(Ramp(10));
  FailDirectSoundCall(DirectSoundCallDuplicate, 1);
  IDirectSoundBuffer* duplicate = nullptr;
  ASSERT_EQ(sound_->DuplicateSoundBuffer(buffer, &duplicate), DS_OK);
  buffers_.push_back(duplicate);
  EXPECT_EQ(sound_->DuplicateSoundBuffer(buffer, &duplicate), DSERR_OUTOFMEMORY);
  EXPECT_EQ(duplicate, nullptr);
  ASSERT_EQ(sound_->DuplicateSoundBuffer(buffer, &duplicate), DS_OK);
  buffers_.push_back(duplicate);
}

TEST(DirectSoundDeviceTest, NoDeviceSwitchMakesInitializeFail) {
  SetDirectSoundOutput(DirectSoundOutputNone);
  IDirectSound* sound = nullptr;
  ASSERT_EQ(CreateDirectSoundInstance(nullptr, IID_IDirectSound, reinterpret_cast<void**>(&sound)),
            S_OK);
  EXPECT_EQ(sound->Initialize(nullptr), DSERR_NODRIVER);
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, {}};
  IDirectSoundBuffer* primary = nullptr;
  EXPECT_EQ(sound->CreateSoundBuffer(&desc, &primary, nullptr), DSERR_UNINITIALIZED);
  std::int16_t frame[2];
  EXPECT_EQ(RenderDirectSoundOutput(frame, 1), -1);
  sound->Release();
  SetDirectSoundOutput(DirectSoundOutputDevice);
}

TEST(DirectSoundDeviceTest, CapsAreReportedAndCanBeReplaced) {
  SetDirectSoundOutput(DirectSoundOutputManual);
  IDirectSound* sound = nullptr;
  ASSERT_EQ(CreateDirectSoundInstance(nullptr, IID_IDirectSound, reinterpret_cast<void**>(&sound)),
            S_OK);
  DSCAPS caps{};
  caps.dwSize = sizeof caps;
  EXPECT_EQ(sound->GetCaps(&caps), DSERR_UNINITIALIZED);
  ASSERT_EQ(sound->Initialize(nullptr), DS_OK);
  EXPECT_EQ(sound->Initialize(nullptr), DSERR_ALREADYINITIALIZED);
  ASSERT_EQ(sound->GetCaps(&caps), DS_OK);
  EXPECT_EQ(caps.dwMaxSecondarySampleRate, 200000u);
  EXPECT_TRUE(caps.dwFlags & DSCAPS_PRIMARYSTEREO);
  DSCAPS custom{};
  custom.dwMaxSecondarySampleRate = 48000;
  SetDirectSoundCaps(&custom);
  ASSERT_EQ(sound->GetCaps(&caps), DS_OK);
  EXPECT_EQ(caps.dwMaxSecondarySampleRate, 48000u);
  SetDirectSoundCaps(nullptr);
  sound->Release();
  SetDirectSoundOutput(DirectSoundOutputDevice);
}

TEST(DirectSoundDeviceTest, EnumerationReportsTheDefaultDevice) {
  int devices = 0;
  auto callback = [](GUID* device, LPCSTR description, LPCSTR, LPVOID context) -> BOOL {
    EXPECT_EQ(device, nullptr);
    EXPECT_STREQ(description, "Primary Sound Driver");
    ++*static_cast<int*>(context);
    return TRUE;
  };
  EXPECT_EQ(DirectSoundEnumerateA(callback, &devices), DS_OK);
  EXPECT_EQ(devices, 1);
}

}  // namespace

namespace {

TEST(DirectSoundDeviceTest, MadeThroughComAndEnumeratedThroughTheModuleByName) {
  IDirectSound* sound = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSound,
                             reinterpret_cast<void**>(&sound)),
            S_OK);
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(sound->Release(), 0u);
  IUnknown* other = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSoundBuffer,
                             reinterpret_cast<void**>(&other)),
            E_NOINTERFACE);

  HMODULE module = LoadLibraryA("DSOUND.DLL");
  ASSERT_NE(module, nullptr);
  auto enumerate = reinterpret_cast<HRESULT (*)(LPDSENUMCALLBACKA, LPVOID)>(
      GetProcAddress(module, "DirectSoundEnumerateA"));
  ASSERT_NE(enumerate, nullptr);
  int devices = 0;
  enumerate([](GUID*, LPCSTR, LPCSTR,
               LPVOID context) -> BOOL { return ++*static_cast<int*>(context), TRUE; },
            &devices);
  EXPECT_EQ(devices, 1);
  FreeLibrary(module);
}

}  // namespace
