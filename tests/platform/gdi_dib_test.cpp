// DIB sections and DIB transfer: the conversions the BMP decoder relies on.
#include "platform/win32/gdi_dib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct SourceDib {
  std::vector<BYTE> info;  // header + colour table or masks
  BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(info.data()); }
};

SourceDib MakeSource(LONG width, LONG height, WORD bitCount, DWORD compression,
                     std::vector<DWORD> extra) {
  SourceDib dib;
  dib.info.resize(sizeof(BITMAPINFOHEADER) + extra.size() * 4);
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bitCount;
  h.biCompression = compression;
  std::memcpy(dib.info.data(), &h, sizeof h);
  if (!extra.empty()) std::memcpy(dib.info.data() + sizeof h, extra.data(), extra.size() * 4);
  return dib;
}

// Converts the source into a fresh 24-bit top-down DIB section and returns its rows.
std::vector<BYTE> ConvertTo24(SourceDib& source, const std::vector<BYTE>& bits, int* rowsSet) {
  LONG width = source.Info()->bmiHeader.biWidth;
  LONG height = std::abs(source.Info()->bmiHeader.biHeight);
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO target{};
  target.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* pixels = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &target, DIB_RGB_COLORS, &pixels, nullptr, 0);
  EXPECT_NE(dib, nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  *rowsSet = SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, bits.data(), source.Info(),
                               DIB_RGB_COLORS);
  BITMAP bitmap{};
  EXPECT_EQ(GetObjectA(dib, sizeof bitmap, &bitmap), static_cast<int>(sizeof bitmap));
  std::vector<BYTE> out(static_cast<BYTE*>(pixels),
                        static_cast<BYTE*>(pixels) + bitmap.bmWidthBytes * height);
  EXPECT_FALSE(DeleteObject(dib));  // still selected
  SelectObject(dc, old);
  EXPECT_TRUE(DeleteObject(dib));
  DeleteDC(dc);
  return out;
}

TEST(GdiDib, OneBitBottomUpBecomesTopDownRgb) {
  SourceDib source = MakeSource(3, 2, 1, BI_RGB, {0x00102030, 0x00A0B0C0});
  // Stored bottom row first: bottom row pixels 1,0,1; top row 0,1,1.
  std::vector<BYTE> bits = {0xA0, 0, 0, 0, 0x60, 0, 0, 0};
  int rows = 0;
  std::vector<BYTE> out = ConvertTo24(source, bits, &rows);
  EXPECT_EQ(rows, 2);
  std::vector<BYTE> expected = {0x30, 0x20, 0x10, 0xC0, 0xB0, 0xA0, 0xC0, 0xB0, 0xA0, 0, 0, 0,
                                0xC0, 0xB0, 0xA0, 0x30, 0x20, 0x10, 0xC0, 0xB0, 0xA0, 0, 0, 0};
  EXPECT_EQ(out, expected);
}

TEST(GdiDib, SixteenBitChannelsAreWidenedByRepeatingTheirTopBits) {
  struct Case {
    DWORD compression;
    std::vector<DWORD> masks;
    WORD pixel;
    BYTE blue, green, red;
  } cases[] = {
      {BI_RGB, {}, 0x7FFF, 0xFF, 0xFF, 0xFF},
      {BI_RGB, {}, static_cast<WORD>((0x10 << 10) | (0x01 << 5) | 0x1F), 0xFF, 0x08, 0x84},
      {BI_BITFIELDS,
       {0xF800, 0x07E0, 0x001F},
       static_cast<WORD>((0x1F << 11) | (0x20 << 5) | 0x00),
       0x00,
       0x82,
       0xFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pixel);
    SourceDib source = MakeSource(1, -1, 16, c.compression, c.masks);
    std::vector<BYTE> bits = {static_cast<BYTE>(c.pixel & 0xFF), static_cast<BYTE>(c.pixel >> 8), 0,
                              0};
    int rows = 0;
    std::vector<BYTE> out = ConvertTo24(source, bits, &rows);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(out[0], c.blue);
    EXPECT_EQ(out[1], c.green);
    EXPECT_EQ(out[2], c.red);
  }
}

TEST(GdiDib, ThirtyTwoBitBitFields) {
  SourceDib source = MakeSource(1, 1, 32, BI_BITFIELDS, {0x000000FF, 0x0000FF00, 0x00FF0000});
  std::vector<BYTE> bits = {0x11, 0x22, 0x33, 0x44};
  int rows = 0;
  std::vector<BYTE> out = ConvertTo24(source, bits, &rows);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(out[0], 0x33);
  EXPECT_EQ(out[1], 0x22);
  EXPECT_EQ(out[2], 0x11);
}

TEST(GdiDib, RefusesWhatItCannotConvert) {
  for (auto [bitCount, compression] :
       {std::pair<WORD, DWORD>{24, BI_BITFIELDS}, {8, 1}, {4, 2}, {32, 4}, {12, BI_RGB}}) {
    SCOPED_TRACE(bitCount);
    SourceDib source = MakeSource(1, 1, bitCount, compression, {0, 0, 0});
    std::vector<BYTE> bits(16, 0);
    int rows = -1;
    ConvertTo24(source, bits, &rows);
    EXPECT_EQ(rows, 0);
  }
  BITMAPINFO odd{};
  odd.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, 4, 1, 24, BI_BITFIELDS, 0, 0, 0, 0, 0};
  EXPECT_EQ(CreateDIBSection(nullptr, &odd, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
}

}  // namespace
