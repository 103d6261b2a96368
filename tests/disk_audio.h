// SDL's disk audio driver for one test: while it lives, an audio device the DirectSound stand-in
// opens writes what the mixer produced to a file, which the test reads back as 16-bit samples.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class DiskAudioOutput {
 public:
  explicit DiskAudioOutput(std::string path) : path_(std::move(path)) {
    const char* previous = std::getenv("SDL_AUDIODRIVER");
    previous_ = previous != nullptr ? previous : "dummy";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
  }
  ~DiskAudioOutput() { setenv("SDL_AUDIODRIVER", previous_.c_str(), 1); }
  DiskAudioOutput(const DiskAudioOutput&) = delete;
  DiskAudioOutput& operator=(const DiskAudioOutput&) = delete;

  // Interleaved stereo as the device took it; complete once the device has been closed.
  std::vector<std::int16_t> Samples() const {
    std::ifstream file(path_, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }

 private:
  std::string path_;
  std::string previous_;
};
