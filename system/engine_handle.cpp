// The one scheme by which every kind of engine object makes, checks and retires its handles.
#include "system/engine_handle.h"

EngineHandle IssueEngineHandle(EngineHandleKind& kind, int slot, int* checkNumber) {
  const int check = kind.nextCheck;
  kind.nextCheck = check + 1 >= kEngineHandleCheckLimit ? 0 : check + 1;
  if (checkNumber != nullptr) *checkNumber = check;
  ++kind.liveCount;
  if (slot >= kind.highWater) kind.highWater = slot + 1;
  return MakeEngineHandle(kind.type, check, slot);
}

void RetireEngineHandle(EngineHandleKind& kind) {
  if (kind.liveCount > 0) --kind.liveCount;
}

int GetEngineHandleSlotForKind(EngineHandle handle, const EngineHandleKind& kind) {
  if (handle < 0) return -1;
  if (GetEngineHandleTypeCode(handle) != kind.type) return -1;
  const int slot = GetEngineHandleSlot(handle);
  return slot < kind.slotLimit ? slot : -1;
}
