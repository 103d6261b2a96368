// Loading, playing and stopping sounds: a file decoded whole into PCM and copied into the
// handle's buffers, which are played in turn so that one effect can overlap itself.
#include <cmath>
#include <cstring>

#include "files/file_table.h"
#include "media/media.h"
#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

int soundLoadType = kLoadDecoded;

// Longer sounds are played as streams.
constexpr unsigned kLongestDecodedSeconds = 180;

// Keeps the SoundLock for the rest of a scope.
struct SoundLockScope {
  SoundLockScope() { EnterSoundLock(); }
  ~SoundLockScope() { LeaveSoundLock(); }
  SoundLockScope(const SoundLockScope&) = delete;
  SoundLockScope& operator=(const SoundLockScope&) = delete;
};

int LoadAsStream(const void* image, int bytes, int handle, int loadType, int sharedStream) {
  if (AddStreamSoundFileImage(image, bytes, 0, handle, loadType, sharedStream) != 0) {
    DeleteSoundData(handle);
    return -1;
  }
  PrefillStreamSoundBuffer(handle);
  return handle;
}

// Copies the PCM into every buffer of the record.
int FillSoundBuffers(SoundRecord* record) {
  for (int i = 0; i < record->bufferCount; ++i) {
    SoundBufferWrapper* wrapper = &record->buffers[i];
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    if (LockSoundBufferWrapper(wrapper, 0, static_cast<DWORD>(record->pcmSize), &part1, &bytes1,
                               &part2, &bytes2) != 0) {
      LogPrintf("サウンドデータの転送に失敗しました_1");
      return -1;
    }
    const auto* pcm = static_cast<const std::uint8_t*>(record->pcmData);
    std::memcpy(part1, pcm, bytes1);
    if (part2 != nullptr) std::memcpy(part2, pcm + bytes1, bytes2);
    if (UnlockSoundBufferWrapper(wrapper, part1, bytes1, part2, bytes2) != 0) {
      LogPrintf("サウンドデータの転送に失敗しました_2");
      return -1;
    }
  }
  return 0;
}

// Picks the next buffer in turn and readies it; -1 as `*chosen` when PlaySoundData must return
// 0 without playing.
void PrepareNormalSoundPlay(SoundRecord* record, int fromTop, int* chosen) {
  DWORD cursor = 0;
  if (GetSoundBufferPlayCursor(&record->buffers[record->currentBuffer], &cursor) != 0) cursor = 0;
  record->currentBuffer =
      record->bufferCount > 0 ? (record->currentBuffer + 1) % record->bufferCount : 0;
  *chosen = record->currentBuffer;
  SoundBufferWrapper* wrapper = &record->buffers[record->currentBuffer];
  DWORD status = 0;
  if (!wrapper->created || GetSoundBufferStatus(wrapper, &status) != 0) return;
  if (status & DSBSTATUS_PLAYING) {
    if (fromTop == 0) {
      *chosen = -1;
      return;
    }
    StopSoundBufferWrapper(wrapper);
  }
  SetSoundBufferPosition(wrapper, fromTop ? 0 : static_cast<int>(cursor));
  int values[3] = {record->volume, record->pan, record->frequency};
  for (int i = 0; i < 3; ++i) {
    if (!record->pendingFlags[i]) continue;
    values[i] = record->pendingValues[i];
    record->pendingFlags[i] = 0;
  }
  SetSoundBufferVolume(wrapper, values[0]);
  SetSoundBufferPan(wrapper, values[1]);
  SetSoundBufferFrequency(wrapper, values[2]);
}

}  // namespace

int LoadFileToMemory(const char* path, void** data, int* bytes) {
  const FileHandle file = fileFunctionTable.open(path, 0, 1, 0);
  if (file == 0) {
    LogPrintf("右記のファイルのオープンに失敗しました：%s", path);
    return -1;
  }
  fileFunctionTable.seek(file, 0, 2);
  const std::int32_t size = fileFunctionTable.tell(file);
  fileFunctionTable.seek(file, 0, 0);
  void* block = size < 0 ? nullptr : TrackedAlloc(size, __FILE__, __LINE__);
  if (block == nullptr) {
    LogPrintf("右記のファイルのロードに必要なメモリの確保に失敗しました：%s", path);
    fileFunctionTable.close(file);
    return -1;
  }
  const std::size_t read = fileFunctionTable.read(block, 1, static_cast<std::size_t>(size), file);
  fileFunctionTable.close(file);
  *data = block;
  *bytes = static_cast<int>(read);
  return 0;
}

int LoadSoundDataFile(const char* path, int bufferCount, int sharedStream) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundLockScope lock;
  if (bufferCount > kMaxSoundBuffers) bufferCount = kMaxSoundBuffers;
  if (soundLoadType != kLoadDecoded) {
    const int handle = AddSoundData(-1);
    if (handle == -1) return -1;
    if (AddStreamSoundFile(path, 0, handle, soundLoadType, sharedStream) != 0) {
      DeleteSoundData(handle);
      return -1;
    }
    PrefillStreamSoundBuffer(handle);
    return handle;
  }
  void* image = nullptr;
  int bytes = 0;
  if (LoadFileToMemory(path, &image, &bytes) != 0) {
    LogPrintf("右記の音声ファイルのロードに失敗しました_1：%s", path);
    return -1;
  }
  const int handle = LoadSoundDataFromFileImage(image, bytes, bufferCount, -1);
  TrackedFree(image);
  if (handle == -1) LogPrintf("右記の音声ファイルのロードに失敗しました_2：%s", path);
  return handle;
}

int LoadSoundDataFromFileImage(const void* image, int bytes, int bufferCount, int sharedStream) {
  if (GetDirectSoundObject() == nullptr || bufferCount > kMaxSoundBuffers) return -1;
  SoundLockScope lock;
  const int handle = AddSoundData(-1);
  if (handle == -1) return -1;
  if (soundLoadType != kLoadDecoded)
    return LoadAsStream(image, bytes, handle, soundLoadType, sharedStream);

  MemoryStreamRecord* memory = OpenMemoryStream(image, bytes);
  SoundDecoderRecord decoder{};
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  if (memory == nullptr || OpenSoundDecoder(&stream, &decoder) != 0) {
    LogPrintf("音声ファイルのＰＣＭへの変換に失敗しました");
    if (memory != nullptr) CloseMemoryStream(stream.handle);
    DeleteSoundData(handle);
    return -1;
  }
  WAVEFORMATEX format{};
  void* pcm = nullptr;
  int pcmBytes = 0;
  const int decoded = DecodeSoundToPcm(&decoder, &format, &pcm, &pcmBytes);
  CloseSoundDecoder(&decoder);
  CloseMemoryStream(stream.handle);
  if (decoded != 0) {
    LogPrintf("音声ファイルを格納するメモリ領域の確保に失敗しました");
    DeleteSoundData(handle);
    return -1;
  }

  const unsigned seconds =
      format.nAvgBytesPerSec == 0 ? 0 : static_cast<unsigned>(pcmBytes) / format.nAvgBytesPerSec;
  if (seconds > kLongestDecodedSeconds) {
    TrackedFree(pcm);
    return LoadAsStream(image, bytes, handle, kLoadStreamFromMemory, sharedStream);
  }
  // A format the device refuses for a buffer would be refused for a stream's ring as well, so
  // the sound is refused here rather than handed on to fail later.
  if (CreateSoundBuffers(-1, &format, pcmBytes, kNormalSound, bufferCount, handle) != 0) {
    TrackedFree(pcm);
    DeleteSoundData(handle);
    return -1;
  }
  SoundRecord* record = GetSoundRecord(handle);
  record->frequency = static_cast<std::int32_t>(format.nSamplesPerSec);
  record->pcmReferenceCount =
      static_cast<std::int32_t*>(TrackedAlloc(sizeof(std::int32_t), __FILE__, __LINE__));
  if (record->pcmReferenceCount == nullptr) {
    LogPrintf("サウンドデータの参照数を保存するメモリ領域の確保に失敗しました");
    TrackedFree(pcm);
    DeleteSoundData(handle);
    return -1;
  }
  record->format = format;
  record->pcmSize = pcmBytes;
  record->pcmData = pcm;
  *record->pcmReferenceCount = 1;
  if (FillSoundBuffers(record) != 0) {
    DeleteSoundData(handle);
    return -1;
  }
  return handle;
}

int PlaySoundData(int sound, int playType, int fromTop) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundRecord* record = GetSoundRecord(sound);
  if (record == nullptr) return -1;
  if (record->kind == kStreamSound) return PlayStreamSoundBuffer(sound, playType, fromTop);
  int chosen = 0;
  PrepareNormalSoundPlay(record, fromTop, &chosen);
  if (chosen < 0) return 0;
  if (PlaySoundBufferWrapper(&record->buffers[chosen], playType == SoundPlayLoop) != 0) return -1;
  if (playType == SoundPlayWait) {
    while (hostCallTable.pumpWindowMessages() == 0 && IsSoundDataPlaying(sound) == 1) Sleep(1);
  }
  return 0;
}

int StopSoundData(int sound) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundRecord* record = GetSoundRecord(sound);
  if (record == nullptr) return -1;
  if (record->kind == kStreamSound) return StopStreamSoundBuffer(sound);
  for (int i = 0; i < record->bufferCount; ++i) {
    DWORD status = 0;
    if (GetSoundBufferStatus(&record->buffers[i], &status) != 0) return -1;
    if (status & DSBSTATUS_PLAYING) StopSoundBufferWrapper(&record->buffers[i]);
  }
  return 0;
}

int SetSoundDataVolume(int volume, int sound) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundRecord* record = GetSoundRecord(sound);
  if (record == nullptr) return -1;
  if (volume > 255) volume = 255;
  int value = DSBVOLUME_MIN;
  if (volume > 0) {
    value = static_cast<int>(std::trunc(1000.0 * std::log10(volume / 255.0)));
    if (value < DSBVOLUME_MIN) value = DSBVOLUME_MIN;
  }
  for (int i = 0; i < record->bufferCount; ++i) SetSoundBufferVolume(&record->buffers[i], value);
  record->volume = value;
  return 0;
}

int IsSoundDataPlaying(int sound) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundRecord* record = GetSoundRecord(sound);
  if (record == nullptr) return -1;
  if (record->kind == kStreamSound) return IsStreamSoundPlaying(sound);
  for (int i = 0; i < record->bufferCount; ++i) {
    DWORD status = 0;
    if (GetSoundBufferStatus(&record->buffers[i], &status) == 0 && (status & DSBSTATUS_PLAYING))
      return 1;
  }
  return 0;
}

int GetSoundDataPlayTime(int sound) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundRecord* record = GetSoundRecord(sound);
  if (record == nullptr) return -1;
  if (record->kind == kStreamSound) return GetStreamSoundPlayTime(sound);
  DWORD cursor = 0;
  if (GetSoundBufferPlayCursor(&record->buffers[record->currentBuffer], &cursor) != 0) return -1;
  const int samples =
      record->format.nBlockAlign == 0 ? 0 : static_cast<int>(cursor / record->format.nBlockAlign);
  return SamplesToMilliseconds(samples, static_cast<int>(record->format.nSamplesPerSec));
}

int SetSoundLoadType(int type) {
  if (type < 0 || type > 3) return -1;
  soundLoadType = type == 1 ? kLoadDecoded : type;
  return 0;
}

int GetSoundLoadType() { return soundLoadType; }
