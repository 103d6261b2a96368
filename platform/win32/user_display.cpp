// SDL's video start, the display modes the layer offers and the current one, system metrics,
// and the system parameters the engine changes (screen saver, foreground lock time-out).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/kernel.h"
#include "platform/win32/user_internal.h"

using namespace user_detail;

namespace {

struct DisplayMode {
  int width;
  int height;
  int bits;
};

struct DisplayState {
  std::mutex mutex;
  bool known = false;
  DisplayMode desktop{0, 0, 32};
  DisplayMode current{0, 0, 32};
  std::vector<DisplayMode> modes;
  DWORD foregroundLockTimeout = 200000;
};

DisplayState& Display() {
  static auto* state = new DisplayState;
  return *state;
}

// Reads the desktop once. SDL reports its usual 4-byte desktop format as 24 bits per pixel; the
// layer reports 32, as the platform does for such a desktop.
void LearnDesktopLocked(DisplayState& display) {
  if (display.known || !EnsurePlatformVideo()) return;
  SDL_DisplayMode mode{};
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return;
  display.known = true;
  int bits = SDL_BYTESPERPIXEL(mode.format) == 2 ? 16 : 32;
  display.desktop = DisplayMode{mode.w, mode.h, bits};
  display.current = display.desktop;
  const DisplayMode sizes[] = {{640, 480, 0}, {800, 600, 0}, {1024, 768, 0}};
  bool desktopListed = false;
  for (const auto& size : sizes) {
    if (!desktopListed && (mode.w < size.width || (mode.w == size.width && mode.h < size.height))) {
      display.modes.push_back({mode.w, mode.h, 32});
      display.modes.push_back({mode.w, mode.h, 16});
      desktopListed = true;
    }
    if (size.width == mode.w && size.height == mode.h) desktopListed = true;
    display.modes.push_back({size.width, size.height, 32});
    display.modes.push_back({size.width, size.height, 16});
  }
  if (!desktopListed) {
    display.modes.push_back({mode.w, mode.h, 32});
    display.modes.push_back({mode.w, mode.h, 16});
  }
}

bool IsHeadlessDriver(const char* driver) {
  return !driver || SDL_strcasecmp(driver, "dummy") == 0 ||
         SDL_strcasecmp(driver, "offscreen") == 0;
}

// SDL_VIDEODRIVER (or the hint) names the driver.
bool IsVideoDriverNamed(const char* driver) {
  const char* named = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  return driver && named && SDL_strcasecmp(named, driver) == 0;
}

// Said once on standard error: every window call fails from here on, and a program that keeps no
// log would otherwise end without a word about why.
void ReportNoDisplay(const std::string& why, const char* remedy = "") {
  std::fprintf(stderr, "platform: no display: %s; no window can be made%s\n", why.c_str(), remedy);
}

void FillMode(const DisplayMode& from, DEVMODEA* mode) {
  std::memset(mode, 0, sizeof *mode);
  mode->dmSize = sizeof *mode;
  mode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
  mode->dmBitsPerPel = static_cast<DWORD>(from.bits);
  mode->dmPelsWidth = static_cast<DWORD>(from.width);
  mode->dmPelsHeight = static_cast<DWORD>(from.height);
  mode->dmDisplayFrequency = 60;
}

}  // namespace

namespace user_detail {

VideoState& Video() {
  static auto* state = new VideoState;
  return *state;
}

void GetCurrentDisplayMode(int& width, int& height, int& bitsPerPixel) {
  auto& display = Display();
  std::lock_guard lock(display.mutex);
  LearnDesktopLocked(display);
  width = display.current.width;
  height = display.current.height;
  bitsPerPixel = display.current.bits;
}

void GetDesktopDisplayMode(int& width, int& height) {
  auto& display = Display();
  std::lock_guard lock(display.mutex);
  LearnDesktopLocked(display);
  width = display.desktop.width;
  height = display.desktop.height;
}

}  // namespace user_detail

bool EnsurePlatformVideo() {
  auto& video = Video();
  if (video.started.load()) return true;
  std::lock_guard lock(video.mutex);
  if (video.started.load()) return true;
  if (video.failed) return false;
  // Closing the last window is a WM_CLOSE like any other, not a quit of SDL's own; and a
  // full-screen window is minimised by the engine, not by SDL, when it loses the focus.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  // Long compositions and long committed texts arrive whole rather than cut at 32 bytes.
  SDL_SetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT, "1");
  video.failed = true;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    ReportNoDisplay(std::string("SDL's video did not start (") + SDL_GetError() + ")");
    return false;
  }
  // Where no display can be opened SDL falls back to a driver without one, on which a program
  // would run unseen until killed: such a driver is taken only when it is asked for by name.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (IsHeadlessDriver(driver) && !IsVideoDriverNamed(driver)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string why;
    if ((!x11 || !*x11) && (!wayland || !*wayland))
      why = "DISPLAY is not set";
    else
      why = std::string("the display ") + (x11 && *x11 ? x11 : wayland) + " cannot be opened";
    ReportNoDisplay(why, " (SDL_VIDEODRIVER=dummy runs without one)");
    return false;
  }
  video.failed = false;
  video.thread = std::this_thread::get_id();
  video.started.store(true);
  return true;
}

bool IsPlatformHeadless() {
  return !EnsurePlatformVideo() || IsHeadlessDriver(SDL_GetCurrentVideoDriver());
}

int GetSystemMetrics(int index) {
  int width, height, bits;
  GetCurrentDisplayMode(width, height, bits);
  switch (index) {
    case SM_CXSCREEN: return width;
    case SM_CYSCREEN: return height;
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT) {
  switch (action) {
    case SPI_SETSCREENSAVEACTIVE:
      if (!EnsurePlatformVideo()) return FALSE;
      if (uiParam)
        SDL_EnableScreenSaver();
      else
        SDL_DisableScreenSaver();
      return TRUE;
    case SPI_GETSCREENSAVEACTIVE:
      if (!pvParam || !EnsurePlatformVideo()) return FALSE;
      *static_cast<BOOL*>(pvParam) = SDL_IsScreenSaverEnabled() ? TRUE : FALSE;
      return TRUE;
    case SPI_GETFOREGROUNDLOCKTIMEOUT: {
      if (!pvParam) return FALSE;
      std::lock_guard lock(Display().mutex);
      *static_cast<DWORD*>(pvParam) = Display().foregroundLockTimeout;
      return TRUE;
    }
    case SPI_SETFOREGROUNDLOCKTIMEOUT: {
      std::lock_guard lock(Display().mutex);
      Display().foregroundLockTimeout = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pvParam));
      return TRUE;
    }
    case SPI_SETSCREENSAVERRUNNING: return TRUE;
    default: return FALSE;
  }
}

BOOL EnumDisplaySettingsA(LPCSTR, DWORD modeNumber, DEVMODEA* mode) {
  if (!mode) return FALSE;
  auto& display = Display();
  std::lock_guard lock(display.mutex);
  LearnDesktopLocked(display);
  if (!display.known) return FALSE;
  if (modeNumber == ENUM_CURRENT_SETTINGS) {
    FillMode(display.current, mode);
    return TRUE;
  }
  if (modeNumber >= display.modes.size()) return FALSE;
  FillMode(display.modes[modeNumber], mode);
  return TRUE;
}

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
  auto& display = Display();
  DisplayMode chosen;
  {
    std::lock_guard lock(display.mutex);
    LearnDesktopLocked(display);
    if (!display.known) return DISP_CHANGE_FAILED;
    if (!mode) {
      chosen = display.desktop;
    } else {
      DisplayMode wanted = display.current;
      if (mode->dmFields & DM_PELSWIDTH) wanted.width = static_cast<int>(mode->dmPelsWidth);
      if (mode->dmFields & DM_PELSHEIGHT) wanted.height = static_cast<int>(mode->dmPelsHeight);
      if (mode->dmFields & DM_BITSPERPEL) wanted.bits = static_cast<int>(mode->dmBitsPerPel);
      bool listed = false;
      for (const auto& m : display.modes)
        listed |= m.width == wanted.width && m.height == wanted.height && m.bits == wanted.bits;
      if (!listed) return DISP_CHANGE_BADMODE;
      chosen = wanted;
    }
    if (flags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;
    display.current = chosen;
  }
  std::vector<std::pair<HWND, bool>> topLevel;
  {
    std::lock_guard lock(State().mutex);
    auto queue = CurrentQueue();
    for (auto& [handle, record] : State().windows) {
      if (record->parent) continue;
      ApplySdlGeometry(*record);
      topLevel.emplace_back(record->handle, record->queue == queue);
    }
  }
  // Every change is announced, even to the same mode, so that a waiter for the change is never
  // left waiting.
  auto lParam = static_cast<LPARAM>(
      MAKELONG(static_cast<WORD>(chosen.width), static_cast<WORD>(chosen.height)));
  for (auto [window, own] : topLevel) {
    if (own)
      SendMessageA(window, WM_DISPLAYCHANGE, static_cast<WPARAM>(chosen.bits), lParam);
    else
      PostMessageA(window, WM_DISPLAYCHANGE, static_cast<WPARAM>(chosen.bits), lParam);
  }
  return DISP_CHANGE_SUCCESSFUL;
}
