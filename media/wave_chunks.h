// The RIFF/WAVE chunk walk and the format fields that the WAV decoders and writers share.
#pragma once

#include <cstdint>

#include "media/sound_decoder.h"

// Bytes in the decoder's stream; the stream position is kept.
std::int32_t GetDecoderStreamSize(SoundDecoderRecord* decoder);
// "RIFF", "WAVE", any chunks before "fmt ", then the "fmt " body in a new tracked block of at
// least 18 bytes (zero-filled past the chunk); notes its position and size. Null on a refusal.
std::uint8_t* ReadWaveFormatChunk(SoundDecoderRecord* decoder, std::int32_t streamSize);
// The 18 bytes of a "fmt " body, field by field, read and written.
WAVEFORMATEX ReadWaveFormatFields(const std::uint8_t* chunk);
void WriteWaveFormatFields(const WAVEFORMATEX& format, std::uint8_t* out);
// Walks on to the "data" chunk and leaves the stream at its first byte.
bool FindWaveDataChunk(SoundDecoderRecord* decoder, std::int32_t streamSize,
                       std::uint32_t* dataSize);
