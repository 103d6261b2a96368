// The rectangle fill: one colour, modulated once by the draw brightness, written into a rectangle
// of a software image cut to the draw area under the blend mode and blend parameter.
#include "softrender/blend_modes.h"
#include "softrender/software_kernels.h"
#include "system/math.h"

namespace {

// The colour's channels scaled by the bright colour with a shift: c * b >> 8.
uint32_t BrightenFillColor(uint32_t color, uint32_t bright, int pixelType) {
  uint32_t bB = bright & 0xFF;
  uint32_t bG = (bright >> 8) & 0xFF;
  uint32_t bR = (bright >> 16) & 0xFF;
  if (pixelType == MEMIMG_PIXEL_XRGB8) {
    uint32_t b = (color & 0xFF) * bB >> 8;
    uint32_t g = ((color >> 8) & 0xFF) * bG >> 8;
    uint32_t r = ((color >> 16) & 0xFF) * bR >> 8;
    return (color & 0xFF000000u) | (r << 16) | (g << 8) | b;
  }
  uint32_t r = ((color >> 11) & 31) * bR >> 8;
  uint32_t g = ((color >> 5) & 63) * bG >> 8;
  uint32_t b = (color & 31) * bB >> 8;
  return (r << 11) | (g << 5) | b;
}

}  // namespace

int FillMEMIMGRectangle(MEMIMG* destination, const int32_t* rect, uint32_t color,
                        const KernelDrawSettings* settings) {
  if (!AcceptsKernelCall(destination, nullptr, nullptr, settings)) return 0;
  const MEMIMGBody* db = destination->body;

  RECT r{0, 0, destination->width, destination->height};
  if (rect) {
    r.left = rect[0] < rect[2] ? rect[0] : rect[2];
    r.right = rect[0] < rect[2] ? rect[2] : rect[0];
    r.top = rect[1] < rect[3] ? rect[1] : rect[3];
    r.bottom = rect[1] < rect[3] ? rect[3] : rect[1];
  }
  if (!ClipToDrawArea(&r, settings)) return 0;
  const int w = r.right - r.left, h = r.bottom - r.top;

  KernelContext k;
  KernelSelection s;
  if (!PrepareKernelCall(destination, nullptr, nullptr, 0, settings, &k, &s)) return 0;
  uint32_t bright = settings->brightness;
  if (db->pixelType == MEMIMG_PIXEL_RGB565) color &= 0xFFFF;
  if (IsBrightOn(bright)) color = BrightenFillColor(color, bright, db->pixelType);

  int bytes = db->format->bytesPerPixel;
  uint8_t* first = destination->pixels + static_cast<intptr_t>(r.top) * db->pitch +
                   static_cast<intptr_t>(r.left) * bytes;
  WithInt<0, 1>(db->pixelType, [&](auto t) {
    WithInt<0, 1, 2, 3, 4, 10, 11>(s.mode, [&](auto m) {
      constexpr KernelConfig C{t.value, kSourceDirect, m.value,       false,
                               false,   false,         kPathTriangle, kSpecialNone};
      for (int y = 0; y < h; ++y) {
        uint8_t* d = first + static_cast<intptr_t>(y) * db->pitch;
        for (int x = 0; x < w; ++x, d += bytes) blend::Apply<C, false>(k, d, color, 0, 0);
      }
    });
  });
  return 0;
}
