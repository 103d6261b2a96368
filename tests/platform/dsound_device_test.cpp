// The DirectSound stand-in on a real SDL2 audio device: the dummy driver moves the cursors in
// real time, and the disk driver writes what the mixer produced to a file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <SDL.h>
#include <unistd.h>

#include "platform/dsound/dsound.h"

namespace {

// The tests run on SDL's dummy audio driver unless the environment names another.
const int kAudioDriverChosen = setenv("SDL_AUDIODRIVER", "dummy", 0);

IDirectSound* OpenDevice() {
  SetDirectSoundOutput(DirectSoundOutputDevice);
  IDirectSound* sound = nullptr;
  if (FAILED(
          CreateDirectSoundInstance(nullptr, IID_IDirectSound, reinterpret_cast<void**>(&sound))))
    return nullptr;
  if (FAILED(sound->Initialize(nullptr))) {
    sound->Release();
    return nullptr;
  }
  return sound;
}

IDirectSoundBuffer* MakeBuffer(IDirectSound* sound, const std::vector<std::int16_t>& samples) {
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  DSBUFFERDESC desc{
      sizeof(DSBUFFERDESC), 0x80E2, static_cast<DWORD>(samples.size() * 2), 0, &format, {}};
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(sound->CreateSoundBuffer(&desc, &buffer, nullptr))) return nullptr;
  void* part1 = nullptr;
  DWORD bytes1 = 0;
  buffer->Lock(0, desc.dwBufferBytes, &part1, &bytes1, nullptr, nullptr, 0);
  std::memcpy(part1, samples.data(), bytes1);
  buffer->Unlock(part1, bytes1, nullptr, 0);
  return buffer;
}

// <chrono> cannot be compiled for code page 932, so SDL keeps the time here.
bool WaitUntil(auto condition) {
  const Uint64 deadline = SDL_GetTicks64() + 5000;
  while (SDL_GetTicks64() < deadline) {
    if (condition()) return true;
    SDL_Delay(5);
  }
  return false;
}

TEST(DirectSoundRealTimeTest, DummyDriverMovesThePlayCursorAndEndsAOneShot) {
  ASSERT_EQ(kAudioDriverChosen, 0);
  IDirectSound* sound = OpenDevice();
  ASSERT_NE(sound, nullptr) << "the tests run with SDL's dummy audio driver";
  IDirectSoundBuffer* buffer = MakeBuffer(sound, std::vector<std::int16_t>(4410 * 2, 100));
  ASSERT_NE(buffer, nullptr);
  ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
  EXPECT_TRUE(WaitUntil([&] {
    DWORD status = 0;
    buffer->GetStatus(&status);
    return status == 0;
  }));
  buffer->Release();
  sound->Release();
}

// ALSA asked for a device it does not know stands for a machine without a sound device: the
// buffers still play, in real time, into nothing; one line says so, however often the device is
// opened, and nothing of ALSA's own search shows.
TEST(DirectSoundRealTimeTest, WithoutASoundDeviceBuffersPlayInRealTimeIntoNothingSaidOnce) {
  const std::string previousDriver =
      std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
  setenv("SDL_AUDIODRIVER", "alsa", 1);
  setenv("AUDIODEV", "engine_test_no_such_device", 1);
  testing::internal::CaptureStderr();
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start);
    IDirectSound* sound = OpenDevice();
    ASSERT_NE(sound, nullptr);
    EXPECT_STREQ(SDL_GetCurrentAudioDriver(), "dummy");
    IDirectSoundBuffer* buffer = MakeBuffer(sound, std::vector<std::int16_t>(4410 * 2, 100));
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    EXPECT_TRUE(WaitUntil([&] {
      DWORD status = 0;
      buffer->GetStatus(&status);
      return status == 0;
    })) << "the one-shot did not end";
    buffer->Release();
    sound->Release();
  }
  const std::string said = testing::internal::GetCapturedStderr();
  unsetenv("AUDIODEV");
  setenv("SDL_AUDIODRIVER", previousDriver.c_str(), 1);
  const std::string line = "platform: no sound device (";
  const std::size_t first = said.find(line);
  ASSERT_NE(first, std::string::npos) << said;
  EXPECT_EQ(said.find(line, first + 1), std::string::npos) << said;
  EXPECT_NE(said.find("): everything plays silent\n"), std::string::npos) << said;
  EXPECT_EQ(said.find("ALSA lib"), std::string::npos) << said;
}

TEST(DirectSoundRealTimeTest, DiskDriverWritesTheMixedSamples) {
  const std::string previousDriver =
      std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
  const auto path =
      std::filesystem::temp_directory_path() / ("dsound_disk_" + std::to_string(getpid()) + ".raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  IDirectSound* sound = OpenDevice();
  ASSERT_NE(sound, nullptr);
  std::vector<std::int16_t> samples(2205 * 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(1000 + i * 3);
  IDirectSoundBuffer* buffer = MakeBuffer(sound, samples);
  ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
  EXPECT_TRUE(WaitUntil([&] {
    DWORD status = 0;
    buffer->GetStatus(&status);
    return status == 0;
  }));
  buffer->Release();
  sound->Release();
  setenv("SDL_AUDIODRIVER", previousDriver.c_str(), 1);

  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  std::vector<std::int16_t> written(bytes.size() / 2);
  std::memcpy(written.data(), bytes.data(), written.size() * 2);
  const auto found = std::search(written.begin(), written.end(), samples.begin(), samples.end());
  EXPECT_NE(found, written.end()) << "the file holds " << written.size() << " samples";
}

}  // namespace
