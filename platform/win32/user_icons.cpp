// Icons: the images a program registers under resource ids (its resources, made into the program
// when it is built), the layer's own picture for the default icon (32512), and a window class's
// icon shown on the class's windows through SDL.
#include <map>
#include <mutex>

#include "platform/win32/user_internal.h"

namespace {

struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

struct IconTable {
  std::mutex mutex;
  std::map<WORD, IconImage> images;
};

IconTable& Icons() {
  static auto* table = new IconTable;  // registered before main, read until the last window goes
  return *table;
}

// An icon handle is its resource id under a tag of its own, so cursors (plain tokens) never pass
// for icons.
constexpr ULONG_PTR kIconTag = 0x7E000000;
constexpr WORD kDefaultIconId = 32512;

// The default application icon: a small window, a dark frame round a blue caption and a white page.
IconImage DefaultIcon() {
  IconImage image{32, 32, std::vector<std::uint32_t>(32 * 32, 0)};
  for (int y = 3; y < 29; ++y) {
    for (int x = 2; x < 30; ++x) {
      bool frame = x == 2 || x == 29 || y == 3 || y == 28;
      std::uint32_t colour = frame ? 0xFF202830u : (y < 9 ? 0xFF3060C0u : 0xFFF0F0F0u);
      image.argb[static_cast<std::size_t>(y) * 32 + x] = colour;
    }
  }
  return image;
}

WORD IconId(HICON icon) {
  auto value = reinterpret_cast<ULONG_PTR>(icon);
  if ((value & ~ULONG_PTR{0xFFFF}) != kIconTag) return 0;
  return static_cast<WORD>(value & 0xFFFF);
}

// The picture behind a handle; a null handle, like a class without an icon, shows the default.
bool FindIconImage(HICON icon, IconImage* out) {
  WORD id = icon ? IconId(icon) : kDefaultIconId;
  if (id == 0) return false;
  auto& table = Icons();
  std::lock_guard lock(table.mutex);
  auto found = table.images.find(id);
  if (found != table.images.end()) {
    *out = found->second;
    return true;
  }
  if (id != kDefaultIconId) return false;
  *out = DefaultIcon();
  return true;
}

}  // namespace

namespace user_detail {

void ShowWindowIcon(WindowRecord& record, HICON icon) {
  record.icon = icon;
  IconImage image;
  if (!record.sdl || !FindIconImage(icon, &image)) return;
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      image.argb.data(), image.width, image.height, 32, image.width * 4, SDL_PIXELFORMAT_ARGB8888);
  if (!surface) return;
  SDL_SetWindowIcon(record.sdl, surface);
  SDL_FreeSurface(surface);
}

}  // namespace user_detail

int RegisterPlatformIconResource(WORD id, int width, int height, const std::uint32_t* argb) {
  if (id == 0 || !argb || width <= 0 || height <= 0 || width > 256 || height > 256) return -1;
  IconImage image{
      width, height,
      std::vector<std::uint32_t>(argb, argb + static_cast<std::size_t>(width) * height)};
  auto& table = Icons();
  std::lock_guard lock(table.mutex);
  table.images[id] = std::move(image);
  return 0;
}

HICON LoadIconA(HINSTANCE, LPCSTR name) {
  auto id = reinterpret_cast<ULONG_PTR>(name);
  // Icons are found by number only: the layer keeps no named resources.
  if (id == 0 || id > 0xFFFF) return nullptr;
  bool known = id == kDefaultIconId;
  if (!known) {
    auto& table = Icons();
    std::lock_guard lock(table.mutex);
    known = table.images.count(static_cast<WORD>(id)) != 0;
  }
  return known ? reinterpret_cast<HICON>(kIconTag | id) : nullptr;
}

bool GetPlatformIconImage(HICON icon, int* width, int* height, std::vector<std::uint32_t>* argb) {
  IconImage image;
  if (!FindIconImage(icon, &image)) return false;
  if (width) *width = image.width;
  if (height) *height = image.height;
  if (argb) *argb = std::move(image.argb);
  return true;
}

HICON GetPlatformWindowIcon(HWND window) {
  std::lock_guard lock(user_detail::State().mutex);
  auto record = user_detail::FindRecordLocked(window);
  return record ? record->icon : nullptr;
}
