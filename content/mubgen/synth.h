// Sound synthesis from recipes: effects as layered tones, the music as voices playing a small
// pattern score. Output is mono 16-bit PCM.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "source_text.h"

namespace mubgen {

struct Pcm {
  int rate = 22050;
  std::vector<int16_t> samples;
};

// Reads "<dir>/sounds/*.snd" in name order; the result is keyed by the game's file names
// "b0" and "e0" ... "e6". Every one of them must be defined.
std::map<std::string, Pcm> ReadSounds(const std::string& dir, const std::string& shownDir);

std::map<std::string, Pcm> SynthesiseSounds(const std::vector<SourceFile>& files,
                                            const std::string& shownDir);

}  // namespace mubgen
