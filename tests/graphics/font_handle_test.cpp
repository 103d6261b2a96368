// Font handles without a device (every font keeps a memory cache): the 40-slot table and its check
// numbers, creation defaults and fallbacks, cache sizing, the queries, and the font system's
// rebuild, over the fake outline source.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "graphics/font.h"
#include "graphics/font_system.h"
#include "host/system_state.h"
#include "system/engine_handle.h"
#include "tests/graphics/font_test_support.h"

namespace {

class FontHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No window was destroyed: fonts are made without an engine here.
    EngineState().windowDestroyed = 0;
    StartFontSystem();
  }
  void TearDown() override {
    EndFontSystem();
    EXPECT_EQ(FakeWorld().liveFonts, 0);
  }
  FakeOutlineScope fake_;
};

int CountLiveFonts() {
  int live = 0;
  for (int slot = 0; slot < kFontHandleSlotCount; ++slot)
    for (int check = 0; check < 2048; ++check)
      live += IsFontHandleValid(MakeEngineHandle(kFontHandle, check, slot));
  return live;
}

TEST_F(FontHandleTest, FortyFontsFitAndTheFortyFirstFailsLeavingThemUntouched) {
  ASSERT_TRUE(IsFontHandleValid(GetDefaultFontHandle()));
  std::vector<int> handles;
  for (int i = 1; i < kFontHandleSlotCount; ++i) {
    handles.push_back(CreateFontToHandle(nullptr, 10 + i, -1, -1, -1, -1, 0));
    ASSERT_NE(handles.back(), -1);
  }
  EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0), -1);
  EXPECT_EQ(CountLiveFonts(), 40);
  for (size_t i = 0; i < handles.size(); ++i)
    EXPECT_EQ(GetFontHandleSize(handles[i]), 11 + static_cast<int>(i));
  // A given slot that is taken fails too, without touching the font in it.
  EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, 3, 7), -1);
  EXPECT_TRUE(IsFontHandleValid(handles[2]));
}

TEST_F(FontHandleTest, DeletedHandleStaysDeadWhenItsSlotIsReused) {
  const int first = CreateFontToHandle(nullptr, 16, -1, -1, -1, -1, 0);
  ASSERT_NE(first, -1);
  EXPECT_EQ(GetEngineHandleTypeCode(first), kFontHandle);
  int flag = 7;
  EXPECT_EQ(SetFontHandleDeletedFlag(first, &flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(DeleteFontHandle(first), 0);
  EXPECT_EQ(flag, 1);
  const int second = CreateFontToHandle(nullptr, 16, -1, -1, -1, -1, 0);
  EXPECT_EQ(GetEngineHandleSlot(second), GetEngineHandleSlot(first));
  EXPECT_NE(second, first);
  EXPECT_FALSE(IsFontHandleValid(first));
  EXPECT_EQ(GetFontRecord(first), nullptr);
  EXPECT_EQ(DeleteFontHandle(first), -1);
  EXPECT_EQ(GetFontHandleSize(first), -1);
  for (int bad : {-1, 0, second & ~0x20000000, second | 0x7F})
    EXPECT_FALSE(IsFontHandleValid(bad)) << bad;
}

TEST_F(FontHandleTest, DefaultsAndTypeAdjustments) {
  struct Case {
    int type, edge;
    int wantType, wantEdge;
  };
  constexpr Case kCases[] = {
      {-1, -1, 0, 1}, {0, 2, 1, 2}, {2, 3, 3, 3}, {1, -1, 1, 1}, {7, 1, 3, 1}, {6, 1, 2, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " edge " << c.edge);
    const int font = CreateFontToHandle(nullptr, -1, -1, c.type, -1, c.edge, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->type, c.wantType);
    EXPECT_EQ(record->edgeSize, c.wantEdge);
    EXPECT_EQ(record->size, 16);
    EXPECT_EQ(record->thickness, 6);
    EXPECT_EQ(FakeWorld().creates.back().weight, 600);
    EXPECT_EQ(record->memoryCacheDepth, c.wantType == 0 ? 1 : 8);
    DeleteFontHandle(font);
  }
}

// Cell size from the widest character and the height, the memory cache's slots from the cell.
TEST_F(FontHandleTest, CellAndMemoryCacheSizing) {
  struct Case {
    int maxWidth, height, type, edge;
    int cell, lineHeight, slots;
  };
  constexpr Case kCases[] = {
      {16, 16, 0, 1, 24, 16, 0x50000 / (24 * 24)},
      {16, 16, 1, 1, 24, 18, 0x50000 / (24 * 24)},
      {14, 16, 0, 1, 16, 16, 1280},
      {6, 7, 0, 1, 8, 8, 2024},
      {200, 150, 0, 1, 208, 150, 20},
      {16, 30, 1, 2, 34, 34, 0x50000 / (34 * 34)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "width " << c.maxWidth << " height " << c.height);
    FakeWorld().maxCharWidth = c.maxWidth;
    FakeWorld().height = c.height;
    const int font = CreateFontToHandle(nullptr, c.height, -1, c.type, -1, c.edge, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->cellSize, c.cell);
    EXPECT_EQ(record->lineHeight, c.lineHeight);
    EXPECT_EQ(record->slotCount, c.slots);
    EXPECT_EQ(record->cellsPerColumn, c.slots);
    EXPECT_EQ(record->cacheHeight, c.cell * c.slots);
    EXPECT_EQ(record->textureMode, 0);
    DeleteFontHandle(font);
  }
}

// Shift-JIS bytes of the gothic face's name.
const std::string kGothic = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";

TEST_F(FontHandleTest, FontCreationFallsBackThroughFacesAndCharacterSets) {
  struct Call {
    std::string face;
    DWORD charSet;
    DWORD italic;
  };
  struct Case {
    const char* face;
    int kind;
    int failures;
    std::vector<Call> calls;
    bool made;
  };
  const Case kCases[] = {
      {nullptr, 1, 0, {{kGothic, 128, 1}}, true},
      {nullptr, 2, 1, {{kGothic, 129, 1}, {kGothic, 1, 0}}, true},
      {nullptr, 1, 2, {{kGothic, 128, 1}, {kGothic, 1, 0}, {"", 1, 0}}, true},
      {nullptr, 1, 3, {{kGothic, 128, 1}, {kGothic, 1, 0}, {"", 1, 0}}, false},
      {"Face", 4, 2, {{"Face", 134, 1}, {"Face", 1, 1}, {"Face", 128, 1}}, true},
      {"Face", 3, 3, {{"Face", 136, 1}, {"Face", 1, 1}, {"Face", 128, 1}}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << (c.face ? c.face : "no face") << " " << c.failures);
    FakeWorld().creates.clear();
    FakeWorld().failCreates = c.failures;
    const int font = CreateFontToHandle(c.face, 16, 4, 0, c.kind, -1, 1);
    EXPECT_EQ(font != -1, c.made);
    ASSERT_EQ(FakeWorld().creates.size(), c.calls.size());
    for (size_t i = 0; i < c.calls.size(); ++i) {
      EXPECT_EQ(FakeWorld().creates[i].face, c.calls[i].face) << i;
      EXPECT_EQ(FakeWorld().creates[i].charSet, c.calls[i].charSet) << i;
      EXPECT_EQ(FakeWorld().creates[i].italic, c.calls[i].italic) << i;
    }
    if (font != -1) {
      char face[8] = "x";
      EXPECT_EQ(GetFontHandleInfo(face, sizeof face, nullptr, nullptr, font), 0);
      EXPECT_STREQ(face, c.face ? c.face : "");
      DeleteFontHandle(font);
    }
  }
}

// The caller's buffer bounds the face name; longer names are cut to the record's 255 bytes.
TEST_F(FontHandleTest, FaceNamesAreCutToTheBuffers) {
  const std::string longName(300, 'F');
  const int font = CreateFontToHandle(longName.c_str(), 16, 5, 0, -1, -1, 0);
  ASSERT_NE(font, -1);
  char small[6];
  std::memset(small, '#', sizeof small);
  int size = 0;
  int thickness = 0;
  EXPECT_EQ(GetFontHandleInfo(small, sizeof small, &size, &thickness, font), 0);
  EXPECT_STREQ(small, "FFFFF");
  EXPECT_EQ(size, 16);
  EXPECT_EQ(thickness, 5);
  char whole[400];
  EXPECT_EQ(GetFontHandleInfo(whole, sizeof whole, nullptr, nullptr, font), 0);
  EXPECT_EQ(std::strlen(whole), 255u);
  EXPECT_EQ(GetFontHandleInfo(whole, sizeof whole, nullptr, nullptr, -1), -1);
}

TEST_F(FontHandleTest, RecreateAllFontsKeepsHandlesSpacingAndTheirDeletedFlags) {
  const int a = CreateFontToHandle(nullptr, 20, 4, 1, -1, 2, 0);
  const int b = CreateFontToHandle("Face", 12, 3, 0, -1, -1, 1);
  ASSERT_NE(a, -1);
  ASSERT_NE(b, -1);
  SetFontHandleCharSpacing(3, a);
  int flag = 0;
  SetFontHandleDeletedFlag(a, &flag);
  const uint8_t list[] = {'A', 0, 0};
  ASSERT_NE(RasterizeFontGlyph(a, 1, list), nullptr);
  const int defaultFont = GetDefaultFontHandle();
  const int liveBefore = FakeWorld().liveFonts;
  EXPECT_EQ(RecreateAllFonts(), 0);
  EXPECT_TRUE(IsFontHandleValid(a));
  EXPECT_TRUE(IsFontHandleValid(b));
  EXPECT_TRUE(IsFontHandleValid(defaultFont));
  EXPECT_EQ(GetFontRecord(a)->spacing, 3);
  EXPECT_EQ(GetFontRecord(a)->edgeSize, 2);
  EXPECT_EQ(GetFontRecord(b)->italic, 1);
  EXPECT_EQ(GetFontRecord(a)->codes['A'].present, 0);
  EXPECT_EQ(FakeWorld().liveFonts, liveBefore);
  // The owner of the flag still sees its font, and is told when it goes.
  EXPECT_EQ(flag, 0);
  DeleteFontHandle(a);
  EXPECT_EQ(flag, 1);
}

TEST_F(FontHandleTest, DefaultFontFollowsItsSettingsAndTheSystemEndsEmpty) {
  const int before = GetDefaultFontHandle();
  int size = 0;
  int thickness = 0;
  ASSERT_EQ(GetDefaultFontSizeThickness(&size, &thickness), 0);
  EXPECT_EQ(size, 16);
  EXPECT_EQ(thickness, 6);
  SetDefaultFontSizeThickness(16, 6);
  EXPECT_EQ(GetDefaultFontHandle(), before);
  SetDefaultFontSizeThickness(24, -1);
  EXPECT_FALSE(IsFontHandleValid(before));
  ASSERT_EQ(GetDefaultFontSizeThickness(&size, &thickness), 0);
  EXPECT_EQ(size, 24);
  EXPECT_EQ(thickness, 6);
  const int user = CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0);
  ASSERT_NE(user, -1);
  EndFontSystem();
  EXPECT_EQ(CountLiveFonts(), 0);
  EXPECT_EQ(FakeWorld().liveFonts, 0);
  StartFontSystem();
}

}  // namespace
