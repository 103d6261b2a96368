// Stream sounds: one second of PCM in a looping DirectSound ring, refilled from up to three
// entries while it plays (by the sound thread, or by the message pump on one processor). What
// the listener hears — once, looped with a seamless seam, or ended — is decided by what the
// refill writes into the ring. Several stream handles may share one ring; one sounds at a time.
#include <algorithm>
#include <cstring>

#include "media/media.h"
#include "media/sound_system.h"
#include "media/wave_chunks.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

constexpr std::int32_t kNotPrefilled = -800;

struct SoundLockScope {
  SoundLockScope() { EnterSoundLock(); }
  ~SoundLockScope() { LeaveSoundLock(); }
  SoundLockScope(const SoundLockScope&) = delete;
  SoundLockScope& operator=(const SoundLockScope&) = delete;
};

// One locked ring region during a refill.
struct StreamLockRegion {
  DWORD lockOffset;
  std::uint8_t* part1;
  std::uint8_t* part2;
  DWORD size1, size2;
  DWORD done1, done2;
  DWORD left1, left2;
};

std::uint8_t* NextByte(StreamLockRegion& region) {
  return region.left1 > 0 ? region.part1 + region.done1 : region.part2 + region.done2;
}

void Advance(StreamLockRegion& region, DWORD bytes) {
  if (region.left1 > 0) {
    region.done1 += bytes;
    region.left1 -= bytes;
  } else {
    region.done2 += bytes;
    region.left2 -= bytes;
  }
}

DWORD LeftInPart(const StreamLockRegion& region) {
  return region.left1 > 0 ? region.left1 : region.left2;
}

std::int32_t NextWritePosition(const SoundRecord* record, const StreamLockRegion& region) {
  return static_cast<std::int32_t>((region.lockOffset + region.done1 + region.done2) %
                                   static_cast<DWORD>(record->ringSize));
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
         a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample &&
         a.cbSize == b.cbSize;
}

std::int32_t RingBytes(const WAVEFORMATEX& format) {
  const std::int32_t block = format.nBlockAlign;
  const std::int32_t second = static_cast<std::int32_t>(format.nAvgBytesPerSec & 0xFFFFFF);
  return block * ((second + block - 1) / block);
}

void ReleaseEntry(StreamSoundEntry* entry, bool opened) {
  CloseSoundDecoder(&entry->decoder);
  if (opened && entry->type == kStreamEntryCallers)
    entry->decoder.stream.ops.close(entry->decoder.stream.handle);
  if (entry->stream.handle != 0) entry->stream.ops.close(entry->stream.handle);
  entry->stream.handle = 0;
  TrackedFree(entry->image);
  entry->image = nullptr;
}

// A memory stream over the entry's own image, and a decoder on it.
int OpenImageEntry(StreamSoundEntry* entry) {
  MemoryStreamRecord* memory = OpenMemoryStream(entry->image, entry->imageSize);
  if (memory == nullptr) return -1;
  entry->stream = StreamRecord{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  return OpenSoundDecoder(&entry->stream, &entry->decoder);
}

// The whole source decoded and kept as an in-memory WAV image.
int DecodeEntryToImage(const StreamRecord* stream, StreamSoundEntry* entry) {
  void* compressed = nullptr;
  int bytes = 0;
  if (ReadWholeStream(stream, &compressed, &bytes) != 0) {
    LogPrintf("音声データの読み込みに失敗しました");
    return -1;
  }
  MemoryStreamRecord* memory = OpenMemoryStream(compressed, bytes);
  StreamRecord over{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  SoundDecoderRecord decoder{};
  WAVEFORMATEX format{};
  void* pcm = nullptr;
  int pcmBytes = 0;
  int result = -1;
  if (memory != nullptr && OpenSoundDecoder(&over, &decoder) == 0) {
    result = DecodeSoundToPcm(&decoder, &format, &pcm, &pcmBytes);
    CloseSoundDecoder(&decoder);
  }
  if (memory != nullptr) CloseMemoryStream(over.handle);
  TrackedFree(compressed);
  if (result != 0) {
    LogPrintf("音声データの変換に失敗しました");
    return -1;
  }
  std::uint8_t stored[18];
  WriteWaveFormatFields(format, stored);
  result = BuildWaveFileImage(&entry->image, &entry->imageSize, stored, 18, pcm, pcmBytes);
  TrackedFree(pcm);
  return result;
}

// The ring that `record` plays through: its own, or its owner's.
SoundBufferWrapper* RingOf(SoundRecord* record) {
  if (record->kind != kStreamSound || record->ringOwner == -1) return &record->buffers[0];
  SoundRecord* owner = GetSoundRecord(record->ringOwner);
  return owner != nullptr ? &owner->buffers[0] : nullptr;
}

bool RingPlays(SoundBufferWrapper* ring) {
  DWORD status = 0;
  return ring != nullptr && GetSoundBufferStatus(ring, &status) == 0 &&
         (status & DSBSTATUS_PLAYING);
}

void Rewind(SoundRecord* record) {
  record->endedOnce = 0;
  record->entryPosition = 0;
  record->playedBytes = 0;
  record->loopMarkPending = 0;
  record->entryPlayCount = 0;
  record->currentEntry = 0;
  record->started = 0;
}

void WriteStreamSilence(SoundRecord* record, StreamLockRegion& region, DWORD bytes) {
  const int fill = record->format.wBitsPerSample == 8 ? 127 : 0;
  while (bytes > 0 && (region.left1 > 0 || region.left2 > 0)) {
    const DWORD piece = std::min(bytes, LeftInPart(region));
    std::memset(NextByte(region), fill, piece);
    Advance(region, piece);
    bytes -= piece;
  }
}

DWORD CopyDecodedToStreamBuffer(StreamLockRegion& region, SoundDecoderRecord* decoder,
                                DWORD bytes) {
  DWORD written = 0;
  while (written < bytes && (region.left1 > 0 || region.left2 > 0)) {
    const DWORD piece = std::min(bytes - written, LeftInPart(region));
    const int got = ReadSoundDecoder(decoder, NextByte(region), static_cast<int>(piece));
    if (got <= 0) break;
    Advance(region, static_cast<DWORD>(got));
    written += static_cast<DWORD>(got);
  }
  return written;
}

// The current entry has no more data: loop it, go on to the next, loop the whole sequence, or
// end the stream.
int AdvanceStreamEntry(SoundRecord* record, StreamLockRegion& region, std::int32_t cursor) {
  const std::int32_t block = record->format.nBlockAlign;
  StreamSoundEntry* entry = &record->entries[record->currentEntry];
  ++record->entryPlayCount;
  if (entry->loopCount == -1) {
    if (record->loopMarkPending) return 0;
    record->entryPosition = entry->loopStart * block;
    record->loopSkip = entry->loopStart * block;
    record->loopMarkPending = 1;
    record->loopMarkPosition = NextWritePosition(record, region);
    SeekSoundDecoder(&entry->decoder, entry->loopStart);
    return 0;
  }
  if (record->entryPlayCount <= entry->loopCount) {
    record->entryPosition = 0;
    SeekSoundDecoder(&entry->decoder, 0);
    return 0;
  }
  const bool looping = record->streamPlayType == SoundPlayLoop;
  const bool last = record->currentEntry + 1 >= record->entryCount;
  if (last && looping && record->loopMarkPending) return 0;
  record->entryPlayCount = 0;
  ++record->currentEntry;
  if (!last) {
    record->entryPosition = 0;
    SeekSoundDecoder(&record->entries[record->currentEntry].decoder, 0);
    return 0;
  }
  record->endedOnce = 1;
  if (looping) {
    record->currentEntry = 0;
    record->loopSkip = 0;
    record->loopMarkPending = 1;
    record->loopMarkPosition = NextWritePosition(record, region);
    record->entryPosition = 0;
    SeekSoundDecoder(&record->entries[0].decoder, 0);
    return 0;
  }
  // The data has ended. The stop comes once every byte still ahead of the cursor has played,
  // counted as bytes played, so that neither a wrap nor an end exactly at the cursor hides it.
  record->currentEntry = record->entryCount - 1;
  record->draining = 1;
  record->endPosition = NextWritePosition(record, region);
  record->endLimit = cursor;
  record->drainPlayed = 0;
  record->drainLength = (record->endPosition - cursor + record->ringSize) % record->ringSize;
  WriteStreamSilence(record, region,
                     static_cast<DWORD>(record->format.nAvgBytesPerSec / 8 / block * block));
  return -1;
}

int UpdatePosition(SoundRecord* record, SoundBufferWrapper* ring, std::int32_t cursor) {
  if (cursor == -1) {
    DWORD play = 0;
    if (GetSoundBufferPlayCursor(ring, &play) != 0) return -1;
    cursor = static_cast<std::int32_t>(play);
  }
  const std::int32_t last = record->lastCursor;
  if (cursor == last) return 0;
  const std::int32_t ring_ = record->ringSize;
  const bool wrapped = cursor < last;
  const std::int32_t moved = wrapped ? ring_ - last + cursor : cursor - last;
  const std::int32_t mark = record->loopMarkPosition;
  const bool passedMark =
      wrapped ? (mark > last || mark <= cursor) : (mark > last && mark <= cursor);
  if (record->loopMarkPending && passedMark) {
    record->playedBytes = (cursor - mark + ring_) % ring_ + record->loopSkip;
    record->loopMarkPending = 0;
  } else {
    record->playedBytes += moved;
  }
  if (record->draining) record->drainPlayed += moved;
  record->lastCursor = cursor;
  return 0;
}

int ResolveStreamRingOwner(int handle, SoundRecord* record, SoundBufferWrapper** out, int take) {
  if (record->kind != kStreamSound) {
    *out = &record->buffers[0];
    return 0;
  }
  SoundRecord* ringRecord = record;
  if (record->ringOwner != -1) {
    ringRecord = GetSoundRecord(record->ringOwner);
    if (ringRecord == nullptr) return -1;
  }
  *out = &ringRecord->buffers[0];
  if (ringRecord->ringUser != -1 && ringRecord->ringUser != handle) {
    if (!take) return -1;
    StopStreamSoundBuffer(ringRecord->ringUser);
  }
  ringRecord->ringUser = handle;
  return 0;
}

int UpdateStreamPlayPosition(int handle, std::int32_t cursor) {
  SoundRecord* record = GetSoundRecord(handle);
  SoundBufferWrapper* ring = nullptr;
  if (record == nullptr || record->kind != kStreamSound || !record->started ||
      ResolveStreamRingOwner(handle, record, &ring, 0) != 0)
    return -1;
  return UpdatePosition(record, ring, cursor);
}

// Not due while the play cursor lies strictly between the write and the refill position.
bool RefillDue(std::int32_t w, std::int32_t f, std::int32_t c) {
  if (w < f && w < c && c < f) return false;
  if (w > f && (c > w || c < f)) return false;
  return true;
}

DWORD RefillAmount(const SoundRecord* record, std::int32_t w, std::int32_t f, std::int32_t c) {
  const std::int64_t average = record->format.nAvgBytesPerSec;
  const std::int64_t block = record->format.nBlockAlign;
  const DWORD chunk = static_cast<DWORD>(average / 8 / block * block);
  std::int64_t ahead = f <= w ? w - c : (c < w ? w - c : w + record->ringSize - c);
  if (ahead < 0) return chunk;
  ahead = ahead * 512 / average;
  if (ahead >= 192) return chunk;
  return static_cast<DWORD>(((192 - ahead) * average / 512) / block * block);
}

// Writes `bytes` at ring offset `offset` from the entries; the bytes written.
DWORD WriteFromEntries(SoundRecord* record, SoundBufferWrapper* ring, DWORD offset, DWORD bytes,
                       std::int32_t cursor, bool silenceOnly) {
  StreamLockRegion region{};
  void* part1 = nullptr;
  void* part2 = nullptr;
  region.lockOffset = offset;
  if (bytes == 0 || LockSoundBufferWrapper(ring, offset, bytes, &part1, &region.size1, &part2,
                                           &region.size2) != 0)
    return 0;
  region.part1 = static_cast<std::uint8_t*>(part1);
  region.part2 = static_cast<std::uint8_t*>(part2);
  region.left1 = region.size1;
  region.left2 = part2 != nullptr ? region.size2 : 0;
  if (silenceOnly) {
    WriteStreamSilence(record, region, bytes);
  } else {
    DWORD left = bytes;
    while (left > 0 && !record->draining) {
      const int index = record->currentEntry;
      StreamSoundEntry* entry = &record->entries[index];
      const DWORD got = CopyDecodedToStreamBuffer(region, &entry->decoder, left);
      if (got > 0) {
        left -= got;
        record->entryPosition += static_cast<std::int32_t>(got);
      } else {
        AdvanceStreamEntry(record, region, cursor);
      }
      if (record->currentEntry == index) break;
    }
  }
  UnlockSoundBufferWrapper(ring, part1, region.done1, part2, region.done2);
  return region.done1 + region.done2;
}

}  // namespace

int AddSreamSound(const StreamRecord* stream, int loopCount, int handle, int type, int* ownsStream,
                  int sharedStream) {
  SoundLockScope lock;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr || stream == nullptr) return -1;
  if (record->entryCount > 0) {
    if (record->kind != kStreamSound) {
      LogWriteText("ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound\n");
      return -1;
    }
    if (RingPlays(RingOf(record))) {
      LogWriteText("既に再生中のストリームサウンドデータにデータを追加しようとしました\n");
      return -1;
    }
    if (record->entryCount >= kMaxStreamEntries) {
      LogWriteText("ストリーム風サウンドの制御データ領域がいっぱいです\n");
      return -1;
    }
  }
  StreamSoundEntry* entry = &record->entries[record->entryCount];
  *entry = StreamSoundEntry{};
  entry->type = static_cast<std::int8_t>(type);
  entry->endSample = -1;
  stream->ops.seek(stream->handle, 0, 0);
  int owns = 1;
  if (type == kStreamEntryCallers) {
    owns = 0;
    if (OpenSoundDecoder(stream, &entry->decoder) != 0) {
      LogPrintf("音声データのオープンに失敗しました");
      return -1;
    }
  } else {
    if (type == kStreamEntryCompressed) {
      if (ReadWholeStream(stream, &entry->image, &entry->imageSize) != 0) {
        LogPrintf("音声データの読み込みに失敗しました");
        return -1;
      }
    } else if (DecodeEntryToImage(stream, entry) != 0) {
      return -1;
    }
    if (OpenImageEntry(entry) != 0) {
      ReleaseEntry(entry, false);
      LogPrintf("音声データのオープンに失敗しました");
      return -1;
    }
  }
  WAVEFORMATEX format{};
  GetSoundDecoderFormat(&entry->decoder, &format);
  if (record->entryCount == 0) {
    record->format = format;
    SoundRecord* shared = sharedStream != -1 ? GetSoundRecord(sharedStream) : nullptr;
    if (shared != nullptr && shared != record && shared->kind == kStreamSound &&
        shared->ringOwner == -1 && SameFormat(shared->format, format)) {
      record->kind = kStreamSound;
      record->bufferCount = 1;
      InsertListNodeAfter(GetStreamSoundList(nullptr), &record->listNode, handle, record);
      record->ringOwner = sharedStream;
      ++shared->sharerCount;
      record->ringSize = shared->ringSize;
    } else {
      if (CreateSoundBuffers(-1, &format, RingBytes(format), kStreamSound, 1, handle) != 0) {
        ReleaseEntry(entry, false);
        return -1;
      }
      record->ringOwner = -1;
      record->ringSize = RingBytes(format);
      record->frequency = static_cast<std::int32_t>(format.nSamplesPerSec);
    }
    record->sharerCount = 0;
    record->ringUser = -1;
    record->deletePending = 0;
  } else if (!SameFormat(format, record->format)) {
    ReleaseEntry(entry, false);
    LogPrintf("フォーマットの違う音声データは同時に使うことは出来ません");
    return -1;
  }
  entry->loopCount = static_cast<std::int8_t>(loopCount);
  ++record->entryCount;
  std::int64_t total = 0;
  for (int i = 0; i < record->entryCount; ++i)
    total += GetSoundDecoderTotalBytes(&record->entries[i].decoder) / record->format.nBlockAlign;
  record->totalSamples = static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX));
  if (ownsStream != nullptr) *ownsStream = owns;
  return 0;
}

int AddStreamSoundFile(const char* path, int loopCount, int handle, int loadType,
                       int sharedStream) {
  SoundLockScope lock;
  const FileHandle file = OpenStreamFile(path, 0, 1, 0);
  if (file == 0) {
    LogPrintf("右記のＷＡＶファイルのロードに失敗しました：%s \n", path);
    return -1;
  }
  StreamRecord stream{*GetFileStreamOps(), file};
  int owns = 0;
  if (AddSreamSound(&stream, loopCount, handle, loadType, &owns, sharedStream) != 0) {
    LogPrintf("右記のＷＡＶファイルのセットアップに失敗しました：%s \n", path);
    stream.ops.close(file);
    return -1;
  }
  if (owns) stream.ops.close(file);
  SoundRecord* record = GetSoundRecord(handle);
  record->entryOpened[record->entryCount - 1] = 1;
  return 0;
}

int AddStreamSoundFileImage(const void* image, int bytes, int loopCount, int handle, int loadType,
                            int sharedStream) {
  SoundLockScope lock;
  MemoryStreamRecord* memory = OpenMemoryStream(image, bytes);
  if (memory == nullptr) {
    LogPrintf("ＷＡＶファイルのストリームイメージハンドルの作成に失敗しました \n");
    return -1;
  }
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  // The caller's image is not kept: its data is copied.
  const int type = loadType == kStreamEntryCallers ? kStreamEntryCompressed : loadType;
  int owns = 0;
  if (AddSreamSound(&stream, loopCount, handle, type, &owns, sharedStream) != 0) {
    CloseMemoryStream(stream.handle);
    LogPrintf("ＷＡＶファイルのストリームイメージのセットアップに失敗しました \n");
    return -1;
  }
  if (owns) CloseMemoryStream(stream.handle);
  SoundRecord* record = GetSoundRecord(handle);
  record->entryOpened[record->entryCount - 1] = 1;
  return 0;
}

int PrefillStreamSoundBuffer(int handle) {
  SoundLockScope lock;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr) return -1;
  SoundBufferWrapper* ring = nullptr;
  if (record->kind != kStreamSound || record->entryCount == 0 ||
      ResolveStreamRingOwner(handle, record, &ring, 0) != 0 || RingPlays(ring) || record->started)
    return 0;
  SetSoundBufferPosition(ring, 0);
  record->writePosition = kNotPrefilled;
  record->refillPosition = -1;
  record->lastCursor = 0;
  record->draining = 0;
  StreamSoundEntry* entry = &record->entries[record->currentEntry];
  SeekSoundDecoder(&entry->decoder, record->entryPosition / record->format.nBlockAlign);
  record->started = 1;
  RefillStreamSoundBuffer(handle);
  return 0;
}

int PlayStreamSoundBuffer(int handle, int playType, int fromTop) {
  if (GetDirectSoundObject() == nullptr) return -1;
  {
    SoundLockScope lock;
    SoundRecord* record = GetSoundRecord(handle);
    SoundBufferWrapper* ring = nullptr;
    if (record == nullptr || record->kind != kStreamSound ||
        ResolveStreamRingOwner(handle, record, &ring, 1) != 0)
      return -1;
    if (fromTop == 0 && RingPlays(ring)) return -1;
    StopStreamSoundBuffer(handle);
    // Only play type 3 loops; a change between looping and not after the end starts afresh.
    const bool wasLooping = record->streamPlayType == SoundPlayLoop;
    if (wasLooping != (playType == SoundPlayLoop) && record->endedOnce) Rewind(record);
    if (fromTop == 1) {
      record->endedOnce = 0;
      if (record->playedBytes != 0) Rewind(record);
    }
    record->streamPlayType = playType;
    PrefillStreamSoundBuffer(handle);
    int values[3] = {record->volume, record->pan, record->frequency};
    for (int i = 0; i < 3; ++i) {
      if (!record->pendingFlags[i]) continue;
      values[i] = record->pendingValues[i];
      record->pendingFlags[i] = 0;
    }
    SetSoundBufferVolume(ring, values[0]);
    SetSoundBufferPan(ring, values[1]);
    SetSoundBufferFrequency(ring, values[2]);
    if (PlaySoundBufferWrapper(ring, 1) != 0) return -1;
  }
  if (playType == SoundPlayWait) {
    while (hostCallTable.pumpWindowMessages() == 0 && IsSoundDataPlaying(handle) == 1) Sleep(1);
  }
  return 0;
}

int StopStreamSoundBuffer(int handle) {
  SoundLockScope lock;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr || record->kind != kStreamSound) return -1;
  UpdateStreamPlayPosition(handle, -1);
  SoundBufferWrapper* ring = nullptr;
  if (ResolveStreamRingOwner(handle, record, &ring, 0) != 0) return 0;
  if (record->ringOwner != -1) GetSoundRecord(record->ringOwner)->ringUser = -1;
  DWORD status = 0;
  if (GetSoundBufferStatus(ring, &status) != 0) return -1;
  if (status & DSBSTATUS_PLAYING) StopSoundBufferWrapper(ring);
  return 0;
}

int IsStreamSoundPlaying(int handle) {
  if (GetDirectSoundObject() == nullptr) return -1;
  // The ring's user is written here too, so this takes the lock the sound thread holds.
  SoundLockScope lock;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr) return -1;
  SoundBufferWrapper* ring = nullptr;
  if (ResolveStreamRingOwner(handle, record, &ring, 0) != 0) return 0;
  return RingPlays(ring) ? 1 : 0;
}

int GetStreamSoundPlayTime(int handle) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundLockScope lock;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr || record->kind != kStreamSound) return -1;
  UpdateStreamPlayPosition(handle, -1);
  const int time = SamplesToMilliseconds(record->playedBytes / record->format.nBlockAlign,
                                         static_cast<int>(record->format.nSamplesPerSec));
  const int total = GetSoundTotalTime(handle);
  return total >= 0 ? std::min(time, total) : time;
}

int RefillStreamSoundBuffer(int handle) {
  // Every check takes the lock: finding the ring's owner writes its user.
  SoundLockScope lock;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr) return -1;
  SoundBufferWrapper* ring = nullptr;
  if (record->kind != kStreamSound || ResolveStreamRingOwner(handle, record, &ring, 0) != 0 ||
      !record->started)
    return 0;
  const bool playing = RingPlays(ring);
  std::int32_t cursor = -1;
  if (playing) {
    DWORD play = 0;
    if (GetSoundBufferPlayCursor(ring, &play) == 0) cursor = static_cast<std::int32_t>(play);
  }
  UpdatePosition(record, ring, cursor);
  if (cursor == -1) cursor = record->lastCursor;
  const std::int32_t w = record->writePosition;
  const std::int32_t f = record->refillPosition;
  DWORD written = 0;
  if (record->draining) {
    // A stopped ring waits with its silence already written; more would wrap onto its data.
    if (!playing) return 0;
    if (record->drainPlayed >= record->drainLength) {
      StopSoundBufferWrapper(ring);
      record->draining = 0;
      Rewind(record);
      return 0;
    }
    if (!RefillDue(w, f, cursor)) return -1;
    const DWORD chunk = static_cast<DWORD>(record->format.nAvgBytesPerSec / 8 /
                                           record->format.nBlockAlign * record->format.nBlockAlign);
    written = WriteFromEntries(record, ring, static_cast<DWORD>(w), chunk, cursor, true);
  } else if (!playing) {
    if (w != kNotPrefilled) return 0;
    const std::int64_t average = record->format.nAvgBytesPerSec;
    const std::int64_t block = record->format.nBlockAlign;
    const DWORD prefill = static_cast<DWORD>(average * 192 / 256 / block * block);
    written = WriteFromEntries(record, ring, 0, prefill, 0, false);
    record->writePosition = static_cast<std::int32_t>(written) % record->ringSize;
    record->refillPosition = 0;
    return 0;
  } else {
    if (!RefillDue(w, f, cursor)) return -1;
    written = WriteFromEntries(record, ring, static_cast<DWORD>(w),
                               RefillAmount(record, w, f, cursor), cursor, false);
  }
  const std::int64_t average = record->format.nAvgBytesPerSec;
  const std::int64_t block = record->format.nBlockAlign;
  const std::int32_t lead =
      static_cast<std::int32_t>(block * ((average * 192 / 256 + block - 1) / block));
  record->writePosition = static_cast<std::int32_t>((w + written) % record->ringSize);
  record->refillPosition = record->writePosition - lead;
  if (record->refillPosition < 0) record->refillPosition += record->ringSize;
  return 0;
}

int RefillAllStreamSoundBuffers() {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundLockScope lock;
  ListNode* tail = nullptr;
  for (ListNode* node = GetStreamSoundList(&tail)->next; node != nullptr && node != tail;) {
    ListNode* next = node->next;
    RefillStreamSoundBuffer(node->key);
    node = next;
  }
  return 0;
}

int ReleaseStreamSoundParts(int handle, SoundRecord* record) {
  if (record->ringOwner != -1) {
    const int ownerHandle = record->ringOwner;
    record->ringOwner = -1;
    SoundRecord* owner = GetSoundRecord(ownerHandle);
    if (owner != nullptr) {
      --owner->sharerCount;
      if (owner->ringUser == handle) owner->ringUser = -1;
      if (owner->deletePending && ownerHandle != handle) DeleteSoundData(ownerHandle);
    }
  }
  if (record->sharerCount != 0) {
    record->deletePending = 1;
    return 1;
  }
  for (int i = 0; i < record->entryCount; ++i)
    ReleaseEntry(&record->entries[i], record->entryOpened[i] != 0);
  record->entryCount = 0;
  return 0;
}
