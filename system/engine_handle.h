// Engine handles: the 32-bit integers that name the objects the engine hands out. Bit 31 marks an
// invalid handle (-1 is the failure value), bits 27-30 the kind, bits 16-26 a check number that
// makes a handle of a deleted object fail, bits 0-15 the slot in the kind's table. Each kind keeps
// its own table and counters in an EngineHandleKind and uses the calls below.
#pragma once

#include <cstdint>

using EngineHandle = std::int32_t;

enum EngineHandleType : std::int32_t {
  kGraphHandle = 1,
  kSoundHandle = 2,
  kMovieHandle = 3,
  kFontHandle = 4,
  kMaskHandle = 5,
  kNetworkHandle = 6,
  kKeyInputHandle = 7,
  kMidiHandle = 8,
  kLightHandle = 9,
  kModelInstanceHandle = 10,
  kStandardImageHandle = 11,
  kShaderHandle = 12,
  kSoftSoundHandle = 13,
  kVertexBufferHandle = 14,
  kIndexBufferHandle = 15,
};

constexpr int kEngineHandleCheckLimit = 2048;

// Slots of each kind's table, by EngineHandleType code (index 0 unused).
constexpr int kEngineHandleSlotLimit[16] = {0,   32768, 32768, 100,  40,   512,   8192,  256,
                                            256, 4096,  65536, 8192, 4096, 32768, 16384, 16384};

constexpr EngineHandle MakeEngineHandle(EngineHandleType type, int check, int slot) {
  return static_cast<EngineHandle>((static_cast<std::uint32_t>(type) << 27) |
                                   (static_cast<std::uint32_t>(check & 0x7FF) << 16) |
                                   static_cast<std::uint32_t>(slot & 0xFFFF));
}
constexpr int GetEngineHandleTypeCode(EngineHandle handle) { return (handle >> 27) & 0xF; }
constexpr int GetEngineHandleCheck(EngineHandle handle) { return (handle >> 16) & 0x7FF; }
constexpr int GetEngineHandleSlot(EngineHandle handle) { return handle & 0xFFFF; }

// One kind's counters: the running check counter, the live handles and the high-water mark (one
// past the highest slot ever used).
struct EngineHandleKind {
  EngineHandleType type;
  int slotLimit;
  int nextCheck;
  int liveCount;
  int highWater;
};

constexpr EngineHandleKind MakeEngineHandleKind(EngineHandleType type) {
  return EngineHandleKind{type, kEngineHandleSlotLimit[type], 0, 0, 0};
}

// Takes the kind's next check number (0-2047, wrapping) and returns the handle of `slot`; counts
// it live and raises the high-water mark when the slot is the mark.
EngineHandle IssueEngineHandle(EngineHandleKind& kind, int slot, int* checkNumber);
// Counts a deleted handle; the check counter is not reset.
void RetireEngineHandle(EngineHandleKind& kind);
// The slot of a non-negative handle whose type code is the kind's and whose slot is below the
// kind's limit, or -1; the caller then needs a record in the slot with the handle's check number.
int GetEngineHandleSlotForKind(EngineHandle handle, const EngineHandleKind& kind);

// The whole check: the record of a valid handle, else null. `checkOf` reads a record's check
// number.
template <class Record, class CheckOf>
Record* FindEngineHandleRecord(EngineHandle handle, const EngineHandleKind& kind,
                               Record* const* table, CheckOf checkOf) {
  const int slot = GetEngineHandleSlotForKind(handle, kind);
  if (slot < 0 || table[slot] == nullptr) return nullptr;
  if ((checkOf(*table[slot]) & 0x7FF) != GetEngineHandleCheck(handle)) return nullptr;
  return table[slot];
}

// A free slot: from the high-water mark while it is below the limit (`fromHighWater`), else the
// first free slot from 0; -1 when the table is full.
template <class Record>
int FindFreeEngineHandleSlot(const EngineHandleKind& kind, Record* const* table,
                             bool fromHighWater) {
  if (fromHighWater && kind.highWater < kind.slotLimit && table[kind.highWater] == nullptr)
    return kind.highWater;
  for (int slot = 0; slot < kind.slotLimit; ++slot)
    if (table[slot] == nullptr) return slot;
  return -1;
}
