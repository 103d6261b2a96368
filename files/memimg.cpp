// Software images: creation, views and release of MEMIMG records and their shared body, the
// pixel formats of the pixel types, conversion of standard images into them (with the palette,
// the premultiplied alpha copy and the run-length transparency table), and rectangle copy and fill.
#include "files/memimg.h"

#include <array>
#include <cstring>

#include "files/color_convert.h"
#include "system/math.h"
#include "system/tracked_memory.h"

namespace {

int BytesPerPixel(int pixelType, int paletteFlag, int alphaFlag) {
  if (paletteFlag) return 1;
  switch (pixelType) {
    case MEMIMG_PIXEL_RGB565: return alphaFlag ? 4 : 2;
    case MEMIMG_PIXEL_XRGB8: return 4;
    case MEMIMG_PIXEL_CHANNEL8: return 1;
    default: return 2;
  }
}

// Frees the body and every buffer it owns.
void FreeBody(MEMIMGBody* body) {
  if (body->pixels && !body->callerOwnsPixels) TrackedFree(body->pixels);
  TrackedFree(body->alpha);
  TrackedFree(body->transparencyTable);
  TrackedFree(body->palette);
  TrackedFree(body);
}

void InvalidateTables(MEMIMGBody* body) {
  body->premultipliedValid = 0;
  body->tableValid = 0;
}

// 0 transparent, 1 opaque, 2 partly transparent.
int PixelKind(const MEMIMGBody* body, const uint8_t* p) {
  if (body->paletteFlag) return p[0] == body->transparentColor ? 0 : 1;
  if (body->alphaFlag) {
    uint8_t a = body->pixelType == MEMIMG_PIXEL_XRGB8 ? p[3] : p[2];
    return a == 0 ? 0 : a == 255 ? 1 : 2;
  }
  uint32_t code =
      body->pixelType == MEMIMG_PIXEL_XRGB8
          ? p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24)
          : p[0] | (uint32_t{p[1]} << 8);
  return code == body->transparentColor ? 0 : 1;
}

void FillPremultipliedAlpha(MEMIMGBody* body) {
  for (int y = 0; y < body->height; ++y) {
    const uint8_t* p = body->pixels + static_cast<intptr_t>(y) * body->pitch;
    uint8_t* q = body->alpha + static_cast<intptr_t>(y) * body->pitch;
    for (int x = 0; x < body->width; ++x, p += 4, q += 4) {
      if (body->pixelType == MEMIMG_PIXEL_XRGB8) {
        uint32_t a = p[3];
        q[0] = static_cast<uint8_t>(p[0] * a >> 8);
        q[1] = static_cast<uint8_t>(p[1] * a >> 8);
        q[2] = static_cast<uint8_t>(p[2] * a >> 8);
        q[3] = static_cast<uint8_t>(a);
      } else {
        uint32_t c = p[0] | (uint32_t{p[1]} << 8);
        uint32_t a = p[2];
        uint32_t scaled = ((((c & 0xF800) * a) & 0xF80000) | (((c & 0x7E0) * a) & 0x7E000) |
                           (((c & 0x1F) * a) & 0x1F00)) >>
                          8;
        uint32_t value = scaled | (a << 16);
        q[0] = static_cast<uint8_t>(value);
        q[1] = static_cast<uint8_t>(value >> 8);
        q[2] = static_cast<uint8_t>(value >> 16);
        q[3] = 0;
      }
    }
  }
}

void WritePalette(MEMIMGBody* body, const ColorFormat& source) {
  if (body->pixelType == MEMIMG_PIXEL_RGB565) {
    for (int i = 0; i < 256; ++i) {
      const ColorPaletteEntry& e = source.palette[i];
      uint32_t v = ((e.red & 0xF8u) << 8) | ((e.green & 0xFCu) << 3) | (e.blue >> 3);
      body->palette[2 * i] = static_cast<uint8_t>(v);
      body->palette[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    std::memcpy(body->paletteCopy, body->palette, 512);
  } else {
    for (int i = 0; i < 256; ++i) {
      const ColorPaletteEntry& e = source.palette[i];
      body->palette[4 * i] = e.blue;
      body->palette[4 * i + 1] = e.green;
      body->palette[4 * i + 2] = e.red;
      body->palette[4 * i + 3] = 0;
    }
    std::memcpy(body->paletteCopy, body->palette, 1024);
  }
}

}  // namespace

const ColorFormat* GetMEMIMGColorFormat(int pixelType, int alphaFlag, int paletteFlag) {
  // Index: type * 4 + alpha * 2 + palette for types 0 and 1; 8 and 9 for types 2 and 3.
  static const std::array<ColorFormat, 10> formats = [] {
    std::array<ColorFormat, 10> f{};
    MakeColorFormatFromMasks(&f[0], 16, 0xF800, 0x7E0, 0x1F, 0);
    MakeColorFormatFromMasks(&f[1], 8, 0xF800, 0x7E0, 0x1F, 0);
    MakeColorFormatFromMasks(&f[2], 32, 0xF800, 0x7E0, 0x1F, 0xFF0000);
    MakeColorFormatFromMasks(&f[3], 8, 0xF800, 0x7E0, 0x1F, 0xFF0000);
    MakeColorFormatFromMasks(&f[4], 32, 0xFF0000, 0xFF00, 0xFF, 0);
    MakeColorFormatFromMasks(&f[5], 8, 0xFF0000, 0xFF00, 0xFF, 0);
    MakeColorFormatFromMasks(&f[6], 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    MakeColorFormatFromMasks(&f[7], 8, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    MakeColorFormatFromMasks(&f[8], 8, 0xFF, 0xFF, 0xFF, 0xFF);
    MakeColorFormatFromMasks(&f[9], 16, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF);
    return f;
  }();
  switch (pixelType) {
    case MEMIMG_PIXEL_RGB565:
    case MEMIMG_PIXEL_XRGB8:
      return &formats[pixelType * 4 + (alphaFlag ? 2 : 0) + (paletteFlag ? 1 : 0)];
    case MEMIMG_PIXEL_CHANNEL8: return &formats[8];
    case MEMIMG_PIXEL_CHANNEL16: return &formats[9];
    default: return nullptr;
  }
}

// A failure frees everything made for the record and leaves it without a body.
int CreateMEMIMG(MEMIMG* image, int width, int height, int pitch, uint32_t transparentColor,
                 int pixelType, int paletteFlag, int alphaFlag, int tablesFlag, void* pixelBuffer) {
  if (image->magic == MEMIMG_MAGIC) return -1;
  if (width < 0 || height < 0 || pixelType < 0 || pixelType > 3) return -1;
  if (!image->body) {
    image->body =
        static_cast<MEMIMGBody*>(TrackedAllocZeroed(sizeof(MEMIMGBody), __FILE__, __LINE__));
    if (!image->body) return -1;
  }
  MEMIMGBody* body = image->body;
  auto fail = [&] {
    FreeBody(body);
    image->body = nullptr;
    return -1;
  };

  if (pixelType == MEMIMG_PIXEL_CHANNEL8 || pixelType == MEMIMG_PIXEL_CHANNEL16) {
    paletteFlag = 0;
    alphaFlag = 0;
  } else if (paletteFlag) {
    alphaFlag = 0;
  }
  paletteFlag = paletteFlag ? 1 : 0;
  alphaFlag = alphaFlag ? 1 : 0;
  body->width = width;
  body->height = height;
  body->transparentColor = transparentColor;
  body->pixelType = pixelType;
  body->paletteFlag = paletteFlag;
  body->alphaFlag = alphaFlag;
  body->useCount = 1;
  body->premultipliedValid = 0;
  body->tableValid = 0;

  if (paletteFlag && !body->palette) {
    body->palette = static_cast<uint8_t*>(TrackedAllocZeroed(2048, __FILE__, __LINE__));
    if (!body->palette) return fail();
  }
  body->paletteCopy = body->palette ? body->palette + 1024 : nullptr;

  int bytes = BytesPerPixel(pixelType, paletteFlag, alphaFlag);
  int64_t rowBytes = static_cast<int64_t>(width) * bytes;
  int64_t rowPitch = pitch >= 0 ? pitch : (rowBytes + 15) & ~int64_t{15};
  // A given pitch shorter than a row would make rows overlap.
  if (rowPitch < rowBytes || rowPitch > INT32_MAX) return fail();
  int64_t n = pitch >= 0 ? pitch : rowBytes;
  int k = 0;
  while ((int64_t{1} << k) < n) ++k;
  body->pitch = static_cast<int32_t>(rowPitch);
  body->pitchExponent = (int64_t{1} << k) == rowPitch ? k : -1;
  body->format = GetMEMIMGColorFormat(pixelType, alphaFlag, paletteFlag);

  int64_t bufferBytes = rowPitch * height;
  if (pixelBuffer) {
    body->pixels = static_cast<uint8_t*>(pixelBuffer);
    body->callerOwnsPixels = 1;
  } else {
    body->callerOwnsPixels = 0;
    body->pixels = static_cast<uint8_t*>(TrackedAllocZeroed(bufferBytes, __FILE__, __LINE__));
    if (!body->pixels) return fail();
  }
  if (tablesFlag) {
    if (alphaFlag && !body->alpha) {
      body->alpha = static_cast<uint8_t*>(TrackedAllocZeroed(bufferBytes, __FILE__, __LINE__));
      if (!body->alpha) return fail();
    }
    if (pixelType != MEMIMG_PIXEL_CHANNEL8 && !body->transparencyTable) {
      int64_t tableBytes = (static_cast<int64_t>(width) + 5) * height;
      body->transparencyTable =
          static_cast<uint8_t*>(TrackedAllocZeroed(tableBytes, __FILE__, __LINE__));
      if (!body->transparencyTable) return fail();
    }
  }
  image->magic = MEMIMG_MAGIC;
  image->width = width;
  image->height = height;
  image->pixels = body->pixels;
  image->alpha = body->alpha;
  return 0;
}

int CreateScreenMEMIMG(MEMIMG* image, int width, int height, int pixelType, int screenColorBits) {
  std::memset(image, 0, sizeof(*image));
  if (pixelType == -1) pixelType = screenColorBits == 16 ? MEMIMG_PIXEL_RGB565 : MEMIMG_PIXEL_XRGB8;
  return CreateMEMIMG(image, width, height, -1, 0, pixelType, 0, 0, 0, nullptr);
}

int MakeSubMEMIMG(MEMIMG* view, const MEMIMG* source, int x, int y, int width, int height) {
  if (!IsMEMIMGValid(source)) return 0;
  if (x < 0 || y < 0 || width < 0 || height < 0 ||
      static_cast<int64_t>(x) + width > source->width ||
      static_cast<int64_t>(y) + height > source->height)
    return 0;
  MEMIMGBody* body = source->body;
  intptr_t offset = static_cast<intptr_t>(y) * body->pitch +
                    static_cast<intptr_t>(x) * body->format->bytesPerPixel;
  view->magic = MEMIMG_MAGIC;
  view->width = width;
  view->height = height;
  view->pixels = source->pixels + offset;
  view->alpha = body->alpha ? source->alpha + offset : nullptr;
  view->body = body;
  ++body->useCount;
  return 0;
}

int IsMEMIMGValid(const MEMIMG* image) {
  return image->magic == MEMIMG_MAGIC && image->body != nullptr ? 1 : 0;
}

int ReleaseMEMIMG(MEMIMG* image) {
  if (image->magic != MEMIMG_MAGIC) return 0;
  MEMIMGBody* body = image->body;
  if (body && --body->useCount <= 0) FreeBody(body);
  image->body = nullptr;
  image->magic = 0;
  return 0;
}

int BuildMEMIMGTransparencyTable(MEMIMGBody* body) {
  if (!body->transparencyTable) return -1;
  int bytes = body->format->bytesPerPixel;
  uint8_t* out = body->transparencyTable;
  for (int y = 0; y < body->height; ++y) {
    const uint8_t* p = body->pixels + static_cast<intptr_t>(y) * body->pitch;
    int x = 0;
    while (x < body->width) {
      int kind = PixelKind(body, p + static_cast<intptr_t>(x) * bytes);
      int run = 1;
      while (run < 64 && x + run < body->width &&
             PixelKind(body, p + static_cast<intptr_t>(x + run) * bytes) == kind)
        ++run;
      *out++ = static_cast<uint8_t>((kind << 6) | (run - 1));
      x += run;
    }
    *out++ = 0xC0;
  }
  return 0;
}

int CopyStandardImageToMEMIMG(const StandardImage* image, const StandardImage* alphaImage,
                              MEMIMG* target, int x, int y, int width, int height, int targetX,
                              int targetY, int colorKeyFlag) {
  if (!IsMEMIMGValid(target) || image->format.compression != 0 ||
      (alphaImage && alphaImage->format.compression != 0))
    return -1;
  MEMIMGBody* body = target->body;
  RECT rect{x, y, x + width, y + height};
  if (body->pixelType == MEMIMG_PIXEL_CHANNEL8 || body->pixelType == MEMIMG_PIXEL_CHANNEL16) {
    ConvertPixelRect(target->pixels, body->pitch, body->format, image->pixels, image->pitch,
                     &image->format, nullptr, 0, nullptr, targetX, targetY, &rect, 0, 0, 0, 0, 1, 1,
                     0, 0);
  } else {
    int result = ConvertPixelRect(
        target->pixels, body->pitch, body->format, image->pixels, image->pitch, &image->format,
        alphaImage ? alphaImage->pixels : nullptr, alphaImage ? alphaImage->pitch : 0,
        alphaImage ? &alphaImage->format : nullptr, targetX, targetY, &rect, 0, colorKeyFlag,
        body->transparentColor, 0, 0, 0, 0, 0);
    if (result < 0) return -1;
    if (!alphaImage && body->paletteFlag) body->paletteSize = result + 1;
  }
  if (body->paletteFlag && body->palette) WritePalette(body, image->format);
  InvalidateTables(body);
  bool whole = width == target->width && height == target->height;
  bool drawable = body->pixelType == MEMIMG_PIXEL_RGB565 || body->pixelType == MEMIMG_PIXEL_XRGB8;
  if (whole && drawable && body->transparencyTable) {
    body->tableValid = 1;
    if (body->alphaFlag && body->alpha) {
      body->premultipliedValid = 1;
      FillPremultipliedAlpha(body);
    }
    BuildMEMIMGTransparencyTable(body);
  }
  return 0;
}

int CopyMEMIMGRect(MEMIMG* target, const MEMIMG* source, const RECT* rect, int x, int y) {
  RECT whole{0, 0, source->width, source->height};
  const RECT* r = rect ? rect : &whole;
  InvalidateTables(target->body);
  return ConvertPixelRect(target->pixels, target->body->pitch, target->body->format, source->pixels,
                          source->body->pitch, source->body->format, nullptr, 0, nullptr, x, y, r,
                          0, 0, 0, 0, 0, 0, 0, 0);
}

// The pixels change under the tables, so both valid flags are cleared.
int SetMEMIMGRectPixels(MEMIMG* image, const RECT* rect, uint32_t value) {
  RECT bounds{0, 0, image->width, image->height};
  RECT r = rect ? *rect : bounds;
  ClipRectToRect(&r, &bounds);
  if (r.right <= r.left || r.bottom <= r.top) return 0;
  MEMIMGBody* body = image->body;
  int bytes = body->format->bytesPerPixel;
  if (bytes != 1 && bytes != 2 && bytes != 4) return 0;
  InvalidateTables(body);
  for (int y = r.top; y < r.bottom; ++y) {
    uint8_t* p = image->pixels + static_cast<intptr_t>(y) * body->pitch +
                 static_cast<intptr_t>(r.left) * bytes;
    for (int x = r.left; x < r.right; ++x, p += bytes) {
      for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
  return 0;
}
