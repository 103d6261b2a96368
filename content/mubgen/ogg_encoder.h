// Ogg Vorbis encoding of the synthesised sounds, with a fixed stream serial so that the same
// samples always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth.h"

namespace mubgen {

// Encodes mono PCM at VBR quality 0.4. Returns an empty vector when the encoder fails.
std::vector<uint8_t> EncodeOggVorbis(const Pcm& pcm, int serial);

// Decodes an Ogg Vorbis file in memory (for checks): rate, channels and samples of channel 0.
bool DecodeOggVorbis(const std::vector<uint8_t>& bytes, int& rate, int& channels,
                     std::vector<int16_t>& samples);

}  // namespace mubgen
