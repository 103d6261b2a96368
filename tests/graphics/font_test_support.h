// A fake outline source for the font tests: fonts with metrics the test chooses and glyphs drawn
// as text ('.' empty; '1'-'9', 'a'-'g' the levels 1-16; '#' full), so that cell contents can be
// worked out by hand and do not depend on any font file. Characters the test does not draw get a
// small box of their own; codes in `failingCodes` fail.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "graphics/font.h"

struct FakeGlyph {
  int originX = 0;
  int originY = 0;  // up from the baseline
  int advance = 0;
  std::vector<std::string> rows;
};

struct FakeFontCall {
  std::string face;
  DWORD charSet;
  DWORD italic;
  int height;
  int weight;
};

struct FakeOutlineWorld {
  int maxCharWidth = 6;
  int height = 8;
  int ascent = 6;
  int failCreates = 0;  // the next n font creations fail
  std::map<UINT, FakeGlyph> glyphs;
  std::set<UINT> failingCodes;
  std::vector<FakeFontCall> creates;
  std::vector<UINT> fetched;  // codes asked for with a buffer
  int liveFonts = 0;
};

inline FakeOutlineWorld& FakeWorld() {
  static FakeOutlineWorld world;
  return world;
}

namespace fake_outline {

struct FakeFont {
  GdiObjectHeader header;
  int maxCharWidth;
  int height;
  int ascent;
};

inline int GetNothing(GdiObjectHeader*, int, void*) { return 0; }
inline FakeFont stockFont{{GDI_OBJECT_FONT, GetNothing, nullptr}, 0, 0, 0};

inline HFONT CreateFont(int height, int, int, int, int weight, DWORD italic, DWORD, DWORD,
                        DWORD charSet, DWORD, DWORD, DWORD, DWORD, LPCSTR face) {
  FakeOutlineWorld& world = FakeWorld();
  world.creates.push_back({face ? face : "", charSet, italic, height, weight});
  if (world.failCreates > 0) {
    --world.failCreates;
    return nullptr;
  }
  ++world.liveFonts;
  auto* font = new FakeFont{
      {GDI_OBJECT_FONT, GetNothing, nullptr}, world.maxCharWidth, world.height, world.ascent};
  return reinterpret_cast<HFONT>(&font->header);
}

inline BOOL DeleteObject(HGDIOBJ object) {
  --FakeWorld().liveFonts;
  delete static_cast<FakeFont*>(object);
  return TRUE;
}

inline HDC CreateDC(HDC) {
  auto* dc = new HDC__{};
  dc->selected[GDI_OBJECT_FONT] = &stockFont.header;
  return dc;
}

inline HGDIOBJ Select(HDC dc, HGDIOBJ object) {
  HGDIOBJ previous = dc->selected[GDI_OBJECT_FONT];
  dc->selected[GDI_OBJECT_FONT] = object;
  return previous;
}

inline BOOL DeleteDC(HDC dc) {
  delete dc;
  return TRUE;
}

inline BOOL GetMetrics(HDC dc, TEXTMETRICA* metrics) {
  auto* font = static_cast<FakeFont*>(dc->selected[GDI_OBJECT_FONT]);
  *metrics = TEXTMETRICA{};
  metrics->tmHeight = font->height;
  metrics->tmAscent = font->ascent;
  metrics->tmDescent = font->height - font->ascent;
  metrics->tmMaxCharWidth = font->maxCharWidth;
  return TRUE;
}

inline int LevelOf(char c) {
  if (c == '#') return 16;
  if (c >= '1' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'g') return c - 'a' + 10;
  return 0;
}

// A glyph the test did not draw: a box of 1 to 4 columns and 3 rows, its pattern from the code.
inline FakeGlyph MadeUpGlyph(UINT code) {
  FakeGlyph glyph{1, 5, 6, {}};
  const int width = 1 + static_cast<int>(code % 4);
  for (int r = 0; r < 3; ++r) {
    std::string row;
    for (int c = 0; c < width; ++c) row += ((code >> (r + c)) & 1) ? '#' : (c == 0 ? '#' : '.');
    glyph.rows.push_back(row);
  }
  return glyph;
}

inline DWORD GetOutline(HDC, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size,
                        LPVOID buffer, const MAT2*) {
  FakeOutlineWorld& world = FakeWorld();
  if (world.failingCodes.count(code)) return GDI_ERROR;
  auto found = world.glyphs.find(code);
  const FakeGlyph glyph = found != world.glyphs.end() ? found->second : MadeUpGlyph(code);
  const int height = static_cast<int>(glyph.rows.size());
  const int width = height ? static_cast<int>(glyph.rows[0].size()) : 0;
  *metrics = GLYPHMETRICS{};
  metrics->gmCellIncX = static_cast<SHORT>(glyph.advance);
  if (width == 0 || height == 0) {
    metrics->gmBlackBoxX = metrics->gmBlackBoxY = 1;
    return 0;
  }
  metrics->gmBlackBoxX = static_cast<UINT>(width);
  metrics->gmBlackBoxY = static_cast<UINT>(height);
  metrics->gmptGlyphOrigin = {glyph.originX, glyph.originY};
  const bool mono = format == GGO_BITMAP;
  const int pitch = mono ? (width + 31) / 32 * 4 : (width + 3) & ~3;
  const DWORD bytes = static_cast<DWORD>(pitch * height);
  if (buffer == nullptr || size == 0) return bytes;
  world.fetched.push_back(code);
  auto* out = static_cast<uint8_t*>(buffer);
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) {
      const int level = LevelOf(glyph.rows[r][c]);
      if (mono && level)
        out[r * pitch + c / 8] |= static_cast<uint8_t>(0x80 >> (c % 8));
      else if (!mono)
        out[r * pitch + c] = static_cast<uint8_t>(level);
    }
  return bytes;
}

}  // namespace fake_outline

// Puts the fake outline source in for the test's lifetime, with a fresh world.
struct FakeOutlineScope {
  FakeOutlineScope() {
    FakeWorld() = FakeOutlineWorld{};
    FontOutlineSource& source = GetFontOutlineSource();
    source.createFont = fake_outline::CreateFont;
    source.deleteObject = fake_outline::DeleteObject;
    source.createCompatibleDC = fake_outline::CreateDC;
    source.selectObject = fake_outline::Select;
    source.deleteDC = fake_outline::DeleteDC;
    source.getTextMetrics = fake_outline::GetMetrics;
    source.getGlyphOutline = fake_outline::GetOutline;
  }
  ~FakeOutlineScope() { ResetFontOutlineSource(); }
};

// The three bytes of a single-byte character.
inline std::vector<uint8_t> CharacterList(const std::string& text) {
  std::vector<uint8_t> list;
  for (char c : text) {
    list.push_back(static_cast<uint8_t>(c));
    list.push_back(0);
    list.push_back(0);
  }
  return list;
}
