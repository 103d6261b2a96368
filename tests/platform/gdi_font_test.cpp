// GDI fonts over FreeType and fontconfig with the faces scripts/setup installs (DejaVu and IPA
// Gothic): the face mapping, the cell height, and glyph bitmaps in both layouts. Checks are loose
// where a font package update could move a pixel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32/gdi.h"

namespace {

const char kGothic[] = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";  // ＭＳ ゴシック
const MAT2 kIdentity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};

HFONT MakeFont(const char* face, int height, DWORD charSet, int weight = 400, DWORD italic = 0) {
  return CreateFontA(height, 0, 0, 0, weight, italic, 0, 0, charSet, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, FIXED_PITCH, face);
}

// The font file, through the links Debian's alternatives put in front of it.
std::string FileOf(HFONT font) {
  const char* path = GetFontFilePath(font);
  std::error_code error;
  return path ? std::filesystem::canonical(path, error).string() : "";
}

// A memory context with the font selected, released with the font.
struct SelectedFont {
  HFONT font;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = nullptr;
  explicit SelectedFont(HFONT f) : font(f) { previous = SelectObject(dc, font); }
  ~SelectedFont() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
  }
};

TEST(GdiFontTest, FacesMapToInstalledFonts) {
  struct Case {
    const char* face;
    DWORD charSet;
    const char* file;
  };
  const Case kCases[] = {
      {kGothic, SHIFTJIS_CHARSET, "ipag.ttf"},
      {kGothic, DEFAULT_CHARSET, "ipag.ttf"},
      {"MS Gothic", DEFAULT_CHARSET, "ipag.ttf"},
      {"", SHIFTJIS_CHARSET, "ipa"},
      {"", DEFAULT_CHARSET, "DejaVuSansMono"},
      {"DejaVu Serif", DEFAULT_CHARSET, "DejaVuSerif"},
      {"No Such Face At All", DEFAULT_CHARSET, "DejaVuSansMono"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.face);
    HFONT font = MakeFont(c.face, 16, c.charSet);
    ASSERT_NE(font, nullptr);
    EXPECT_NE(FileOf(font).find(c.file), std::string::npos) << FileOf(font);
    EXPECT_TRUE(DeleteObject(font));
  }
}

// A positive height is the whole cell: ascent plus descent.
TEST(GdiFontTest, HeightIsTheCellHeight) {
  for (const char* face : {kGothic, "DejaVu Sans Mono"})
    for (int height : {8, 12, 16, 23, 40}) {
      SCOPED_TRACE(testing::Message() << face << " " << height);
      SelectedFont f(MakeFont(face, height, SHIFTJIS_CHARSET));
      ASSERT_NE(f.previous, nullptr);
      TEXTMETRICA tm{};
      ASSERT_TRUE(GetTextMetricsA(f.dc, &tm));
      EXPECT_EQ(tm.tmHeight, height);
      EXPECT_EQ(tm.tmAscent + tm.tmDescent, height);
      EXPECT_GT(tm.tmAscent, tm.tmDescent);
      EXPECT_GE(tm.tmMaxCharWidth, height / 3);
      EXPECT_LE(tm.tmMaxCharWidth, height * 2);
    }
}

TEST(GdiFontTest, GlyphBitmapsInBothLayouts) {
  SelectedFont f(MakeFont(kGothic, 16, SHIFTJIS_CHARSET));
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(f.dc, &tm));
  struct Case {
    UINT code;
    UINT format;
  };
  // 'A', あ, 漢 and the half-width ｱ in both formats.
  for (const Case c : {Case{'A', GGO_BITMAP}, Case{'A', GGO_GRAY4_BITMAP}, Case{0x82A0, GGO_BITMAP},
                       Case{0x8ABF, GGO_GRAY4_BITMAP}, Case{0xB1, GGO_BITMAP}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code << " format " << c.format);
    GLYPHMETRICS gm{};
    const DWORD size = GetGlyphOutlineA(f.dc, c.code, c.format, &gm, 0, nullptr, &kIdentity);
    ASSERT_NE(size, GDI_ERROR);
    ASSERT_GT(gm.gmBlackBoxX, 0u);
    const UINT pitch =
        c.format == GGO_BITMAP ? (gm.gmBlackBoxX + 31) / 32 * 4 : (gm.gmBlackBoxX + 3) & ~3u;
    EXPECT_EQ(size, pitch * gm.gmBlackBoxY);
    EXPECT_LE(gm.gmptGlyphOrigin.y, tm.tmAscent);
    EXPECT_GT(gm.gmCellIncX, 0);
    std::vector<uint8_t> buffer(size + 8, 0xEE);
    EXPECT_EQ(GetGlyphOutlineA(f.dc, c.code, c.format, &gm, size - 1, buffer.data(), &kIdentity),
              GDI_ERROR);
    ASSERT_EQ(GetGlyphOutlineA(f.dc, c.code, c.format, &gm, size, buffer.data(), &kIdentity), size);
    EXPECT_EQ(buffer[size], 0xEE);
    int ink = 0;
    int top = 0;
    for (DWORD i = 0; i < size; ++i) {
      if (c.format == GGO_GRAY4_BITMAP) {
        EXPECT_LE(buffer[i], 16);
      }
      ink += buffer[i] != 0;
      top = std::max<int>(top, buffer[i]);
    }
    EXPECT_GT(ink, 2);
    if (c.format == GGO_GRAY4_BITMAP) {
      EXPECT_EQ(top, 16);
    }
  }
  GLYPHMETRICS full{}, half{};
  GetGlyphOutlineA(f.dc, 0x82A0, GGO_BITMAP, &full, 0, nullptr, &kIdentity);
  GetGlyphOutlineA(f.dc, 0xB1, GGO_BITMAP, &half, 0, nullptr, &kIdentity);
  // Full width is about the height, half width half of it.
  EXPECT_GE(full.gmCellIncX, 14);
  EXPECT_LE(full.gmCellIncX, 16);
  EXPECT_LE(std::abs(full.gmCellIncX - 2 * half.gmCellIncX), 1);
}

TEST(GdiFontTest, BlanksAndRefusals) {
  SelectedFont f(MakeFont("DejaVu Sans Mono", 16, DEFAULT_CHARSET));
  GLYPHMETRICS gm{};
  EXPECT_EQ(GetGlyphOutlineA(f.dc, ' ', GGO_BITMAP, &gm, 0, nullptr, &kIdentity), 0u);
  EXPECT_EQ(gm.gmBlackBoxX, 1u);
  EXPECT_EQ(gm.gmBlackBoxY, 1u);
  EXPECT_GT(gm.gmCellIncX, 0);
  EXPECT_EQ(GetGlyphOutlineA(f.dc, 'A', 2, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineA(f.dc, 'A', GGO_BITMAP, &gm, 0, nullptr, nullptr), GDI_ERROR);
  HDC bare = CreateCompatibleDC(nullptr);
  TEXTMETRICA tm{};
  EXPECT_FALSE(GetTextMetricsA(bare, &tm));
  EXPECT_EQ(GetGlyphOutlineA(bare, 'A', GGO_BITMAP, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  EXPECT_EQ(SelectObject(bare, GetStockObject(SYSTEM_FONT)), GetStockObject(SYSTEM_FONT));
  DeleteDC(bare);
  EXPECT_FALSE(DeleteObject(GetStockObject(SYSTEM_FONT)));
}

}  // namespace
