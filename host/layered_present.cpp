// The layered window's present: a screen image converted into a 32-bit DIB section kept between
// frames (premultiplied by its alpha, the transparent colour cleared) and handed to
// UpdateLayeredWindow, or a device context's picture handed over with a colour key.
#include <cstring>

#include "files/color_convert.h"
#include "files/color_format.h"
#include "graphics/draw_settings.h"
#include "graphics/screen_mode.h"
#include "host/system_state.h"
#include "platform/win32/gdi.h"
#include "platform/win32/layered_window.h"
#include "system/system_info.h"

namespace {

constexpr int kVistaVersionCode = 0x108;

using UpdateLayeredWindowCall = BOOL (*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                         BLENDFUNCTION*, DWORD);

// The DIB section the images are converted into, selected into a memory context of its own.
struct LayeredDib {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previous;
  std::uint8_t* bits;
  int width;
  int height;
};
LayeredDib layeredDib{};

bool HasMasks(const ColorFormat& format, int bytes, std::uint32_t red, std::uint32_t green,
              std::uint32_t blue, std::uint32_t alpha) {
  return format.compression == 0 && format.bytesPerPixel == bytes && format.redMask == red &&
         format.greenMask == green && format.blueMask == blue && format.alphaMask == alpha;
}

// Made again, zero-filled, when the size changes.
bool EnsureLayeredDib(int width, int height) {
  if (layeredDib.bitmap && layeredDib.width == width && layeredDib.height == height) return true;
  DeleteLayeredWindowDib();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return false;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) {
    DeleteObject(bitmap);
    return false;
  }
  layeredDib = LayeredDib{dc,    bitmap, SelectObject(dc, bitmap), static_cast<std::uint8_t*>(bits),
                          width, height};
  return true;
}

void PutPixel(std::uint8_t* out, std::uint32_t argb) {
  out[0] = static_cast<std::uint8_t>(argb);
  out[1] = static_cast<std::uint8_t>(argb >> 8);
  out[2] = static_cast<std::uint8_t>(argb >> 16);
  out[3] = static_cast<std::uint8_t>(argb >> 24);
}

std::uint32_t GetPixel(const std::uint8_t* in) {
  return in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

std::uint32_t Premultiplied(std::uint32_t argb) {
  std::uint32_t alpha = argb >> 24;
  std::uint32_t red = ((argb >> 16) & 0xFF) * alpha / 255;
  std::uint32_t green = ((argb >> 8) & 0xFF) * alpha / 255;
  std::uint32_t blue = (argb & 0xFF) * alpha / 255;
  return alpha << 24 | red << 16 | green << 8 | blue;
}

// Fills the DIB's rows below the caption offset from the image; false when it cannot.
bool ConvertIntoLayeredDib(const StandardImage& image, int useAlpha, int captionOffset,
                           std::uint32_t key) {
  const std::size_t pitch = static_cast<std::size_t>(layeredDib.width) * 4;
  std::uint8_t* first = layeredDib.bits + static_cast<std::size_t>(captionOffset) * pitch;
  const ColorFormat& format = image.format;
  const bool argb = HasMasks(format, 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
  const bool xrgb = HasMasks(format, 4, 0xFF0000, 0xFF00, 0xFF, 0);
  const bool rgb565 = HasMasks(format, 2, 0xF800, 0x07E0, 0x001F, 0);
  const bool vista = OsVersionCode() >= kVistaVersionCode;
  if (useAlpha && argb) {
    for (int y = 0; y < image.height; ++y) {
      const std::uint8_t* in = image.pixels + static_cast<std::size_t>(y) * image.pitch;
      std::uint8_t* out = first + y * pitch;
      for (int x = 0; x < image.width; ++x) {
        std::uint32_t pixel = GetPixel(in + x * 4);
        PutPixel(out + x * 4, (pixel & 0xFFFFFF) == key ? 0 : Premultiplied(pixel));
      }
    }
    return true;
  }
  if (!useAlpha && vista && (xrgb || rgb565)) {
    const std::uint32_t keyCode =
        rgb565 ? ColorFormatCodeFromRGBA(&format, key >> 16, (key >> 8) & 0xFF, key & 0xFF, 0)
               : key;
    for (int y = 0; y < image.height; ++y) {
      const std::uint8_t* in = image.pixels + static_cast<std::size_t>(y) * image.pitch;
      std::uint8_t* out = first + y * pitch;
      for (int x = 0; x < image.width; ++x) {
        std::uint32_t colour;
        if (xrgb) {
          colour = GetPixel(in + x * 4) & 0xFFFFFF;
          if (colour == keyCode) colour = ~0u;
        } else {
          std::uint32_t code = in[x * 2] | in[x * 2 + 1] << 8;
          int red, green, blue, alpha;
          ColorFormatCodeToRGBA(&format, code, &red, &green, &blue, &alpha);
          colour =
              code == keyCode ? ~0u : static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
        }
        PutPixel(out + x * 4, colour == ~0u ? 0 : 0xFF000000u | colour);
      }
    }
    return true;
  }
  ColorFormat target{};
  MakeARGB8ColorFormat(&target);
  RECT whole{0, 0, image.width, image.height};
  if (ConvertPixelRect(first, static_cast<int>(pitch), &target, image.pixels, image.pitch, &format,
                       nullptr, 0, nullptr, 0, 0, &whole, 0, 0, 0, 0, 0, 0, 0, 0) < 0)
    return false;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t* p = first + y * pitch + x * 4;
      PutPixel(p, Premultiplied(GetPixel(p)));
    }
  return true;
}

}  // namespace

int PresentToLayeredWindow(StandardImage* image, HDC dc, int useAlpha) {
  const PreInitSettings& settings = EngineSettings();
  auto update = reinterpret_cast<UpdateLayeredWindowCall>(settings.updateLayeredWindow);
  if (!settings.layeredWindow || !settings.mainWindow || !update) return -1;
  const std::uint32_t key = GetDrawSettings()->transparentColor & 0xFFFFFF;
  const COLORREF colorKey =
      RGB(static_cast<BYTE>(key >> 16), static_cast<BYTE>(key >> 8), static_cast<BYTE>(key));
  RECT windowRect{};
  GetWindowRect(settings.mainWindow, &windowRect);
  POINT position{windowRect.left, windowRect.top};
  POINT origin{0, 0};
  HDC screen = GetDC(nullptr);
  BOOL shown;
  if (dc) {
    int width = 0, height = 0;
    GetScreenModeSize(&width, &height);
    SIZE size{width, height};
    shown = update(settings.mainWindow, screen, &position, &size, dc, &origin, colorKey, nullptr,
                   ULW_COLORKEY);
  } else {
    const int captionOffset = EngineState().captionOffset;
    if (!image || !image->pixels || image->width <= 0 || image->height <= 0 ||
        !EnsureLayeredDib(image->width, image->height + captionOffset) ||
        !ConvertIntoLayeredDib(*image, useAlpha, captionOffset, key)) {
      ReleaseDC(nullptr, screen);
      return -1;
    }
    SIZE size{layeredDib.width, layeredDib.height};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    // Before Vista a picture without alpha is cut out by its colour key instead.
    const bool perPixel = useAlpha || OsVersionCode() >= kVistaVersionCode;
    shown = update(settings.mainWindow, screen, &position, &size, layeredDib.dc, &origin, colorKey,
                   perPixel ? &blend : nullptr, perPixel ? ULW_ALPHA : ULW_COLORKEY);
  }
  ReleaseDC(nullptr, screen);
  return shown ? 0 : -1;
}

void DeleteLayeredWindowDib() {
  if (layeredDib.dc) {
    SelectObject(layeredDib.dc, layeredDib.previous);
    DeleteDC(layeredDib.dc);
  }
  if (layeredDib.bitmap) DeleteObject(layeredDib.bitmap);
  layeredDib = LayeredDib{};
}
