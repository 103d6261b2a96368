// The Ogg Vorbis decoder: libvorbisfile reads through the decoder's StreamRecord, so a file, an
// archive entry and memory decode alike, and hands out interleaved 16-bit little-endian PCM.
#include <cstring>

#include "media/sound_decoder.h"

namespace {

int oggVorbisOutputWordSize = 2;
int movieSoundSwitch = 0;

constexpr int kOggVorbisBlock = 4096;

size_t OggVorbisReadCallback(void* buffer, size_t size, size_t count, void* source) {
  auto* stream = static_cast<StreamRecord*>(source);
  if (stream == nullptr) return static_cast<size_t>(-1);
  return stream->ops.read(buffer, size, count, stream->handle);
}

int OggVorbisSeekCallback(void* source, ogg_int64_t offset, int origin) {
  auto* stream = static_cast<StreamRecord*>(source);
  if (stream == nullptr) return -1;
  return stream->ops.seek(stream->handle, static_cast<std::int32_t>(offset), origin);
}

int ReturnZero(void*) { return 0; }

long OggVorbisTellCallback(void* source) {
  auto* stream = static_cast<StreamRecord*>(source);
  if (stream == nullptr) return -1;
  return stream->ops.tell(stream->handle);
}

constexpr ov_callbacks kOggVorbisCallbacks = {OggVorbisReadCallback, OggVorbisSeekCallback,
                                              ReturnZero, OggVorbisTellCallback};

}  // namespace

int OpenOggVorbisDecoder(SoundDecoderRecord* decoder) {
  OggVorbisDecoderState& state = decoder->oggVorbis;
  state.open = 0;
  state.damaged = 0;
  if (ov_open_callbacks(&decoder->stream, &state.file, nullptr, 0, kOggVorbisCallbacks) != 0)
    return -1;
  state.open = 1;
  const vorbis_info* info = ov_info(&state.file, -1);
  const int wordSize = GetOggVorbisOutputWordSize();
  if (info == nullptr || info->channels <= 0 || info->channels > 255 || info->rate <= 0) {
    CloseOggVorbisDecoder(decoder);
    return -1;
  }
  WAVEFORMATEX& format = decoder->outputFormat;
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(info->channels);
  format.nSamplesPerSec = static_cast<DWORD>(info->rate);
  format.nBlockAlign = static_cast<WORD>(info->channels * wordSize);
  format.wBitsPerSample = static_cast<WORD>(wordSize * 8);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  format.cbSize = 0;
  state.wordSize = wordSize;
  decoder->outputBufferSize = kOggVorbisBlock;
  decoder->kind = kSoundDecoderOggVorbis;
  decoder->dataSize = GetOggVorbisDecoderTotalBytes(decoder);
  return 0;
}

// A negative result (a hole or a bad link) ends the decode: what was decoded before it stays.
// The file layer is not read again after it, since reading on after some damage divides by zero
// inside the Vorbis decoder (found by fuzzing).
int ReadOggVorbisDecoder(SoundDecoderRecord* decoder) {
  OggVorbisDecoderState& state = decoder->oggVorbis;
  if (state.open != 1 || state.damaged) return -1;
  int section = 0;
  const long result =
      ov_read(&state.file, reinterpret_cast<char*>(decoder->outputBuffer), kOggVorbisBlock, 0,
              state.wordSize, state.wordSize != 1 ? 1 : 0, &section);
  if (result < 0) state.damaged = 1;
  if (result <= 0) return -1;
  decoder->outputBytes = static_cast<std::int32_t>(result);
  return 0;
}

// The file layer's own PCM seek goes on decoding after damage it met on the way, which divides by
// zero inside the Vorbis decoder (found by fuzzing), so a seek opens the file again and decodes
// forward to the sample, the same road a whole decode takes.
int SeekOggVorbisDecoder(SoundDecoderRecord* decoder, int sample) {
  OggVorbisDecoderState& state = decoder->oggVorbis;
  CloseOggVorbisDecoder(decoder);
  decoder->outputBytes = 0;
  decoder->outputOffset = 0;
  decoder->position = 0;
  decoder->stream.ops.seek(decoder->stream.handle, 0, 0);
  state.damaged = 0;
  if (ov_open_callbacks(&decoder->stream, &state.file, nullptr, 0, kOggVorbisCallbacks) != 0)
    return -1;
  state.open = 1;
  const std::int64_t target = static_cast<std::int64_t>(sample) * decoder->outputFormat.nBlockAlign;
  while (decoder->position < target) {
    if (ReadOggVorbisDecoder(decoder) != 0) break;
    const std::int64_t wanted = target - decoder->position;
    if (wanted < decoder->outputBytes) {
      decoder->outputOffset = static_cast<std::int32_t>(wanted);
      decoder->outputBytes -= static_cast<std::int32_t>(wanted);
      decoder->position = static_cast<std::int32_t>(target);
      return 0;
    }
    decoder->position += decoder->outputBytes;
    decoder->outputBytes = 0;
  }
  return 0;
}

// Computed in 32 bits, as the rest of the sound code counts bytes; a length that does not fit,
// or that the file layer cannot tell, is 0.
int GetOggVorbisDecoderTotalBytes(SoundDecoderRecord* decoder) {
  const ogg_int64_t samples = ov_pcm_total(&decoder->oggVorbis.file, -1);
  // A damaged last page can claim any granule position: past 2^31 samples no byte count fits.
  if (samples <= 0 || samples > INT32_MAX) return 0;
  const ogg_int64_t bytes = samples * decoder->outputFormat.nChannels * decoder->oggVorbis.wordSize;
  return bytes > INT32_MAX ? 0 : static_cast<int>(bytes);
}

int CloseOggVorbisDecoder(SoundDecoderRecord* decoder) {
  if (decoder->oggVorbis.open == 1) {
    ov_clear(&decoder->oggVorbis.file);
    decoder->oggVorbis.open = 0;
  }
  return 0;
}

int SetOggVorbisOutputWordSize(int bytes) {
  oggVorbisOutputWordSize = bytes;
  return 0;
}

int GetOggVorbisOutputWordSize() { return oggVorbisOutputWordSize; }

int SetMovieSoundSwitch(int on) {
  movieSoundSwitch = on;
  return 0;
}

int GetMovieSoundSwitch() { return movieSoundSwitch; }
