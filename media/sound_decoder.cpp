// The sound decoder frame: open in the fixed order of decoders, read through the output block,
// seek, total, close, whole decodes, and the two helpers that build and read whole images.
#include "media/sound_decoder.h"

#include <algorithm>
#include <cstring>

#include "system/little_endian.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

int soundDecoderDisableMask = 0;

// A whole decode that grows its block as PCM arrives, so that a damaged header claiming a huge
// length costs no more memory than the data really decodes to.
constexpr std::int32_t kFirstDecodeBlock = 1 << 20;

int Refill(SoundDecoderRecord* decoder) {
  switch (decoder->kind) {
    case kSoundDecoderWavePcm: return ReadWavePcmBlock(decoder);
    case kSoundDecoderAcm: return ReadAcmBlock(decoder);
    case kSoundDecoderOggVorbis: return ReadOggVorbisDecoder(decoder);
    case kSoundDecoderMemoryPcm: return ReadMemoryPcmBlock(decoder);
    default: return -1;
  }
}

void ReleaseKindState(SoundDecoderRecord* decoder) {
  switch (decoder->kind) {
    case kSoundDecoderAcm: ReleaseAcmDecoder(decoder); break;
    case kSoundDecoderOggVorbis: CloseOggVorbisDecoder(decoder); break;
    case kSoundDecoderMemoryPcm:
      TrackedFree(decoder->memoryPcm.data);
      decoder->memoryPcm.data = nullptr;
      break;
    default: break;
  }
}

}  // namespace

int OpenSoundDecoder(const StreamRecord* stream, SoundDecoderRecord* decoder) {
  std::memset(decoder, 0, sizeof *decoder);
  decoder->movieSound = GetMovieSoundSwitch();
  decoder->stream = *stream;
  decoder->standbyTarget = 0;
  StreamOps& ops = decoder->stream.ops;
  const std::intptr_t handle = decoder->stream.handle;
  ops.seek(handle, 0, 0);

  struct Candidate {
    int skipBit;
    int (*open)(SoundDecoderRecord*);
    bool rewindAfterRefusal;
  };
  const Candidate candidates[] = {
      {kSoundDecoderSkipWavePcm, OpenWavePcmDecoder, true},
      {kSoundDecoderSkipWaveAcm, OpenWaveAcmDecoder, true},
      {kSoundDecoderSkipOggVorbis, OpenOggVorbisDecoder, true},
      {kSoundDecoderSkipMp3Acm, OpenMp3AcmDecoder, false},
      {kSoundDecoderSkipDirectShow, OpenDirectShowAudioDecoder, false},
  };
  bool accepted = false;
  for (const Candidate& candidate : candidates) {
    if (soundDecoderDisableMask & candidate.skipBit) continue;
    if (candidate.open(decoder) == 0) {
      accepted = true;
      break;
    }
    if (candidate.rewindAfterRefusal) ops.seek(handle, 0, 0);
  }
  if (!accepted) return -1;

  decoder->outputBuffer =
      static_cast<std::uint8_t*>(TrackedAlloc(decoder->outputBufferSize, __FILE__, __LINE__));
  if (decoder->outputBuffer == nullptr) {
    ReleaseKindState(decoder);
    return -1;
  }
  decoder->outputBytes = 0;
  decoder->outputOffset = 0;
  decoder->position = 0;
  decoder->endReached = 0;
  decoder->opened = 1;
  return 0;
}

int ReadSoundDecoder(SoundDecoderRecord* decoder, void* buffer, int bytes) {
  if (!decoder->opened) return -1;
  if (decoder->endReached || bytes <= 0) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  int delivered = 0;
  for (;;) {
    if (decoder->outputBytes == 0) {
      decoder->outputOffset = 0;
      if (Refill(decoder) != 0 || decoder->outputBytes <= 0) {
        decoder->outputBytes = 0;
        decoder->endReached = 1;
        return delivered;
      }
    }
    const int take = std::min(bytes - delivered, decoder->outputBytes);
    std::memcpy(out + delivered, decoder->outputBuffer + decoder->outputOffset,
                static_cast<std::size_t>(take));
    decoder->outputOffset += take;
    decoder->outputBytes -= take;
    decoder->position += take;
    delivered += take;
    if (delivered == bytes) return delivered;
  }
}

int ReadMemoryPcmBlock(SoundDecoderRecord* decoder) {
  MemoryPcmDecoderState& memory = decoder->memoryPcm;
  const std::int32_t left = memory.size - memory.readPosition;
  if (left <= 0) return -1;
  const std::int32_t bytes = std::min(decoder->outputBufferSize, left);
  std::memcpy(decoder->outputBuffer, memory.data + memory.readPosition,
              static_cast<std::size_t>(bytes));
  memory.readPosition += bytes;
  decoder->outputBytes = bytes;
  return 0;
}

int SeekSoundDecoder(SoundDecoderRecord* decoder, int sample) {
  if (!decoder->opened) return -1;
  const std::int64_t wanted =
      static_cast<std::int64_t>(std::max(sample, 0)) * decoder->outputFormat.nBlockAlign;
  const std::int32_t target = static_cast<std::int32_t>(std::min<std::int64_t>(wanted, INT32_MAX));
  const std::int64_t distance = static_cast<std::int64_t>(target) - decoder->position;
  if (distance > -16 && distance < 16) return 0;
  switch (decoder->kind) {
    case kSoundDecoderWavePcm: {
      const std::int32_t clamped = std::min(target, decoder->dataSize);
      decoder->stream.ops.seek(decoder->stream.handle, decoder->dataStart + clamped, 0);
      decoder->position = clamped;
      decoder->outputBytes = 0;
      decoder->outputOffset = 0;
      break;
    }
    case kSoundDecoderAcm: SeekAcmDecoder(decoder, target); break;
    case kSoundDecoderOggVorbis: SeekOggVorbisDecoder(decoder, sample); break;
    case kSoundDecoderMemoryPcm: {
      const std::int32_t clamped = std::min(target, decoder->memoryPcm.size);
      decoder->memoryPcm.readPosition = clamped;
      decoder->position = clamped;
      decoder->outputBytes = 0;
      decoder->outputOffset = 0;
      break;
    }
    default: break;
  }
  decoder->endReached = 0;
  return 0;
}

int GetSoundDecoderFormat(const SoundDecoderRecord* decoder, WAVEFORMATEX* format) {
  *format = decoder->outputFormat;
  return 0;
}

int GetSoundDecoderTotalBytes(SoundDecoderRecord* decoder) {
  switch (decoder->kind) {
    case kSoundDecoderWavePcm: return decoder->dataSize;
    case kSoundDecoderAcm: return GetAcmDecoderTotalBytes(decoder);
    case kSoundDecoderOggVorbis: return GetOggVorbisDecoderTotalBytes(decoder);
    case kSoundDecoderMemoryPcm: return decoder->memoryPcm.size;
    default: return 0;
  }
}

int CloseSoundDecoder(SoundDecoderRecord* decoder) {
  if (!decoder->opened) return -1;
  TrackedFree(decoder->outputBuffer);
  decoder->outputBuffer = nullptr;
  ReleaseKindState(decoder);
  decoder->opened = 0;
  return 0;
}

int DecodeSoundToPcm(SoundDecoderRecord* decoder, WAVEFORMATEX* format, void** pcm, int* bytes) {
  const int total = GetSoundDecoderTotalBytes(decoder);
  if (!decoder->opened || total <= 0) return -1;
  std::uint8_t* block = nullptr;
  int decoded = 0;
  if (decoder->kind == kSoundDecoderWavePcm) {
    block = static_cast<std::uint8_t*>(TrackedAlloc(total, __FILE__, __LINE__));
    if (block == nullptr) return -1;
    SeekSoundDecoder(decoder, 0);
    decoder->stream.ops.seek(decoder->stream.handle, decoder->dataStart, 0);
    decoded = static_cast<int>(decoder->stream.ops.read(block, 1, static_cast<std::size_t>(total),
                                                        decoder->stream.handle));
  } else {
    int capacity = std::min(total, kFirstDecodeBlock);
    block = static_cast<std::uint8_t*>(TrackedAlloc(capacity, __FILE__, __LINE__));
    if (block == nullptr) return -1;
    SeekSoundDecoder(decoder, 0);
    for (;;) {
      const int got = ReadSoundDecoder(decoder, block + decoded, capacity - decoded);
      if (got <= 0) break;
      decoded += got;
      if (decoded < capacity) continue;
      if (capacity == total) break;
      const int grown =
          static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(capacity) * 2, total));
      auto* larger = static_cast<std::uint8_t*>(TrackedRealloc(block, grown, __FILE__, __LINE__));
      if (larger == nullptr) {
        TrackedFree(block);
        return -1;
      }
      block = larger;
      capacity = grown;
    }
  }
  if (decoded <= 0) {
    TrackedFree(block);
    return -1;
  }
  *format = decoder->outputFormat;
  *pcm = block;
  *bytes = decoded;
  return 0;
}

int SetSoundDecoderDisableMask(int mask) {
  soundDecoderDisableMask = mask;
  return 0;
}

int GetSoundDecoderDisableMask() { return soundDecoderDisableMask; }

int BuildWaveFileImage(void** image, int* bytes, const void* format, int formatBytes,
                       const void* data, int dataBytes) {
  const std::int64_t total = static_cast<std::int64_t>(formatBytes) + dataBytes + 28;
  auto* block = formatBytes < 0 || dataBytes < 0 || total > INT32_MAX
                    ? nullptr
                    : static_cast<std::uint8_t*>(TrackedAlloc(total, __FILE__, __LINE__));
  if (block == nullptr) {
    LogWriteText("仮WAVEファイルイメージ用のメモリ確保に失敗しました\n");
    return -1;
  }
  std::uint8_t* p = block;
  std::memcpy(p, "RIFF", 4);
  WriteLittle32(p + 4, static_cast<std::uint32_t>(total - 8));
  std::memcpy(p + 8, "WAVEfmt ", 8);
  WriteLittle32(p + 16, static_cast<std::uint32_t>(formatBytes));
  if (formatBytes > 0) std::memcpy(p + 20, format, static_cast<std::size_t>(formatBytes));
  p += 20 + formatBytes;
  std::memcpy(p, "data", 4);
  WriteLittle32(p + 4, static_cast<std::uint32_t>(dataBytes));
  if (dataBytes > 0) std::memcpy(p + 8, data, static_cast<std::size_t>(dataBytes));
  *image = block;
  *bytes = static_cast<int>(total);
  return 0;
}

int ReadWholeStream(const StreamRecord* stream, void** data, int* bytes) {
  const StreamOps& ops = stream->ops;
  ops.seek(stream->handle, 0, 2);
  const std::int32_t size = ops.tell(stream->handle);
  ops.seek(stream->handle, 0, 0);
  void* block = size < 0 ? nullptr : TrackedAlloc(size, __FILE__, __LINE__);
  if (block == nullptr) {
    LogPrintf("ストリームの読み込みに必要なメモリの確保に失敗しました");
    return -1;
  }
  const std::size_t read = ops.read(block, 1, static_cast<std::size_t>(size), stream->handle);
  *data = block;
  *bytes = static_cast<int>(read);
  return 0;
}
