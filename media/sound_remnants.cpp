// What remains of MIDI playback, sound capture and software sounds: their tables and flags, and
// the per-frame, per-pass and end-of-run steps the engine calls. Nothing in this program opens a
// MIDI handle, starts a capture or makes a software sound, so the steps find nothing to do.
#include <cstring>

#include "media/media.h"
#include "media/sound_system.h"
#include "media/wave_chunks.h"
#include "platform/win32/file.h"
#include "system/engine_handle.h"
#include "system/host_call_table.h"
#include "system/little_endian.h"
#include "system/tracked_memory.h"

namespace {

struct MidiRecord {
  std::int32_t checkNumber;
  std::int32_t playing;
  std::int32_t seenPlaying;
  void* data;
  std::int32_t dataSize;
  void* segment;
};

// PCM waiting to be played by a software player.
struct SoftSoundQueue {
  std::uint8_t* data;
  std::int32_t size;
  std::int32_t readPosition;
};

struct SoftSoundRecord {
  std::int32_t checkNumber;
  std::int32_t kind;  // 0 sound data, 1 player
  void* data;
  std::int32_t blockSize;
  std::int32_t bitsPerSample;
  std::int32_t blocksAvailable;
  SoftSoundQueue queue;
  SoundBufferWrapper ring;
  std::int32_t ringBytes;
  std::int32_t writePosition;
  std::int32_t endMark;
  std::int32_t lastCursor;
  std::int32_t endReached;
  std::int32_t keptAhead;
  std::int32_t active;
  ListNode listNode;
};

constexpr int kMidiTableSize = 256;
constexpr int kSoftSoundTableSize = 8192;

struct RemnantState {
  MidiRecord* midi[kMidiTableSize];
  EngineHandleKind midiKind = MakeEngineHandleKind(kMidiHandle);
  // MCI: device, loop flag, playing flag, temporary-file flag and path.
  std::uint32_t mciDevice;
  std::int32_t mciLoop;
  std::int32_t mciPlaying;
  std::int32_t temporaryFileMade;
  char temporaryPath[260];
  // 0: DirectSound only. Nothing selects the DirectMusic mode, so its branches are not built.
  std::int32_t directMusicMode;
  std::int32_t pendingMusic;
  std::int32_t pendingIsSound;
  std::int32_t pendingSet;
  std::int32_t capturing;
  std::int32_t capturedSamples;
  HANDLE captureFile;
  SoftSoundRecord* soft[kSoftSoundTableSize];
  EngineHandleKind softKind = MakeEngineHandleKind(kSoftSoundHandle);
};

RemnantState remnants;

MidiRecord* GetMidiRecord(int handle) {
  return FindEngineHandleRecord(handle, remnants.midiKind, remnants.midi,
                                [](const MidiRecord& record) { return record.checkNumber; });
}

SoftSoundRecord* GetSoftSoundRecord(int handle) {
  return FindEngineHandleRecord(handle, remnants.softKind, remnants.soft,
                                [](const SoftSoundRecord& record) { return record.checkNumber; });
}

template <class Record>
void ReleaseSlot(Record** slots, EngineHandleKind& kind, int slot) {
  TrackedFree(slots[slot]);
  slots[slot] = nullptr;
  RetireEngineHandle(kind);
  if (slot + 1 != kind.highWater) return;
  int mark = kind.liveCount == 0 ? 0 : kind.highWater;
  while (mark > 0 && slots[mark - 1] == nullptr) --mark;
  kind.highWater = mark;
}

// Writes `bytes` of queued PCM, then silence, into the ring at the write position.
void WriteSoftPlayerBytes(SoftSoundRecord* player, std::int32_t bytes, std::int32_t* realBytes) {
  const std::int32_t available = player->queue.size - player->queue.readPosition;
  const std::int32_t real =
      (available < bytes ? available : bytes) / player->blockSize * player->blockSize;
  void* part1 = nullptr;
  void* part2 = nullptr;
  DWORD bytes1 = 0, bytes2 = 0;
  *realBytes = real;
  if (LockSoundBufferWrapper(&player->ring, static_cast<DWORD>(player->writePosition),
                             static_cast<DWORD>(bytes), &part1, &bytes1, &part2, &bytes2) != 0)
    return;
  const std::uint8_t silence = player->bitsPerSample == 8 ? 127 : 0;
  const std::uint8_t* source = player->queue.data + player->queue.readPosition;
  auto fill = [&](void* part, DWORD size, std::int32_t offset) {
    auto* out = static_cast<std::uint8_t*>(part);
    for (DWORD i = 0; i < size; ++i)
      out[i] = offset + static_cast<std::int32_t>(i) < real ? source[offset + i] : silence;
  };
  fill(part1, bytes1, 0);
  if (part2 != nullptr) fill(part2, bytes2, static_cast<std::int32_t>(bytes1));
  UnlockSoundBufferWrapper(&player->ring, part1, bytes1, part2, bytes2);
  player->queue.readPosition += real;
}

int RefillSoftSoundPlayer(SoftSoundRecord* player) {
  EnterSoundLock();
  if (player->active && player->ringBytes > 0 && player->blockSize > 0) {
    DWORD cursor = 0;
    GetSoundBufferPlayCursor(&player->ring, &cursor);
    const std::int32_t played = static_cast<std::int32_t>(cursor);
    if (player->endMark >= 0 && played >= player->endMark) {
      player->endReached = 1;
    } else {
      player->lastCursor = played;
    }
    const std::int32_t windowStart =
        (player->writePosition - player->keptAhead + player->ringBytes) % player->ringBytes;
    const std::int32_t sinceStart = (played - windowStart + player->ringBytes) % player->ringBytes;
    if (sinceStart < player->keptAhead) {
      const std::int32_t bytes =
          (sinceStart / player->blockSize) * player->blockSize + player->keptAhead;
      std::int32_t real = 0;
      WriteSoftPlayerBytes(player, bytes < player->ringBytes ? bytes : player->ringBytes, &real);
      if (real < bytes && player->endMark < 0)
        player->endMark = (player->writePosition + real) % player->ringBytes;
      if (real > 0 && player->endReached) {
        player->endMark = -1;
        player->endReached = 0;
      }
      player->writePosition = (player->writePosition + bytes) % player->ringBytes;
    }
  }
  LeaveSoundLock();
  return 0;
}

}  // namespace

int UpdateMidiPlayStates() {
  if (GetDirectSoundObject() == nullptr) return -1;
  return 0;
}

// The MCI device is opened only by MIDI playback, which nothing in this program starts: the
// flags that would send MCI_PLAY or MCI_CLOSE are never set.
int HandleMidiMciNotify() {
  if (remnants.mciLoop) {
    remnants.mciPlaying = 1;
  } else if (remnants.mciPlaying) {
    remnants.mciPlaying = 0;
  }
  return 0;
}

int GetMidiPlayState(int midiHandle) {
  MidiRecord* record = GetMidiRecord(midiHandle);
  if (GetDirectSoundObject() == nullptr || record == nullptr) return -1;
  return remnants.directMusicMode == 0 ? remnants.mciPlaying : record->playing;
}

int StopMidiHandle(int midiHandle) {
  MidiRecord* record = GetMidiRecord(midiHandle);
  if (GetDirectSoundObject() == nullptr || record == nullptr) return -1;
  remnants.mciLoop = 0;
  HandleMidiMciNotify();
  for (int i = 0; i < 5; ++i) hostCallTable.pumpWindowMessages();
  if (remnants.temporaryFileMade) {
    DeleteFileA(remnants.temporaryPath);
    remnants.temporaryFileMade = 0;
  }
  record->playing = 0;
  record->seenPlaying = 0;
  return 0;
}

int DeleteMidiHandle(int midiHandle) {
  MidiRecord* record = GetMidiRecord(midiHandle);
  if (GetDirectSoundObject() == nullptr || record == nullptr) return -1;
  if (GetMidiPlayState(midiHandle) == 1) StopMidiHandle(midiHandle);
  if (record->data != nullptr) {
    std::memset(record->data, 0, static_cast<std::size_t>(record->dataSize));
    TrackedFree(record->data);
  }
  ReleaseSlot(remnants.midi, remnants.midiKind, GetEngineHandleSlot(midiHandle));
  return 0;
}

int DeleteAllMidiHandles() {
  for (int slot = 0; slot < kMidiTableSize; ++slot)
    if (remnants.midi[slot] != nullptr)
      DeleteMidiHandle(MakeEngineHandle(kMidiHandle, remnants.midi[slot]->checkNumber, slot));
  return 0;
}

int DeleteTemporaryMidiFile() {
  DeleteFileA(remnants.temporaryPath);
  return 0;
}

int ReleasePendingMusic() {
  if (!remnants.pendingSet) return 0;
  if (remnants.pendingIsSound) {
    StopSoundData(remnants.pendingMusic);
    DeleteSoundData(remnants.pendingMusic);
  } else {
    StopMidiHandle(remnants.pendingMusic);
    DeleteMidiHandle(remnants.pendingMusic);
  }
  remnants.pendingSet = 0;
  remnants.pendingMusic = 0;
  remnants.pendingIsSound = 0;
  return 0;
}

int FinishSoundCaptureFile() {
  if (!remnants.capturing) return -1;
  const std::uint32_t dataBytes = 4u * static_cast<std::uint32_t>(remnants.capturedSamples);
  // 44.1 kHz 16-bit stereo, with the 18-byte format body.
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.nAvgBytesPerSec = 176400;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  std::uint8_t header[46];
  std::memcpy(header, "RIFF", 4);
  WriteLittle32(header + 4, dataBytes + 38);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  WriteLittle32(header + 16, 18);
  WriteWaveFormatFields(format, header + 20);
  std::memcpy(header + 38, "data", 4);
  WriteLittle32(header + 42, dataBytes);
  SetFilePointer(remnants.captureFile, 0, nullptr, 0);
  DWORD written = 0;
  WriteFile(remnants.captureFile, header, sizeof header, &written, nullptr);
  CloseHandle(remnants.captureFile);
  remnants.captureFile = nullptr;
  remnants.capturing = 0;
  return 0;
}

int DeleteSoftSound(int handle, int kind) {
  if (GetDirectSoundObject() == nullptr) return -1;
  EnterSoundLock();
  SoftSoundRecord* record = GetSoftSoundRecord(handle);
  if (record == nullptr || record->kind != kind) {
    LeaveSoundLock();
    return -1;
  }
  if (kind == 1) {
    TrackedFree(record->queue.data);
    ReleaseSoundBufferWrapper(&record->ring);
    UnlinkListNode(&record->listNode);
  } else {
    TrackedFree(record->data);
  }
  ReleaseSlot(remnants.soft, remnants.softKind, GetEngineHandleSlot(handle));
  LeaveSoundLock();
  return 0;
}

int DeleteAllSoftSoundData() {
  for (int slot = 0; slot < kSoftSoundTableSize; ++slot)
    if (remnants.soft[slot] != nullptr && remnants.soft[slot]->kind == 0)
      DeleteSoftSound(MakeEngineHandle(kSoftSoundHandle, remnants.soft[slot]->checkNumber, slot),
                      0);
  return 0;
}

int DeleteAllSoftSoundPlayers() {
  for (int slot = 0; slot < kSoftSoundTableSize; ++slot)
    if (remnants.soft[slot] != nullptr && remnants.soft[slot]->kind == 1)
      DeleteSoftSound(MakeEngineHandle(kSoftSoundHandle, remnants.soft[slot]->checkNumber, slot),
                      1);
  return 0;
}

int ProcessAllSoftSoundPlayers() {
  if (GetDirectSoundObject() == nullptr) return -1;
  ListNode* tail = nullptr;
  ListNode* head = GetSoftSoundPlayerList(&tail);
  for (ListNode* node = head->next; node != nullptr && node != tail; node = node->next) {
    auto* player = static_cast<SoftSoundRecord*>(node->owner);
    if (player->active) RefillSoftSoundPlayer(player);
  }
  return 0;
}
