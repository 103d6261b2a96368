// The software text path: glyph cells of a memory cache composed straight into MEMIMG pixels, and
// strings drawn either directly into the draw target or through a work image that is then blitted
// once, so that blending applies to the whole string.
#include <algorithm>
#include <bit>

#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/graphics_inner.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "softrender/software_kernels.h"
#include "system/math.h"

namespace {

uint8_t CellValue(const FontRecord* record, int index, int gx, int gy) {
  const uint8_t* row = record->memoryCache + static_cast<ptrdiff_t>(index * record->cellSize + gy) *
                                                 record->memoryCachePitch;
  if (record->memoryCacheDepth == 1) return (row[gx >> 3] >> (7 - (gx & 7))) & 1;
  return row[gx];
}

// Each colour channel of the edge colour moved toward the text colour by t / 256.
uint32_t MixChannels(const ColorFormat* format, uint32_t text, uint32_t edge, int t) {
  uint32_t out = 0;
  for (uint32_t mask : {format->redMask, format->greenMask, format->blueMask}) {
    if (mask == 0) continue;
    const int shift = std::countr_zero(mask);
    const int k = static_cast<int>((text & mask) >> shift);
    const int e = static_cast<int>((edge & mask) >> shift);
    const int value = e + ((k - e) * t >> 8);  // arithmetic shift: the floor
    out |= (static_cast<uint32_t>(value) << shift) & mask;
  }
  return out;
}

}  // namespace

// Writes the pixels of one glyph; the box is (boxX, boxY) at its top left for horizontal text, and
// for vertical text (boxX, boxY) is its top right corner, the glyph turned a quarter clockwise.
void ComposeGlyphSoftware(const FontRecord* record, const GlyphSlot* slot, int boxX, int boxY,
                          int vertical, uint32_t textCode, uint32_t edgeCode, MEMIMG* target,
                          const RECT* clip, int transparent) {
  if (target == nullptr || !IsMEMIMGValid(target) || record->memoryCache == nullptr) return;
  const int w = slot->width;
  const int h = slot->height;
  RECT box = vertical ? RECT{boxX - h, boxY, boxX, boxY + w} : RECT{boxX, boxY, boxX + w, boxY + h};
  const RECT whole{0, 0, target->width, target->height};
  ClipRectToRect(&box, &whole);
  if (clip) ClipRectToRect(&box, clip);
  if (box.right <= box.left || box.bottom <= box.top) return;
  const ColorFormat* format = target->body->format;
  const int bytes = format->bytesPerPixel;
  const int depth = GetScreenColorBitDepth();
  const int type = record->type;
  if (depth == 8 && type > 1) return;
  const int pitch = target->body->pitch;
  const int index = slot->slotIndex;
  auto put = [&](uint8_t* p, uint32_t color, int alpha) {
    switch (bytes) {
      case 1: *p = static_cast<uint8_t>(color); break;
      case 2: *reinterpret_cast<uint16_t*>(p) = static_cast<uint16_t>(color); break;
      default: {
        uint32_t value = color & (depth == 16 ? 0xFFFFu : 0xFFFFFFu);
        if (alpha >= 0) value |= static_cast<uint32_t>(alpha) << (depth == 16 ? 16 : 24);
        *reinterpret_cast<uint32_t*>(p) = value;
      }
    }
  };
  for (int y = box.top; y < box.bottom; ++y) {
    uint8_t* p = target->pixels + static_cast<ptrdiff_t>(y) * pitch +
                 static_cast<ptrdiff_t>(box.left) * bytes;
    for (int x = box.left; x < box.right; ++x, p += bytes) {
      const int gx = vertical ? y - boxY : x - boxX;
      const int gy = vertical ? boxX - 1 - x : y - boxY;
      const uint8_t v = CellValue(record, index, gx, gy);
      if (v == 0) {
        if (!transparent) put(p, 0, 0);
        continue;
      }
      switch (type) {
        case 0: put(p, textCode, -1); break;
        case 1: put(p, v == 1 ? textCode : edgeCode, -1); break;
        // Full coverage is opaque, as on the texture path.
        case 2: put(p, textCode, v >= 15 ? 255 : v * 16); break;
        case 3: {
          const int b = v & 0x0F;
          const int e = v >> 4;
          if (b == 15) {
            put(p, textCode, 255);
          } else if (b == 0) {
            put(p, edgeCode, e * 16);
          } else {
            const int a = 16 * b + (15 - b) * e;
            const int t = b * 4096 / a;
            put(p, MixChannels(format, textCode, edgeCode, t), a > 255 ? 255 : a);
          }
          break;
        }
      }
    }
  }
}

int DrawFontStringSoftware(int x, int y, const char* text, uint32_t color, int font,
                           uint32_t edgeColor, int vertical) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) return 0;
  DrawSettings* settings = GetDrawSettings();
  int size[2] = {0, 0};
  DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, text, color, nullptr, nullptr, 1, font, edgeColor, -1,
                     vertical, size);
  const bool antiAliased = (record->type & kFontTypeAntiAliased) != 0;
  if (!antiAliased &&
      (settings->blendMode == 0 || (settings->blendMode == 1 && settings->blendParam == 255))) {
    const RECT area = settings->drawArea;
    DrawFontStringCore(1, x, y, 0, 1.0, 1.0, text, color, GetSoftwareDrawTarget(), &area, 1, font,
                       edgeColor, -1, vertical, nullptr);
    return 0;
  }
  MEMIMG* work =
      GetSoftwareScreenImage(antiAliased ? kSoftwareScreenWorkAlpha : kSoftwareScreenWork);
  if (work == nullptr || !IsMEMIMGValid(work)) return 0;
  const RECT requested = GetRequestedDrawArea();
  const RECT keptArea = settings->drawArea;
  const uint32_t brightness = GetDrawBrightnessRGB(settings);
  RECT workRect{0, 0, size[0], size[1]};
  const RECT screen{0, 0, work->width, work->height};
  ClipRectToRect(&workRect, &screen);
  SetDrawClipRect(workRect.left, workRect.top, workRect.right, workRect.bottom);
  uint32_t key = 0;
  if (!antiAliased) {
    // The glyphs carry the colours scaled by the draw brightness, so the key must differ from
    // those, not from the colours as given.
    int r = 0, g = 0, b = 0;
    const uint32_t unused = MakeScreenColorCode(0, 0, 0);
    auto prepared = [&](uint32_t c) {
      SplitScreenColorCode(c, &r, &g, &b);
      return MakeScreenColorCode(r * settings->drawBrightness[2] / 255,
                                 g * settings->drawBrightness[1] / 255,
                                 b * settings->drawBrightness[0] / 255) &
             ~unused;
    };
    const uint32_t k = prepared(color);
    const uint32_t e = prepared(edgeColor);
    const uint32_t mask = work->body->format->bytesPerPixel == 2 ? 0xFFFFu : 0xFFFFFFu;
    key = work->body->transparentColor & mask;
    while (key == k || key == e) key = (key + 1) & mask;
  }
  work->body->transparentColor = key;
  work->body->tableValid = 0;
  work->body->premultipliedValid = 0;
  SetMEMIMGRectPixels(work, &workRect, key);
  DrawFontStringCore(1, 0, 0, 0, 1.0, 1.0, text, color, work, &workRect, 1, font, edgeColor, -1,
                     vertical, nullptr);
  work->body->tableValid = 0;
  work->body->premultipliedValid = 0;
  SetDrawBrightnessPacked(0xFFFFFF);
  RECT target{x, y, x + size[0], y + size[1]};
  ClipRectToRect(&target, &keptArea);
  SetDrawClipRect(target.left, target.top, target.right, target.bottom);
  if (target.right > target.left && target.bottom > target.top) {
    const KernelDrawSettings settings = GetKernelDrawSettings(GetDrawSettings());
    DrawMEMIMGAtPosition(GetSoftwareDrawTarget(), work, x, y, 1, GetSoftwareBlendImage(),
                         &settings);
  }
  SetDrawClipRect(requested.left, requested.top, requested.right, requested.bottom);
  SetDrawBrightnessPacked(brightness);
  return 0;
}
