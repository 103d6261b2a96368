// The engine handle scheme: making, checking and retiring handles of one kind's table.
#include "system/engine_handle.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace {

struct Record {
  int check;
  EngineHandle handle;
};

// A kind's table as an owner of the scheme keeps it.
struct Table {
  EngineHandleKind kind;
  std::vector<Record*> slots;
  explicit Table(EngineHandleType type)
      : kind(MakeEngineHandleKind(type)), slots(kind.slotLimit, nullptr) {}
  ~Table() {
    for (Record* r : slots) delete r;
  }
  EngineHandle Create(bool fromHighWater = true) {
    const int slot = FindFreeEngineHandleSlot(kind, slots.data(), fromHighWater);
    if (slot < 0) return -1;
    auto* record = new Record{};
    slots[slot] = record;
    record->handle = IssueEngineHandle(kind, slot, &record->check);
    return record->handle;
  }
  Record* Find(EngineHandle handle) {
    return FindEngineHandleRecord(handle, kind, slots.data(),
                                  [](const Record& r) { return r.check; });
  }
  int Delete(EngineHandle handle) {
    Record* record = Find(handle);
    if (record == nullptr) return -1;
    slots[GetEngineHandleSlot(handle)] = nullptr;
    delete record;
    RetireEngineHandle(kind);
    return 0;
  }
};

TEST(EngineHandles, FirstGraphHandlesCarryTypeCheckAndSlot) {
  Table graphs(kGraphHandle);
  EXPECT_EQ(graphs.Create(), 1 << 27);
  EXPECT_EQ(graphs.Create(), (1 << 27) + (1 << 16) + 1);
  EXPECT_EQ(graphs.kind.liveCount, 2);
  EXPECT_EQ(graphs.kind.highWater, 2);
  EXPECT_EQ(MakeEngineHandle(kFontHandle, 2047, 39), (4 << 27) + (2047 << 16) + 39);
}

TEST(EngineHandles, StaleHandleIsRefusedUntilTheCheckNumberWrapsAt2048) {
  Table fonts(kFontHandle);
  const EngineHandle stale = fonts.Create(false);
  ASSERT_EQ(fonts.Delete(stale), 0);
  EXPECT_EQ(fonts.Find(stale), nullptr);
  EXPECT_EQ(fonts.Delete(stale), -1);
  // Reuse slot 0 until the check counter comes round again.
  for (int created = 1; created < 2048; ++created) {
    const EngineHandle reused = fonts.Create(false);
    ASSERT_EQ(GetEngineHandleSlot(reused), 0);
    ASSERT_EQ(fonts.Find(stale), nullptr) << created;
    ASSERT_EQ(fonts.Delete(reused), 0);
  }
  const EngineHandle wrapped = fonts.Create(false);
  EXPECT_EQ(wrapped, stale);
  EXPECT_NE(fonts.Find(stale), nullptr);
}

TEST(EngineHandles, WrongKindNegativeOutOfRangeAndEmptySlotsAreRefused) {
  Table fonts(kFontHandle);
  const EngineHandle font = fonts.Create();
  ASSERT_NE(fonts.Find(font), nullptr);
  const EngineHandle refused[] = {
      -1,
      INT32_MIN,
      font | static_cast<EngineHandle>(0x80000000u),
      MakeEngineHandle(kGraphHandle, 0, 0),  // a graph handle given to fonts
      MakeEngineHandle(kFontHandle, 0, 40),  // beyond the 40 font slots
      MakeEngineHandle(kFontHandle, 0, 1),   // an empty slot
      MakeEngineHandle(kFontHandle, 1, 0),   // the right slot with another check number
  };
  for (EngineHandle handle : refused) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(fonts.Find(handle), nullptr);
    EXPECT_EQ(fonts.Delete(handle), -1);
  }
  EXPECT_EQ(fonts.kind.liveCount, 1);
}

TEST(EngineHandles, AFullTableGivesNoSlotAndGraphsSearchFromZeroOnlyAtTheLimit) {
  Table fonts(kFontHandle);
  std::vector<EngineHandle> handles;
  for (int i = 0; i < 40; ++i) handles.push_back(fonts.Create());
  EXPECT_EQ(fonts.Create(), -1);
  ASSERT_EQ(fonts.Delete(handles[7]), 0);
  const EngineHandle again = fonts.Create();
  EXPECT_EQ(GetEngineHandleSlot(again), 7);
  EXPECT_EQ(fonts.kind.highWater, 40);
}

TEST(EngineHandles, SlotLimitsOfEveryKind) {
  constexpr std::array<std::pair<EngineHandleType, int>, 15> limits = {
      {{kGraphHandle, 32768},
       {kSoundHandle, 32768},
       {kMovieHandle, 100},
       {kFontHandle, 40},
       {kMaskHandle, 512},
       {kNetworkHandle, 8192},
       {kKeyInputHandle, 256},
       {kMidiHandle, 256},
       {kLightHandle, 4096},
       {kModelInstanceHandle, 65536},
       {kStandardImageHandle, 8192},
       {kShaderHandle, 4096},
       {kSoftSoundHandle, 32768},
       {kVertexBufferHandle, 16384},
       {kIndexBufferHandle, 16384}}};
  for (const auto& [type, limit] : limits)
    EXPECT_EQ(MakeEngineHandleKind(type).slotLimit, limit) << type;
}

}  // namespace
