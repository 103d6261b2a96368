// What the sound fuzz targets share: one input decoded through the decoder frame with only the
// chosen decoder enabled, read in pieces, sought, and decoded whole; then loaded as a sound and
// mixed through the DirectSound stand-in's manual mixer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/media.h"
#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "system/log.h"
#include "system/tracked_memory.h"

inline void FuzzSoundInput(const std::uint8_t* data, std::size_t size, int onlyDecoder) {
  static const bool started = [] {
    SetLogOutput(0);
    SetDirectSoundOutput(DirectSoundOutputManual);
    return StartSoundSystem() == 0;
  }();
  if (size > (1u << 20)) return;
  SetSoundDecoderDisableMask(0x1F & ~onlyDecoder);

  MemoryStreamRecord* memory = OpenMemoryStream(data, static_cast<std::int32_t>(size));
  if (memory == nullptr) return;
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  SoundDecoderRecord decoder{};
  if (OpenSoundDecoder(&stream, &decoder) == 0) {
    std::uint8_t piece[777];
    for (int i = 0; i < 4; ++i) ReadSoundDecoder(&decoder, piece, sizeof piece);
    SeekSoundDecoder(&decoder, size > 0 ? data[0] * 7 : 0);
    ReadSoundDecoder(&decoder, piece, sizeof piece);
    SeekSoundDecoder(&decoder, 0);
    WAVEFORMATEX format;
    void* pcm = nullptr;
    int bytes = 0;
    if (DecodeSoundToPcm(&decoder, &format, &pcm, &bytes) == 0) TrackedFree(pcm);
    CloseSoundDecoder(&decoder);
  }
  CloseMemoryStream(stream.handle);

  if (!started) return;
  const int sound = LoadSoundDataFromFileImage(data, static_cast<int>(size), 2, -1);
  if (sound != -1) {
    PlaySoundData(sound, SoundPlayLoop, 1);
    PlaySoundData(sound, SoundPlayBack, 1);
    std::int16_t frames[2 * 300];
    RenderDirectSoundOutput(frames, 300);
    DeleteSoundData(sound);
  }
  SetSoundDecoderDisableMask(0);
}
