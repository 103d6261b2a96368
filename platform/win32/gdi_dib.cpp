// Device contexts, the GDI object calls, DIB sections and DIB transfer with pixel conversion.
#include "platform/win32/gdi_dib.h"
#include "platform/win32/gdi_font.h"
#include "platform/win32/gdi_present.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct DibSection {
  GdiObjectHeader header;
  LONG width;
  LONG height;  // as given: negative for top-down
  WORD bitCount;
  LONG rowBytes;
  BYTE* bits;
  int selectCount;
};

int GetDibSectionObject(GdiObjectHeader* object, int size, void* out) {
  auto* dib = reinterpret_cast<DibSection*>(object);
  if (!out) return static_cast<int>(sizeof(BITMAP));
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  BITMAP bitmap{0,
                dib->width,
                dib->height < 0 ? -dib->height : dib->height,
                dib->rowBytes,
                1,
                dib->bitCount,
                dib->bits};
  std::memcpy(out, &bitmap, sizeof bitmap);
  return static_cast<int>(sizeof bitmap);
}

BOOL DestroyDibSection(GdiObjectHeader* object) {
  auto* dib = reinterpret_cast<DibSection*>(object);
  if (dib->selectCount > 0) return FALSE;
  std::free(dib->bits);
  delete dib;
  return TRUE;
}

BYTE stockBitmapBits[2];
DibSection stockBitmap{
    {GDI_OBJECT_BITMAP, GetDibSectionObject, nullptr}, 1, 1, 1, 2, stockBitmapBits, 0};

DibSection* AsDibSection(HGDIOBJ object) {
  auto* header = static_cast<GdiObjectHeader*>(object);
  if (!header || header->kind != GDI_OBJECT_BITMAP || header->getObject != GetDibSectionObject)
    return nullptr;
  return reinterpret_cast<DibSection*>(header);
}

// Row bytes of a DIB: whole 32-bit words; 0 when the size does not fit in 32 bits.
std::int64_t DibRowBytes(std::int64_t width, int bitCount) {
  return ((width * bitCount + 31) / 32) * 4;
}

// A channel value under a mask, widened or narrowed to 8 bits.
BYTE ChannelTo8(DWORD pixel, DWORD mask) {
  if (mask == 0) return 0;
  int shift = std::countr_zero(mask);
  int width = std::popcount(mask);
  DWORD value = (pixel & mask) >> shift;
  if (width >= 8) return static_cast<BYTE>(value >> (width - 8));
  DWORD result = value << (8 - width);
  for (int filled = width; filled < 8; filled += width) result |= result >> width;
  return static_cast<BYTE>(result);
}

struct SourceLayout {
  const BYTE* bits;
  std::int64_t rowBytes;
  int bitCount;
  const RGBQUAD* colors;
  DWORD colorCount;
  DWORD masks[3];
};

void ReadSourcePixel(const SourceLayout& source, const BYTE* row, LONG x, BYTE rgb[3]) {
  switch (source.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8: {
      std::int64_t bit = static_cast<std::int64_t>(x) * source.bitCount;
      int index = (row[bit / 8] >> (8 - source.bitCount - bit % 8)) & ((1 << source.bitCount) - 1);
      if (static_cast<DWORD>(index) >= source.colorCount) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
      }
      rgb[0] = source.colors[index].rgbBlue;
      rgb[1] = source.colors[index].rgbGreen;
      rgb[2] = source.colors[index].rgbRed;
      return;
    }
    case 16:
    case 32: {
      DWORD pixel =
          source.bitCount == 16
              ? static_cast<DWORD>(row[x * 2] | (row[x * 2 + 1] << 8))
              : static_cast<DWORD>(row[x * 4] | (row[x * 4 + 1] << 8) | (row[x * 4 + 2] << 16) |
                                   (static_cast<DWORD>(row[x * 4 + 3]) << 24));
      rgb[0] = ChannelTo8(pixel, source.masks[2]);
      rgb[1] = ChannelTo8(pixel, source.masks[1]);
      rgb[2] = ChannelTo8(pixel, source.masks[0]);
      return;
    }
    default:
      rgb[0] = row[x * 3];
      rgb[1] = row[x * 3 + 1];
      rgb[2] = row[x * 3 + 2];
  }
}

DWORD ReadDword(const BYTE* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

}  // namespace

HDC CreateCompatibleDC(HDC) {
  auto* dc = new (std::nothrow) HDC__{};
  if (!dc) return nullptr;
  dc->selected[GDI_OBJECT_BITMAP] = &stockBitmap.header;
  dc->selected[GDI_OBJECT_FONT] = GetStockSystemFont();
  return dc;
}

BOOL DeleteDC(HDC dc) {
  if (!dc) return FALSE;
  if (DibSection* dib = AsDibSection(dc->selected[GDI_OBJECT_BITMAP])) {
    if (dib->selectCount > 0) --dib->selectCount;
  }
  delete dc;
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  auto* header = static_cast<GdiObjectHeader*>(object);
  if (!dc || !header || header->kind < 0 || header->kind >= GDI_OBJECT_KIND_COUNT) return nullptr;
  HGDIOBJ previous = dc->selected[header->kind];
  if (header->kind == GDI_OBJECT_BITMAP) {
    DibSection* dib = AsDibSection(object);
    if (!dib) return nullptr;
    if (DibSection* old = AsDibSection(previous); old && old->selectCount > 0) --old->selectCount;
    ++dib->selectCount;
  }
  dc->selected[header->kind] = object;
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  auto* header = static_cast<GdiObjectHeader*>(object);
  if (!header || !header->destroy) return FALSE;
  return header->destroy(header);
}

int GetObjectA(HGDIOBJ object, int size, LPVOID out) {
  auto* header = static_cast<GdiObjectHeader*>(object);
  if (!header || !header->getObject) return 0;
  return header->getObject(header, size, out);
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  if (!info) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  int bitCount = h.biBitCount;
  bool supported =
      (h.biCompression == BI_RGB && (bitCount == 1 || bitCount == 4 || bitCount == 8 ||
                                     bitCount == 16 || bitCount == 24 || bitCount == 32)) ||
      (h.biCompression == BI_BITFIELDS && (bitCount == 16 || bitCount == 32));
  std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  if (!supported || h.biWidth <= 0 || height == 0) return nullptr;
  std::int64_t rowBytes = DibRowBytes(h.biWidth, bitCount);
  std::int64_t total = rowBytes * height;
  if (rowBytes > 0x7FFFFFFF || total > 0x7FFFFFFF) return nullptr;
  auto* pixels = static_cast<BYTE*>(std::calloc(static_cast<size_t>(total), 1));
  if (!pixels) return nullptr;
  auto* dib =
      new (std::nothrow) DibSection{{GDI_OBJECT_BITMAP, GetDibSectionObject, DestroyDibSection},
                                    h.biWidth,
                                    h.biHeight,
                                    static_cast<WORD>(bitCount),
                                    static_cast<LONG>(rowBytes),
                                    pixels,
                                    0};
  if (!dib) {
    std::free(pixels);
    return nullptr;
  }
  if (bits) *bits = pixels;
  return reinterpret_cast<HBITMAP>(&dib->header);
}

bool GetDibSectionLayout(HGDIOBJ bitmap, DibSectionLayout* layout) {
  DibSection* dib = AsDibSection(bitmap);
  if (!dib || !layout) return false;
  *layout = DibSectionLayout{dib->width,    dib->height < 0 ? -dib->height : dib->height,
                             dib->bitCount, dib->rowBytes,
                             dib->bits,     dib->height < 0};
  return true;
}

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT colorUse) {
  if (!dc || !bits || !info) return 0;
  if (dc->window)
    return SetDIBitsToWindow(dc, xDest, yDest, width, height, xSrc, ySrc, startScan, lines, bits,
                             info, colorUse);
  DibSection* target = AsDibSection(dc->selected[GDI_OBJECT_BITMAP]);
  if (!target || (target->bitCount != 24 && target->bitCount != 32)) return 0;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0) return 0;
  SourceLayout source{};
  source.bits = static_cast<const BYTE*>(bits);
  source.bitCount = h.biBitCount;
  source.rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
  const BYTE* afterHeader = reinterpret_cast<const BYTE*>(info) + h.biSize;
  const BYTE* maskBytes = reinterpret_cast<const BYTE*>(info) + sizeof(BITMAPINFOHEADER);
  switch (h.biBitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
      if (h.biCompression != BI_RGB) return 0;
      source.colors = reinterpret_cast<const RGBQUAD*>(afterHeader);
      source.colorCount =
          (h.biClrUsed && h.biClrUsed < (1u << h.biBitCount)) ? h.biClrUsed : (1u << h.biBitCount);
      break;
    case 16:
    case 32:
      if (h.biCompression == BI_BITFIELDS) {
        for (int i = 0; i < 3; ++i) source.masks[i] = ReadDword(maskBytes + i * 4);
      } else if (h.biCompression == BI_RGB && h.biBitCount == 16) {
        source.masks[0] = 0x7C00, source.masks[1] = 0x03E0, source.masks[2] = 0x001F;
      } else if (h.biCompression == BI_RGB) {
        source.masks[0] = 0xFF0000, source.masks[1] = 0xFF00, source.masks[2] = 0xFF;
      } else {
        return 0;
      }
      break;
    case 24:
      if (h.biCompression != BI_RGB) return 0;
      break;
    default: return 0;
  }
  std::int64_t sourceHeight = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  bool sourceBottomUp = h.biHeight > 0;
  std::int64_t targetHeight =
      target->height < 0 ? -static_cast<std::int64_t>(target->height) : target->height;
  bool targetBottomUp = target->height > 0;
  int targetBytes = target->bitCount / 8;
  // For a bottom-up source the rectangle's origin is its lower-left corner.
  std::int64_t firstRow =
      sourceBottomUp ? sourceHeight - ySrc - static_cast<std::int64_t>(height) : ySrc;
  int rowsSet = 0;
  for (std::int64_t j = 0; j < static_cast<std::int64_t>(height); ++j) {
    std::int64_t sourceRow = firstRow + j;  // counted from the top
    std::int64_t targetRow = yDest + j;
    if (sourceRow < 0 || sourceRow >= sourceHeight || targetRow < 0 || targetRow >= targetHeight)
      continue;
    std::int64_t storedRow = sourceBottomUp ? sourceHeight - 1 - sourceRow : sourceRow;
    if (storedRow < startScan || storedRow >= static_cast<std::int64_t>(startScan) + lines)
      continue;
    const BYTE* row = source.bits + (storedRow - startScan) * source.rowBytes;
    BYTE* out = target->bits +
                (targetBottomUp ? targetHeight - 1 - targetRow : targetRow) * target->rowBytes;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(width); ++i) {
      std::int64_t x = xSrc + i;
      std::int64_t tx = xDest + i;
      if (x < 0 || x >= h.biWidth || tx < 0 || tx >= target->width) continue;
      BYTE rgb[3];
      ReadSourcePixel(source, row, static_cast<LONG>(x), rgb);
      BYTE* p = out + tx * targetBytes;
      p[0] = rgb[0];
      p[1] = rgb[1];
      p[2] = rgb[2];
      if (targetBytes == 4) p[3] = 0;
    }
    ++rowsSet;
  }
  return rowsSet;
}
