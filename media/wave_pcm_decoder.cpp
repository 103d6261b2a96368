// The WAV decoder for PCM data: RIFF/WAVE, chunks before "fmt " stepped over, the format
// checked so that no later division meets a zero, and the data read straight from the stream.
// The chunk walk is shared with the compressed-WAV decoder.
#include <algorithm>
#include <cstring>

#include "media/sound_decoder.h"
#include "media/wave_chunks.h"
#include "system/little_endian.h"
#include "system/tracked_memory.h"

namespace {

// The output block of a WAV decoder holds about a second; a damaged rate must not make it huge.
constexpr std::int32_t kLargestWaveBlock = 1 << 20;

struct ChunkHeader {
  char id[4];
  std::uint32_t size;
};

std::size_t ReadBytes(SoundDecoderRecord* decoder, void* buffer, std::size_t bytes) {
  return decoder->stream.ops.read(buffer, 1, bytes, decoder->stream.handle);
}

std::int32_t Tell(SoundDecoderRecord* decoder) {
  return decoder->stream.ops.tell(decoder->stream.handle);
}

bool ReadChunkHeader(SoundDecoderRecord* decoder, ChunkHeader* header) {
  std::uint8_t raw[8];
  if (ReadBytes(decoder, raw, 8) != 8) return false;
  std::memcpy(header->id, raw, 4);
  header->size = ReadLittle32(raw + 4);
  return true;
}

bool IsChunk(const ChunkHeader& header, const char* id) {
  return std::memcmp(header.id, id, 4) == 0;
}

// Moves the stream forward by `bytes`, refusing to pass its end (a seek there would not fail).
bool SkipForward(SoundDecoderRecord* decoder, std::int64_t bytes, std::int32_t streamSize) {
  const std::int64_t target = static_cast<std::int64_t>(Tell(decoder)) + bytes;
  if (target > streamSize) return false;
  return decoder->stream.ops.seek(decoder->stream.handle, static_cast<std::int32_t>(target), 0) ==
         0;
}

}  // namespace

std::int32_t GetDecoderStreamSize(SoundDecoderRecord* decoder) {
  const StreamOps& ops = decoder->stream.ops;
  const std::intptr_t handle = decoder->stream.handle;
  const std::int32_t here = ops.tell(handle);
  ops.seek(handle, 0, 2);
  const std::int32_t size = ops.tell(handle);
  ops.seek(handle, here, 0);
  return size;
}

// The header up to the format chunk: "RIFF", "WAVE", maybe "bext", then "fmt ", read into a new
// tracked block. Null on a refusal.
std::uint8_t* ReadWaveFormatChunk(SoundDecoderRecord* decoder, std::int32_t streamSize) {
  std::uint8_t signature[8];
  if (ReadBytes(decoder, signature, 8) != 8 || std::memcmp(signature, "RIFF", 4) != 0)
    return nullptr;
  if (ReadBytes(decoder, signature, 4) != 4 || std::memcmp(signature, "WAVE", 4) != 0)
    return nullptr;
  // "bext", "LIST", "JUNK" and the like may come first: a WAV file refused here would be tried
  // as MP3, whose frame scan finds false frames in PCM data and decodes noise.
  ChunkHeader header;
  for (;;) {
    if (!ReadChunkHeader(decoder, &header)) return nullptr;
    if (IsChunk(header, "fmt ")) break;
    if (!SkipForward(decoder, static_cast<std::int64_t>(header.size) + (header.size & 1),
                     streamSize))
      return nullptr;
  }
  const std::int32_t position = Tell(decoder);
  if (header.size > static_cast<std::uint32_t>(std::max(streamSize - position, 0))) return nullptr;
  auto* chunk = static_cast<std::uint8_t*>(
      TrackedAlloc(std::max<std::int64_t>(header.size, 18), __FILE__, __LINE__));
  if (chunk == nullptr) return nullptr;
  std::memset(chunk, 0, std::max<std::size_t>(header.size, 18));
  if (ReadBytes(decoder, chunk, header.size) != header.size) {
    TrackedFree(chunk);
    return nullptr;
  }
  decoder->formatPosition = position;
  decoder->formatSize = static_cast<std::int32_t>(header.size);
  return chunk;
}

WAVEFORMATEX ReadWaveFormatFields(const std::uint8_t* chunk) {
  WAVEFORMATEX format{};
  format.wFormatTag = ReadLittle16(chunk);
  format.nChannels = ReadLittle16(chunk + 2);
  format.nSamplesPerSec = ReadLittle32(chunk + 4);
  format.nAvgBytesPerSec = ReadLittle32(chunk + 8);
  format.nBlockAlign = ReadLittle16(chunk + 12);
  format.wBitsPerSample = ReadLittle16(chunk + 14);
  format.cbSize = ReadLittle16(chunk + 16);
  return format;
}

void WriteWaveFormatFields(const WAVEFORMATEX& format, std::uint8_t* out) {
  WriteLittle16(out, format.wFormatTag);
  WriteLittle16(out + 2, format.nChannels);
  WriteLittle32(out + 4, format.nSamplesPerSec);
  WriteLittle32(out + 8, format.nAvgBytesPerSec);
  WriteLittle16(out + 12, format.nBlockAlign);
  WriteLittle16(out + 14, format.wBitsPerSample);
  WriteLittle16(out + 16, format.cbSize);
}

bool FindWaveDataChunk(SoundDecoderRecord* decoder, std::int32_t streamSize,
                       std::uint32_t* dataSize) {
  ChunkHeader header;
  for (;;) {
    if (!ReadChunkHeader(decoder, &header)) return false;
    if (IsChunk(header, "data")) break;
    if (!SkipForward(decoder, static_cast<std::int64_t>(header.size) + (header.size & 1),
                     streamSize))
      return false;
  }
  *dataSize = header.size;
  return true;
}

int OpenWavePcmDecoder(SoundDecoderRecord* decoder) {
  const std::int32_t streamSize = GetDecoderStreamSize(decoder);
  std::uint8_t* chunk = ReadWaveFormatChunk(decoder, streamSize);
  if (chunk == nullptr) return -1;
  WAVEFORMATEX format = ReadWaveFormatFields(chunk);
  const std::int32_t formatSize = decoder->formatSize;
  TrackedFree(chunk);
  if (format.wFormatTag != WAVE_FORMAT_PCM) return -1;
  // Every later step divides by these; a file that leaves them 0 is refused here.
  if (format.nChannels == 0 || format.nBlockAlign == 0 || format.nAvgBytesPerSec == 0) return -1;
  if (formatSize == 16) {
    format.cbSize = 0;
    format.wBitsPerSample = static_cast<WORD>(format.nBlockAlign / format.nChannels * 8);
  }

  std::uint32_t dataSize = 0;
  if (!FindWaveDataChunk(decoder, streamSize, &dataSize)) return -1;
  const std::int32_t dataStart = Tell(decoder);
  // A data size beyond the end of the file is a damaged file, not a promise of more data.
  if (dataSize > static_cast<std::uint32_t>(std::max(streamSize - dataStart, 0))) return -1;

  decoder->outputFormat = format;
  decoder->dataStart = dataStart;
  decoder->dataSize = static_cast<std::int32_t>(dataSize);
  const std::int32_t blockCount =
      std::max<std::int32_t>(1, static_cast<std::int32_t>(std::min<std::uint32_t>(
                                    format.nAvgBytesPerSec, kLargestWaveBlock)) /
                                    format.nBlockAlign);
  decoder->outputBufferSize = blockCount * format.nBlockAlign;
  decoder->kind = kSoundDecoderWavePcm;
  return 0;
}

int ReadWavePcmBlock(SoundDecoderRecord* decoder) {
  const std::int64_t consumed = static_cast<std::int64_t>(Tell(decoder)) - decoder->dataStart;
  const std::int64_t remaining = decoder->dataSize - consumed;
  if (remaining <= 0) return -1;
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::int64_t>(decoder->outputBufferSize, remaining));
  const std::size_t read = ReadBytes(decoder, decoder->outputBuffer, wanted);
  decoder->outputBytes = static_cast<std::int32_t>(read);
  return read == 0 ? -1 : 0;
}
