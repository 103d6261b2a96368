// The main thread's half of Theora decoding: the wanted frame out of the stock into the XRGB8
// frame image (fixed-point tables) or into a YUV surface the device converts itself.
#include <algorithm>
#include <array>

#include "media/theora_decoder.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/kernel.h"

namespace {

// In units of 1/16384, shared by every decoder; the clamp table takes sums from -512 to 767.
struct YuvToRgbTables {
  std::array<std::uint8_t, 1280> clamp;
  std::array<std::int32_t, 256> rv, gu, gv, bu, yy;
};

YuvToRgbTables tables;
TheoraDeviceSource deviceSource = nullptr;

inline std::uint8_t Clamp(int value) { return tables.clamp[value + 512]; }

inline void StorePixel(std::uint8_t* out, int y, int rv, int guv, int bu) {
  const int luma = tables.yy[y];
  out[0] = Clamp((luma + bu) / 16384);
  out[1] = Clamp((luma + guv) / 16384);
  out[2] = Clamp((luma + rv) / 16384);
  out[3] = 255;
}

// 4:2:0: each chroma sample serves a 2 x 2 block, so its terms are looked up once per block.
void ConvertWithTables(const TheoraFrameSlot& slot, StandardImage& image, int width, int height) {
  for (int row = 0; row < height; row += 2) {
    const std::uint8_t* y0 = slot.planeY + static_cast<std::int64_t>(row) * slot.yStride;
    const std::uint8_t* y1 = row + 1 < height ? y0 + slot.yStride : y0;
    const std::uint8_t* u = slot.planeU + static_cast<std::int64_t>(row / 2) * slot.uvStride;
    const std::uint8_t* v = slot.planeV + static_cast<std::int64_t>(row / 2) * slot.uvStride;
    std::uint8_t* out0 = image.pixels + static_cast<std::int64_t>(row) * image.pitch;
    std::uint8_t* out1 = row + 1 < height ? out0 + image.pitch : nullptr;
    for (int column = 0; column < width; column += 2) {
      const int rv = tables.rv[v[column / 2]];
      const int guv = tables.gu[u[column / 2]] + tables.gv[v[column / 2]];
      const int bu = tables.bu[u[column / 2]];
      const bool pair = column + 1 < width;
      StorePixel(out0 + column * 4, y0[column], rv, guv, bu);
      if (pair) StorePixel(out0 + column * 4 + 4, y0[column + 1], rv, guv, bu);
      if (out1 != nullptr) {
        StorePixel(out1 + column * 4, y1[column], rv, guv, bu);
        if (pair) StorePixel(out1 + column * 4 + 4, y1[column + 1], rv, guv, bu);
      }
    }
  }
}

inline std::uint8_t TruncateClamp(double value) {
  const int truncated = static_cast<int>(value);
  return static_cast<std::uint8_t>(std::clamp(truncated, 0, 255));
}

// 4:2:2 and 4:4:4: pixel by pixel in floating point, each pixel reading the chroma sample that
// covers it in planes of the real chroma size.
void ConvertInFloatingPoint(const TheoraFrameSlot& slot, StandardImage& image, int width,
                            int height) {
  for (int row = 0; row < height; ++row) {
    const int uvRow =
        static_cast<int>(static_cast<std::int64_t>(row) * slot.uvHeight / slot.yHeight);
    const std::uint8_t* y = slot.planeY + static_cast<std::int64_t>(row) * slot.yStride;
    const std::uint8_t* u = slot.planeU + static_cast<std::int64_t>(uvRow) * slot.uvStride;
    const std::uint8_t* v = slot.planeV + static_cast<std::int64_t>(uvRow) * slot.uvStride;
    std::uint8_t* out = image.pixels + static_cast<std::int64_t>(row) * image.pitch;
    for (int column = 0; column < width; ++column) {
      const int uvColumn =
          static_cast<int>(static_cast<std::int64_t>(column) * slot.uvWidth / slot.yWidth);
      const double luma = (y[column] - 16) * 1.164;
      const int cb = u[uvColumn] - 128;
      const int cr = v[uvColumn] - 128;
      out[column * 4 + 0] = TruncateClamp(luma + 2.018 * cb);
      out[column * 4 + 1] = TruncateClamp(luma - 0.391 * cb - 0.813 * cr);
      out[column * 4 + 2] = TruncateClamp(luma + 1.596 * cr);
      out[column * 4 + 3] = 255;
    }
  }
}

bool IsFourTwoZero(const TheoraFrameSlot& slot) {
  return slot.yWidth == slot.uvWidth * 2 && slot.yHeight == slot.uvHeight * 2;
}

void CopyToSurface(TheoraDecoderRecord* d, const TheoraFrameSlot& slot) {
  D3DLOCKED_RECT locked{};
  bool isLocked = false;
  for (int attempt = 0; attempt < 3 && d->yuvSurface != nullptr; ++attempt) {
    if (SUCCEEDED(d->yuvSurface->LockRect(&locked, nullptr, 0))) {
      isLocked = true;
      break;
    }
    CreateTheoraYuvSurface(d);
  }
  if (!isLocked) return;
  if (IsFourTwoZero(slot))
    PackTheoraFrameToSurface(&slot, d->yuvSurfaceFormat, static_cast<std::uint8_t*>(locked.pBits),
                             locked.Pitch);
  d->yuvSurface->UnlockRect();
  d->surfaceCurrent = 1;
}

}  // namespace

int BuildYuvToRgbTables() {
  for (int i = -512; i < 768; ++i)
    tables.clamp[i + 512] = static_cast<std::uint8_t>(std::clamp(i, 0, 255));
  for (int i = 0; i < 256; ++i) {
    tables.rv[i] = 26148 * (i - 128);
    tables.gu[i] = 6406 * (128 - i);
    tables.gv[i] = 13320 * (128 - i);
    tables.bu[i] = 33062 * (i - 128);
    tables.yy[i] = 19070 * (i - 16);
  }
  return 0;
}

void ConvertYuvPixelWithTables(int y, int u, int v, std::uint8_t* bgra) {
  StorePixel(bgra, y, tables.rv[v], tables.gu[u] + tables.gv[v], tables.bu[u]);
}

int SetTheoraDeviceSource(TheoraDeviceSource source) {
  deviceSource = source;
  return 0;
}

int ReleaseTheoraYuvSurface(TheoraDecoderRecord* d) {
  if (d->yuvSurface != nullptr) d->yuvSurface->Release();
  d->yuvSurface = nullptr;
  d->yuvSurfaceFormat = 0;
  return 0;
}

int CreateTheoraYuvSurface(TheoraDecoderRecord* d) {
  ReleaseTheoraYuvSurface(d);
  IDirect3DDevice9* device = deviceSource != nullptr ? deviceSource() : nullptr;
  if (device == nullptr) return 0;
  for (const D3DFORMAT format : {D3DFMT_YV12, D3DFMT_YUY2, D3DFMT_UYVY}) {
    if (SUCCEEDED(device->CreateOffscreenPlainSurface(d->info.width, d->info.height, format,
                                                      D3DPOOL_DEFAULT, &d->yuvSurface, nullptr))) {
      d->yuvSurfaceFormat = static_cast<std::uint32_t>(format);
      return 0;
    }
    d->yuvSurface = nullptr;
  }
  return 0;
}

int PackTheoraFrameToSurface(const TheoraFrameSlot* slot, std::uint32_t format, std::uint8_t* bits,
                             int pitch) {
  const int width = slot->yWidth;
  const int height = slot->yHeight;
  const auto rowY = [&](int row) {
    return slot->planeY + static_cast<std::int64_t>(row) * slot->yStride;
  };
  const auto rowU = [&](int row) {
    return slot->planeU + static_cast<std::int64_t>(row) * slot->uvStride;
  };
  const auto rowV = [&](int row) {
    return slot->planeV + static_cast<std::int64_t>(row) * slot->uvStride;
  };
  if (format == D3DFMT_YV12) {
    for (int row = 0; row < height; ++row)
      std::copy_n(rowY(row), width, bits + static_cast<std::int64_t>(row) * pitch);
    // The V plane, then the U plane, each half as wide and high, at half the pitch.
    std::uint8_t* chroma = bits + static_cast<std::int64_t>(height) * pitch;
    const int chromaPitch = pitch / 2;
    for (int row = 0; row < slot->uvHeight; ++row)
      std::copy_n(rowV(row), slot->uvWidth, chroma + static_cast<std::int64_t>(row) * chromaPitch);
    chroma += static_cast<std::int64_t>(slot->uvHeight) * chromaPitch;
    for (int row = 0; row < slot->uvHeight; ++row)
      std::copy_n(rowU(row), slot->uvWidth, chroma + static_cast<std::int64_t>(row) * chromaPitch);
    return 0;
  }
  const bool yuy2 = format == D3DFMT_YUY2;
  if (!yuy2 && format != D3DFMT_UYVY) return -1;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* y = rowY(row);
    const std::uint8_t* u = rowU(row / 2);
    const std::uint8_t* v = rowV(row / 2);
    std::uint8_t* out = bits + static_cast<std::int64_t>(row) * pitch;
    for (int column = 0; column + 1 < width; column += 2) {
      const std::uint8_t cb = u[column / 2];
      const std::uint8_t cr = v[column / 2];
      std::uint8_t* p = out + column * 2;
      if (yuy2) {
        p[0] = y[column], p[1] = cb, p[2] = y[column + 1], p[3] = cr;
      } else {
        p[0] = cb, p[1] = y[column], p[2] = cr, p[3] = y[column + 1];
      }
    }
  }
  return 0;
}

int ConvertTheoraFrame(TheoraDecoderRecord* d, int toImage, int toSurface) {
  const bool surfaceWork = toSurface != 0 && d->yuvSurface != nullptr && d->surfaceCurrent == 0;
  const bool imageWork = toImage != 0 && d->imageCurrent == 0;
  if (!surfaceWork && !imageWork) return 0;
  const TheoraFrameSlot* slot = nullptr;
  for (;;) {
    const int state = d->threadState.load(std::memory_order_acquire);
    if (state == kTheoraEnded) return 0;
    // The stock is emptied while a seek is served; nothing in it is to be read until then.
    if (d->seekRequest.load(std::memory_order_acquire) != 0 || state == kTheoraSeeking) {
      Sleep(1);
      continue;
    }
    slot = FindTheoraCurrentSlot(d);
    if (slot != nullptr) break;
    if (d->endOfData.load(std::memory_order_acquire) != 0) return 0;
    Sleep(0);
  }
  if (surfaceWork) CopyToSurface(d, *slot);
  if (imageWork) {
    StandardImage& image = d->frameImage;
    const int width = std::min(image.width, slot->yWidth);
    const int height = std::min(image.height, slot->yHeight);
    if (IsFourTwoZero(*slot))
      ConvertWithTables(*slot, image, width, height);
    else
      ConvertInFloatingPoint(*slot, image, width, height);
    d->imageCurrent = 1;
  }
  ReleaseTheoraCurrentSlot(slot);
  return 1;
}
