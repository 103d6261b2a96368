// Presentation into windows: one client image per window that DIB transfers and the Direct3D
// present draw into, shown through the window's SDL surface and kept for read-back.
#include "platform/win32/gdi_present.h"

#include <SDL.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/win32/gdi.h"
#include "platform/win32/user.h"

namespace {

// What a window shows. The picture lives on the window's SDL surface when it has one of the
// client's size in a 32-bit 0x..RRGGBB layout, so a present is one pass into the memory SDL shows;
// otherwise (no SDL window, another size or layout, a destroyed window) in `pixels`.
struct ClientImage {
  int width = 0;
  int height = 0;
  SDL_Surface* surface = nullptr;  // SDL's, valid until the window goes or is resized
  bool surfaceHasAlpha = false;
  std::vector<std::uint32_t> pixels;
};

struct PresentState {
  std::mutex lock;
  std::map<HWND, ClientImage> images;
  std::vector<LONG> columns;  // source column of each destination column of a scaled present
};

PresentState& State() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* state = new PresentState;
  return *state;
}

bool HasGpuRenderNode() {
  DIR* dri = opendir("/dev/dri");
  if (!dri) return false;
  bool found = false;
  while (dirent* entry = readdir(dri)) {
    if (std::strncmp(entry->d_name, "renderD", 7) != 0) continue;
    std::string path = std::string("/dev/dri/") + entry->d_name;
    if (access(path.c_str(), R_OK | W_OK) == 0) found = true;
  }
  closedir(dri);
  return found;
}

// How SDL shows window surfaces, chosen once before the first one is made: left to SDL's hint
// when the user set it; in memory under the dummy drivers; through an accelerated renderer where
// a GPU driver exists; otherwise through the window system's own image transfer, since SDL would
// else draw the surface with software OpenGL, a pool of threads and tens of megabytes per frame.
void ChooseWindowSurfacePath() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* how;
    if (SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION)) {
      how = "as SDL_FRAMEBUFFER_ACCELERATION asks";
    } else if (!driver || std::strcmp(driver, "dummy") == 0 ||
               std::strcmp(driver, "offscreen") == 0) {
      how = "in memory";
    } else if (HasGpuRenderNode()) {
      SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "1");
      how = "through an accelerated renderer";
    } else {
      SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
      how = "through the window system's image transfer (no GPU driver)";
    }
    std::fprintf(stderr, "platform: window pictures are shown %s on the %s video driver\n", how,
                 driver ? driver : "no");
  });
}

// The window's SDL surface when the picture can live on it, else null.
SDL_Surface* DirectSurface(SDL_Window* sdl, int width, int height, bool* hasAlpha) {
  if (!sdl) return nullptr;
  ChooseWindowSurfacePath();
  SDL_Surface* surface = SDL_GetWindowSurface(sdl);
  if (!surface || surface->w != width || surface->h != height || SDL_MUSTLOCK(surface))
    return nullptr;
  Uint32 format = surface->format->format;
  if (format != SDL_PIXELFORMAT_RGB888 && format != SDL_PIXELFORMAT_ARGB8888) return nullptr;
  *hasAlpha = format == SDL_PIXELFORMAT_ARGB8888;
  return surface;
}

std::uint32_t* ImageRow(ClientImage& image, LONG y) {
  if (image.surface)
    return reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(image.surface->pixels) +
                                            static_cast<std::size_t>(y) * image.surface->pitch);
  return image.pixels.data() + static_cast<std::size_t>(y) * image.width;
}

void ClearImage(ClientImage& image) {
  for (LONG y = 0; y < image.height; ++y) {
    std::uint32_t* row = ImageRow(image, y);
    std::fill(row, row + image.width, 0xFF000000u);
  }
}

// Moves the picture off a surface that is about to go into the image's own pixels.
void KeepSurfacePixels(ClientImage& image) {
  if (!image.surface) return;
  std::vector<std::uint32_t> kept(static_cast<std::size_t>(image.width) * image.height);
  for (LONG y = 0; y < image.height; ++y) {
    const std::uint32_t* row = ImageRow(image, y);
    std::uint32_t* out = kept.data() + static_cast<std::size_t>(y) * image.width;
    for (int x = 0; x < image.width; ++x) out[x] = 0xFF000000u | row[x];
  }
  image.surface = nullptr;
  image.pixels = std::move(kept);
}

// Where a picture of width x height goes on a surface of another size: as large as fits with its
// aspect kept, centred.
SDL_Rect FitKeepingAspect(int width, int height, int surfaceWidth, int surfaceHeight) {
  SDL_Rect fit{0, 0, surfaceWidth, surfaceHeight};
  if (static_cast<std::int64_t>(surfaceWidth) * height <=
      static_cast<std::int64_t>(surfaceHeight) * width) {
    fit.h = static_cast<int>(static_cast<std::int64_t>(surfaceWidth) * height / width);
  } else {
    fit.w = static_cast<int>(static_cast<std::int64_t>(surfaceHeight) * width / height);
  }
  fit.x = (surfaceWidth - fit.w) / 2;
  fit.y = (surfaceHeight - fit.h) / 2;
  return fit;
}

// Shows the image: a surface picture is already in place; a picture of its own is blitted onto
// the window's surface, scaled with its aspect kept and black bars beside it when a full-screen
// window's surface (the display) has another size than its client area.
// (On X11 SDL may back the surface with a renderer of its own, so a renderer on the window does
// not mean someone else draws it.)
void ShowClientImage(SDL_Window* sdl, ClientImage& image) {
  if (!sdl) return;
  if (!image.surface) {
    SDL_Surface* surface = SDL_GetWindowSurface(sdl);
    if (!surface) return;
    SDL_Surface* source =
        SDL_CreateRGBSurfaceWithFormatFrom(image.pixels.data(), image.width, image.height, 32,
                                           image.width * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!source) return;
    SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
    if (source->w == surface->w && source->h == surface->h) {
      SDL_BlitSurface(source, nullptr, surface, nullptr);
    } else {
      SDL_Rect fit = FitKeepingAspect(source->w, source->h, surface->w, surface->h);
      const Uint32 black = SDL_MapRGB(surface->format, 0, 0, 0);
      const SDL_Rect bars[4] = {{0, 0, surface->w, fit.y},
                                {0, fit.y + fit.h, surface->w, surface->h - fit.y - fit.h},
                                {0, fit.y, fit.x, fit.h},
                                {fit.x + fit.w, fit.y, surface->w - fit.x - fit.w, fit.h}};
      for (const SDL_Rect& bar : bars)
        if (bar.w > 0 && bar.h > 0) SDL_FillRect(surface, &bar, black);
      SDL_BlitScaled(source, nullptr, surface, &fit);
    }
    SDL_FreeSurface(source);
  }
  SDL_UpdateWindowSurface(sdl);
}

// Channel value of a bit-field mask widened to 8 bits by repeating its top bits.
std::uint32_t MaskedChannel(std::uint32_t pixel, std::uint32_t mask) {
  if (!mask) return 0;
  int shift = 0, bits = 0;
  while (!((mask >> shift) & 1)) ++shift;
  while (shift + bits < 32 && ((mask >> (shift + bits)) & 1)) ++bits;
  std::uint32_t value = (pixel & mask) >> shift;
  if (bits >= 8) return value >> (bits - 8);
  std::uint32_t result = 0;
  for (int filled = 0; filled < 8; filled += bits) result |= (value << 8 >> bits) >> filled;
  return result & 0xFF;
}

struct DibSource {
  const std::uint8_t* bits;
  int width;
  int height;  // rows
  bool bottomUp;
  int bitCount;
  std::size_t rowBytes;
  std::uint32_t masks[3];
};

bool DescribeDib(const void* bits, const BITMAPINFO* info, DibSource* dib) {
  if (!bits || !info) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0) return false;
  dib->bits = static_cast<const std::uint8_t*>(bits);
  dib->width = h.biWidth;
  dib->height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  dib->bottomUp = h.biHeight > 0;
  dib->bitCount = h.biBitCount;
  dib->rowBytes = ((static_cast<std::size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  const auto* maskBytes = reinterpret_cast<const std::uint8_t*>(info) + sizeof(BITMAPINFOHEADER);
  if (h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32)) {
    for (int i = 0; i < 3; ++i) {
      const std::uint8_t* m = maskBytes + 4 * i;
      dib->masks[i] = m[0] | (m[1] << 8) | (m[2] << 16) | (static_cast<std::uint32_t>(m[3]) << 24);
    }
    return true;
  }
  if (h.biCompression != BI_RGB) return false;
  if (h.biBitCount == 16) {
    dib->masks[0] = 0x7C00, dib->masks[1] = 0x03E0, dib->masks[2] = 0x001F;
  } else if (h.biBitCount == 24 || h.biBitCount == 32) {
    dib->masks[0] = 0xFF0000, dib->masks[1] = 0xFF00, dib->masks[2] = 0xFF;
  } else {
    return false;
  }
  return true;
}

// The bytes of a row counted from the image's top, in a block that starts at stored row
// firstStoredRow.
const std::uint8_t* DibRow(const DibSource& dib, int rowFromTop, int firstStoredRow) {
  int stored = dib.bottomUp ? dib.height - 1 - rowFromTop : rowFromTop;
  return dib.bits + static_cast<std::size_t>(stored - firstStoredRow) * dib.rowBytes;
}

std::uint32_t DibPixel(const DibSource& dib, const std::uint8_t* row, int x) {
  std::uint32_t v;
  if (dib.bitCount == 16) {
    v = row[2 * x] | (row[2 * x + 1] << 8);
  } else if (dib.bitCount == 24) {
    v = row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
  } else {
    const std::uint8_t* p = row + 4 * x;
    v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  return 0xFF000000u | (MaskedChannel(v, dib.masks[0]) << 16) |
         (MaskedChannel(v, dib.masks[1]) << 8) | MaskedChannel(v, dib.masks[2]);
}

// Copies rows [top, top + rows) and columns [left, left + width) of the DIB (rows counted from
// the top) into a buffer; rows outside the stored range stay black.
std::vector<std::uint32_t> ReadDibRect(const DibSource& dib, int left, int top, int width, int rows,
                                       int firstStoredRow, int storedRows) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * rows, 0xFF000000u);
  for (int y = 0; y < rows; ++y) {
    int rowFromTop = top + y;
    if (rowFromTop < 0 || rowFromTop >= dib.height) continue;
    int stored = dib.bottomUp ? dib.height - 1 - rowFromTop : rowFromTop;
    if (stored < firstStoredRow || stored >= firstStoredRow + storedRows) continue;
    const std::uint8_t* row = DibRow(dib, rowFromTop, firstStoredRow);
    for (int x = 0; x < width; ++x) {
      int sx = left + x;
      if (sx >= 0 && sx < dib.width)
        out[static_cast<std::size_t>(y) * width + x] = DibPixel(dib, row, sx);
    }
  }
  return out;
}

}  // namespace

bool PresentPixelsToWindow(HWND window, const std::uint32_t* pixels, int pitch, const RECT& source,
                           const RECT* dest) {
  LONG sw = source.right - source.left, sh = source.bottom - source.top;
  if (!pixels || sw <= 0 || sh <= 0 || pitch < source.right) return false;
  RECT client{};
  bool hasClient =
      window && GetClientRect(window, &client) && client.right > 0 && client.bottom > 0;
  if (!hasClient) {
    client = dest ? RECT{0, 0, std::max<LONG>(dest->right, 1), std::max<LONG>(dest->bottom, 1)}
                  : RECT{0, 0, sw, sh};
  }
  RECT to = dest ? *dest : client;
  LONG dw = to.right - to.left, dh = to.bottom - to.top;
  if (dw <= 0 || dh <= 0) return false;
  SDL_Window* sdl = window ? GetPlatformSDLWindow(window) : nullptr;

  PresentState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  ClientImage& image = state.images[window];
  bool hasAlpha = false;
  SDL_Surface* surface = DirectSurface(sdl, client.right, client.bottom, &hasAlpha);
  const bool resized = image.width != client.right || image.height != client.bottom;
  if (surface != image.surface || resized) {
    // A new surface holds nothing yet: it takes over the picture kept aside, or starts black.
    std::vector<std::uint32_t> kept;
    if (!image.surface && !resized) kept = std::move(image.pixels);
    image.width = client.right;
    image.height = client.bottom;
    image.surface = surface;
    image.surfaceHasAlpha = hasAlpha;
    image.pixels = {};
    if (!surface) image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    if (kept.empty()) {
      ClearImage(image);
    } else {
      for (LONG y = 0; y < image.height; ++y)
        std::memcpy(ImageRow(image, y), kept.data() + static_cast<std::size_t>(y) * image.width,
                    static_cast<std::size_t>(image.width) * 4);
    }
  }
  LONG firstY = std::max<LONG>(to.top, 0), lastY = std::min<LONG>(to.bottom, image.height);
  LONG firstX = std::max<LONG>(to.left, 0), lastX = std::min<LONG>(to.right, image.width);
  // A surface without alpha ignores the top byte, so an unscaled row is one copy; elsewhere the
  // picture is opaque.
  const bool opaqueAlready = image.surface && !image.surfaceHasAlpha;
  if (sw == dw && sh == dh) {
    for (LONG y = firstY; y < lastY && firstX < lastX; ++y) {
      const std::uint32_t* from = pixels +
                                  static_cast<std::size_t>(source.top + y - to.top) * pitch +
                                  (source.left + firstX - to.left);
      std::uint32_t* out = ImageRow(image, y) + firstX;
      if (opaqueAlready) {
        std::memcpy(out, from, static_cast<std::size_t>(lastX - firstX) * 4);
      } else {
        for (LONG x = 0; x < lastX - firstX; ++x) out[x] = 0xFF000000u | from[x];
      }
    }
  } else {
    // Nearest pixel: the source pixel under each destination pixel's centre.
    state.columns.resize(static_cast<std::size_t>(std::max<LONG>(lastX - firstX, 0)));
    for (LONG x = firstX; x < lastX; ++x)
      state.columns[x - firstX] =
          source.left +
          static_cast<LONG>((static_cast<std::int64_t>(2 * (x - to.left) + 1) * sw) / (2 * dw));
    for (LONG y = firstY; y < lastY; ++y) {
      LONG sy = source.top + static_cast<LONG>(
                                 (static_cast<std::int64_t>(2 * (y - to.top) + 1) * sh) / (2 * dh));
      const std::uint32_t* row = pixels + static_cast<std::size_t>(sy) * pitch;
      std::uint32_t* out = ImageRow(image, y);
      for (LONG x = firstX; x < lastX; ++x) out[x] = 0xFF000000u | row[state.columns[x - firstX]];
    }
  }
  ShowClientImage(sdl, image);
  return true;
}

bool GetWindowPresentedImage(HWND window, int* width, int* height,
                             std::vector<std::uint32_t>* pixels) {
  PresentState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  auto found = state.images.find(window);
  if (found == state.images.end()) return false;
  ClientImage& image = found->second;
  if (width) *width = image.width;
  if (height) *height = image.height;
  if (pixels) {
    pixels->resize(static_cast<std::size_t>(image.width) * image.height);
    for (LONG y = 0; y < image.height; ++y) {
      const std::uint32_t* row = ImageRow(image, y);
      std::uint32_t* out = pixels->data() + static_cast<std::size_t>(y) * image.width;
      for (int x = 0; x < image.width; ++x) out[x] = 0xFF000000u | row[x];
    }
  }
  return true;
}

void KeepPresentedImage(HWND window) {
  PresentState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  // Only the last window to go keeps its picture, for a read-back after its end.
  for (auto it = state.images.begin(); it != state.images.end();) {
    bool gone = it->first && it->first != window && !it->second.surface && !IsWindow(it->first);
    it = gone ? state.images.erase(it) : std::next(it);
  }
  auto found = state.images.find(window);
  if (found != state.images.end()) KeepSurfacePixels(found->second);
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT,
                  DWORD rop) {
  DibSource dib;
  if (!dc || !dc->window || rop != SRCCOPY || destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 ||
      srcHeight <= 0 || !DescribeDib(bits, info, &dib)) {
    return 0;
  }
  // The source rectangle's origin is its lower-left corner, counted from the bottom row.
  std::int64_t top = static_cast<std::int64_t>(dib.height) - ySrc - srcHeight;
  if (xSrc < 0 || top < 0 || srcWidth > dib.width - xSrc || srcHeight > dib.height - top) return 0;
  std::vector<std::uint32_t> pixels =
      ReadDibRect(dib, xSrc, static_cast<int>(top), srcWidth, srcHeight, 0, dib.height);
  RECT source = {0, 0, srcWidth, srcHeight};
  RECT dest = {xDest, yDest, xDest + destWidth, yDest + destHeight};
  return PresentPixelsToWindow(dc->window, pixels.data(), srcWidth, source, &dest) ? srcHeight : 0;
}

int SetDIBitsToWindow(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info, UINT) {
  DibSource dib;
  if (!dc || !dc->window || width == 0 || height == 0 || width > 0x7FFFFFFF ||
      height > 0x7FFFFFFF || !DescribeDib(bits, info, &dib)) {
    return 0;
  }
  if (xSrc < 0 || xSrc >= dib.width) return 0;
  int w = static_cast<int>(std::min<DWORD>(width, static_cast<DWORD>(dib.width - xSrc)));
  int h = static_cast<int>(height);
  // For a bottom-up image the rectangle's origin is its lower-left corner, as in SetDIBitsToDevice.
  std::int64_t top = dib.bottomUp ? static_cast<std::int64_t>(dib.height) - ySrc - h : ySrc;
  std::int64_t firstStored = std::min<UINT>(startScan, dib.height);
  std::int64_t endStored = std::min<std::int64_t>(firstStored + lines, dib.height);
  // Only the rows the caller handed over are drawn; the rest of the window is left as it was.
  std::int64_t availableTop = dib.bottomUp ? dib.height - endStored : firstStored;
  std::int64_t availableEnd = dib.bottomUp ? dib.height - firstStored : endStored;
  int firstRow = static_cast<int>(std::max<std::int64_t>(top, availableTop));
  int endRow = static_cast<int>(std::min<std::int64_t>(top + h, availableEnd));
  if (firstRow >= endRow) return 0;
  int rows = endRow - firstRow;
  std::vector<std::uint32_t> pixels =
      ReadDibRect(dib, xSrc, firstRow, w, rows, static_cast<int>(firstStored),
                  static_cast<int>(endStored - firstStored));
  RECT source = {0, 0, w, rows};
  LONG offset = static_cast<LONG>(firstRow - top);
  RECT dest = {xDest, yDest + offset, xDest + w, yDest + offset + rows};
  return PresentPixelsToWindow(dc->window, pixels.data(), w, source, &dest) ? rows : 0;
}
