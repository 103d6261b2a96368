// The sound handle table: SoundRecords in tracked memory behind engine handles of type 2, the
// buffers a record gets, and its release with the PCM block that records may share.
#include <cstring>

#include "media/media.h"
#include "media/sound_system.h"
#include "system/engine_handle.h"
#include "system/log.h"
#include "system/math.h"
#include "system/tracked_memory.h"

namespace {

struct SoundTable {
  SoundRecord* slots[kSoundTableSize];
  EngineHandleKind kind = MakeEngineHandleKind(kSoundHandle);
};

SoundTable table;

constexpr DWORD kNormalBufferFlags = DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN |
                                     DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS;
constexpr DWORD kPlainBufferFlags = DSBCAPS_STATIC | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;

int CreateFirstBuffer(SoundRecord* record, const WAVEFORMATEX* format, int dataBytes) {
  WAVEFORMATEX copy = *format;
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwBufferBytes = static_cast<DWORD>(dataBytes);
  desc.lpwfxFormat = &copy;
  desc.dwFlags = kNormalBufferFlags;
  if (CreateSoundBufferWrapper(&record->buffers[0], &desc) == 0) return 0;
  desc.dwFlags = kPlainBufferFlags;
  if (CreateSoundBufferWrapper(&record->buffers[0], &desc) == 0) return 0;
  LogWriteText("DirectSoundBuffer の作成に失敗しました\n");
  return -1;
}

// The ring of a stream sound: one second, rounded up to whole blocks. A ring the device refuses
// fails the stream instead of ending the program.
int CreateStreamRing(SoundRecord* record, const WAVEFORMATEX* format) {
  const DWORD block = format->nBlockAlign;
  if (block == 0) return -1;
  const DWORD second = format->nAvgBytesPerSec & 0xFFFFFF;
  WAVEFORMATEX copy = *format;
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = kNormalBufferFlags | DSBCAPS_GETCURRENTPOSITION2;
  desc.dwBufferBytes = block * ((second + block - 1) / block);
  desc.lpwfxFormat = &copy;
  if (CreateSoundBufferWrapper(&record->buffers[0], &desc) != 0) {
    LogPrintf("ストリーム風サウンドバッファの作成に失敗しました");
    return -1;
  }
  record->bufferCount = 1;
  return 0;
}

void LowerHighMark() {
  EngineHandleKind& kind = table.kind;
  int mark = kind.liveCount == 0 ? 0 : kind.highWater;
  while (mark > 0 && table.slots[mark - 1] == nullptr) --mark;
  kind.highWater = mark;
}

}  // namespace

SoundRecord* GetSoundRecord(int handle) {
  return FindEngineHandleRecord(handle, table.kind, table.slots,
                                [](const SoundRecord& record) { return record.checkNumber; });
}

int AddSoundData(int handle) {
  if (GetDirectSoundObject() == nullptr || handle != -1) return -1;
  EnterSoundLock();
  int result = -1;
  if (table.kind.liveCount >= kSoundTableSize) {
    LogWriteText("サウンドの数が許容量を越えました\n");
  } else {
    const int slot = FindFreeEngineHandleSlot(table.kind, table.slots, true);
    auto* record =
        static_cast<SoundRecord*>(TrackedAllocZeroed(sizeof(SoundRecord), __FILE__, __LINE__));
    if (record == nullptr) {
      LogPrintf("メモリ領域の確保に失敗しました in AddSoundData");
    } else {
      int check = 0;
      result = IssueEngineHandle(table.kind, slot, &check);
      record->checkNumber = check;
      table.slots[slot] = record;
    }
  }
  LeaveSoundLock();
  return result;
}

int CreateSoundBuffers(int sourceHandle, const WAVEFORMATEX* format, int dataBytes, int kind,
                       int bufferCount, int handle) {
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr) return -1;
  SoundRecord* source = nullptr;
  if (sourceHandle != -1) {
    source = GetSoundRecord(sourceHandle);
    if (kind != kNormalSound || source == nullptr || source->kind != kNormalSound ||
        !source->buffers[0].created)
      return -1;
    format = &source->format;
    dataBytes = source->pcmSize;
  }
  if (kind == kNormalSound) {
    const int count = bufferCount < 1                  ? 1
                      : bufferCount > kMaxSoundBuffers ? kMaxSoundBuffers
                                                       : bufferCount;
    int made = 0;
    for (int i = 0; i < count; ++i) {
      if (i > 0 || source != nullptr) {
        const SoundBufferWrapper& original =
            source != nullptr ? source->buffers[0] : record->buffers[0];
        if (DuplicateSoundBufferWrapper(&record->buffers[i], &original) == 0) {
          ++made;
          continue;
        }
        if (i > 0) break;
      }
      if (CreateFirstBuffer(record, format, dataBytes) != 0) return -1;
      ++made;
    }
    record->bufferCount = made;
  } else {
    if (CreateStreamRing(record, format) != 0) return -1;
  }
  record->kind = kind;
  if (kind == kStreamSound) {
    ListNode* head = GetStreamSoundList(nullptr);
    InsertListNodeAfter(head, &record->listNode, handle, record);
  }
  return 0;
}

int DeleteSoundData(int handle) {
  if (GetDirectSoundObject() == nullptr) return -1;
  EnterSoundLock();
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr) {
    LeaveSoundLock();
    return -1;
  }
  if (record->kind == kStreamSound) {
    StopStreamSoundBuffer(handle);
  } else if (record->buffers[0].created) {
    StopSoundData(handle);
  }

  if (record->kind == kNormalSound) {
    for (SoundBufferWrapper& wrapper : record->buffers)
      if (wrapper.created) ReleaseSoundBufferWrapper(&wrapper);
    if (record->pcmReferenceCount != nullptr && --*record->pcmReferenceCount == 0) {
      TrackedFree(record->pcmData);
      TrackedFree(record->pcmReferenceCount);
    }
    record->pcmData = nullptr;
    record->pcmReferenceCount = nullptr;
  } else {
    if (ReleaseStreamSoundParts(handle, record) == 1) {
      LeaveSoundLock();
      return 0;
    }
    UnlinkListNode(&record->listNode);
    if (record->buffers[0].created) ReleaseSoundBufferWrapper(&record->buffers[0]);
  }

  const int slot = GetEngineHandleSlot(handle);
  TrackedFree(record);
  table.slots[slot] = nullptr;
  RetireEngineHandle(table.kind);
  if (slot + 1 == table.kind.highWater) LowerHighMark();
  LeaveSoundLock();
  return 0;
}

int DeleteAllSoundData() {
  if (GetDirectSoundObject() == nullptr) return -1;
  for (int slot = 0; slot < kSoundTableSize; ++slot) {
    if (table.slots[slot] == nullptr) continue;
    DeleteSoundData(MakeEngineHandle(kSoundHandle, table.slots[slot]->checkNumber, slot));
  }
  return 0;
}

int GetSoundTotalSamples(int handle) {
  if (GetDirectSoundObject() == nullptr) return -1;
  SoundRecord* record = GetSoundRecord(handle);
  if (record == nullptr) return -1;
  if (record->kind == kStreamSound) return record->totalSamples;
  return record->format.nBlockAlign == 0 ? 0 : record->pcmSize / record->format.nBlockAlign;
}

int GetSoundTotalTime(int handle) {
  SoundRecord* record = GetSoundRecord(handle);
  if (GetDirectSoundObject() == nullptr || record == nullptr) return -1;
  return SamplesToMilliseconds(GetSoundTotalSamples(handle),
                               static_cast<int>(record->format.nSamplesPerSec));
}

int SamplesToMilliseconds(int samples, int rate) {
  const std::uint64_t value = static_cast<std::uint64_t>(static_cast<std::int64_t>(samples));
  const std::uint64_t thousand = 1000;
  const std::uint64_t divisor = static_cast<std::uint64_t>(static_cast<std::int64_t>(rate));
  std::uint32_t product[4];
  Multiply64To128(&value, &thousand, product);
  std::uint64_t quotient = 0;
  Divide128By64(product, &divisor, &quotient);
  return static_cast<int>(static_cast<std::uint32_t>(quotient));
}
