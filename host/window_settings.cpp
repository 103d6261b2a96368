// Settings made on the main window before or after the start, and the operations that change it
// at run time: the switch between window and full-screen mode, the window style of each mode,
// title, icon, run-while-inactive, desktop composition, the cursor, the clipboard, and the menu,
// toolbar and dropped-file facilities that this program leaves unused.
#include <cstring>

#include "graphics/graphics_inner.h"
#include "graphics/screen_mode.h"
#include "host/host.h"
#include "host/system_state.h"
#include "platform/win32/kernel.h"
#include "platform/winmm/winmm.h"
#include "system/log.h"
#include "system/system.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

bool HasEngineWindow() {
  return EngineSettings().mainWindow && !EngineSettings().userWindow &&
         IsWindow(EngineSettings().mainWindow);
}

// Whether the requested full-screen size is one of the display modes; a 320 x 240 request without
// the software setting becomes a doubled 640 x 480 mode.
bool AcceptFullScreenSize() {
  int width, height;
  GetScreenModeSize(&width, &height);
  int count = GetDisplayModeCount();
  for (int i = 0; i < count; ++i) {
    int modeWidth = 0, modeHeight = 0, bits = 0;
    GetDisplayModeAt(i, &modeWidth, &modeHeight, &bits);
    if (modeWidth == width && modeHeight == height) return true;
  }
  if (width == 320 && height == 240 && !GetSoftwareRenderingSetting()) {
    SetScreen320x240Emulation(1);
    SetScreenModeSize(640, 480);
    return true;
  }
  return false;
}

}  // namespace

int ChangeWindowMode(int windowMode) {
  LogWriteText("ChangeWindowMode実行 \n");
  // The configuration's byte may hold any value: anything but 0 is window mode.
  int windowed = windowMode != 0 ? 1 : 0;
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  if (settings.windowMode == windowed) return 0;
  bool haveWindow = HasEngineWindow();
  if (windowed == 0 && haveWindow && !AcceptFullScreenSize()) return -1;
  state.visibleStyle = 1;
  state.displayChangeMark = 0;
  StoreWindowModeSetting(windowed);
  if (!haveWindow) return 0;
  state.modeChangeInProgress = 1;
  ApplyWindowStyle();
  int result = ChangeScreenMode(-1, -1, -1, 1, -1);
  // The layer announces every display change, but a screen change that needs none must not
  // hold the program: the wait is bounded to two seconds.
  DWORD start = timeGetTime();
  while (!state.displayChangeMark && timeGetTime() - start < 2000) {
    if (PumpWindowMessages() != 0) break;
    if (!state.displayChangeMark) Sleep(1);
  }
  state.modeChangeInProgress = 0;
  if (windowed == 0) state.pointerNearTop = 0;
  return result;
}

int StoreWindowModeSetting(int windowed) {
  PreInitSettings& settings = EngineSettings();
  settings.windowMode = windowed;
  LogWriteText(windowed ? "ウインドウモードフラグが立てられました\n"
                        : "ウインドウモードフラグが倒されました\n");
  if (settings.menuOn && settings.mainWindow)
    SetMenu(settings.mainWindow, windowed ? settings.menu : nullptr);
  return 0;
}

int ApplyWindowStyle() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  HWND window = settings.mainWindow;
  if (!window || settings.userWindow) return 0;
  DWORD style, exStyle;
  if (settings.windowMode == 1) {
    LogWriteText("ウインドウスタイルをウインドウモード用に変更します... ");
    ComputeWindowStyles(1, &style, &exStyle);
    SetWindowLongPtrA(window, GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
    SetWindowLongPtrA(window, GWL_STYLE, static_cast<LONG_PTR>(style));
    int width, height;
    WindowClientSize(&width, &height);
    RECT rect{0, 0, width, height + GetToolbarHeight()};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    int windowWidth = rect.right - rect.left;
    int windowHeight = rect.bottom - rect.top;
    int x = (state.desktopWidth - windowWidth) / 2;
    int y = (state.desktopHeight - windowHeight) / 2;
    if (settings.positionSet == 1) {
      x = settings.windowX;
      y = settings.windowY;
    }
    SetWindowPos(window, HWND_NOTOPMOST, x, y, windowWidth, windowHeight, 0);
    RecordClientScreenRect();
    const RECT& client = state.clientScreenRect;
    if (client.left < 0 || client.top < 0) {
      x -= client.left < 0 ? client.left : 0;
      y -= client.top < 0 ? client.top : 0;
      SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      RecordClientScreenRect();
    }
    SetCursorVisible(1);
  } else {
    LogWriteText("ウインドウスタイルをフルスクリーンモード用に変更します... ");
    ComputeWindowStyles(0, &style, &exStyle);
    SetWindowLongPtrA(window, GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
    SetWindowLongPtrA(window, GWL_STYLE, static_cast<LONG_PTR>(style));
    int width, height;
    GetScreenModeSize(&width, &height);
    state.clientScreenRect = RECT{0, 0, width, height};
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, width, height, 0);
    SetCursorVisible(0);
  }
  LogWriteText("完了\n");
  SetActiveWindow(window);
  PostMessageA(window, WM_SETCURSOR, 0, 0);
  return 0;
}

int EnableDesktopComposition(int on) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  int off = on == 0 ? 1 : 0;
  if (off == state.desktopCompositionOff) return 0;
  if (auto enable = reinterpret_cast<HRESULT (*)(UINT)>(settings.dwmEnableComposition))
    enable(on ? 1 : 0);
  state.desktopCompositionOff = off;
  return 0;
}

int SetWindowTitle(const char* title) {
  PreInitSettings& settings = EngineSettings();
  CopyStringMax(settings.windowTitle, title ? title : "", 255);
  if (settings.mainWindow) SetWindowTextA(settings.mainWindow, settings.windowTitle);
  return 0;
}

int SetWindowIconResource(int resourceId) {
  PreInitSettings& settings = EngineSettings();
  settings.iconResourceId = resourceId;
  if (settings.mainWindow) {
    HICON icon = LoadIconA(EngineState().instance,
                           MAKEINTRESOURCEA(static_cast<WORD>(resourceId ? resourceId : 32512)));
    SetClassLongPtrA(settings.mainWindow, GCL_HICON, reinterpret_cast<LONG_PTR>(icon));
  }
  return 0;
}

int SetRunWhileInactive(int enabled) {
  EngineSettings().runWhileInactive = enabled;
  return 0;
}

int SetCursorVisible(int visible) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  if (visible != -1) state.requestedCursorVisible = visible;
  int show =
      state.requestedCursorVisible == 1 ||
      (settings.mainWindow && settings.menuOn && !settings.menuHidden &&
       (settings.menuAutoDisplayOff == 1 || settings.windowMode == 1 || state.pointerNearTop != 0));
  if (show != state.currentCursorVisible || visible == -1) {
    if (show) {
      while (ShowCursor(TRUE) < 0) {
      }
    } else {
      while (ShowCursor(FALSE) >= 0) {
      }
    }
    if (settings.mainWindow) PostMessageA(settings.mainWindow, WM_SETCURSOR, 0, 0);
    state.currentCursorVisible = show;
  }
  return 0;
}

int ReadMousePosition(int* x, int* y) {
  SystemState& state = EngineState();
  POINT cursor{};
  GetCursorPos(&cursor);
  int mouseX = cursor.x, mouseY = cursor.y;
  if (EngineSettings().windowMode == 1) {
    double scaleX, scaleY;
    GetWindowScaleFactors(&scaleX, &scaleY);
    mouseX = static_cast<int>((cursor.x - state.clientScreenRect.left) / scaleX);
    mouseY =
        static_cast<int>((cursor.y - state.clientScreenRect.top - GetToolbarHeight()) / scaleY);
  }
  if (x) *x = mouseX;
  if (y) *y = mouseY;
  return 0;
}

int ReadClipboardText(char* buffer, int bufferSize) {
  if (!OpenClipboard(EngineSettings().mainWindow)) return -1;
  HANDLE data = IsClipboardFormatAvailable(CF_TEXT) ? GetClipboardData(CF_TEXT) : nullptr;
  if (!data) {
    CloseClipboard();
    return -1;
  }
  int result = 0;
  if (!buffer) {
    result = static_cast<int>(GlobalSize(data)) + 1;
  } else if (bufferSize > 0) {
    CopyStringMax(buffer, static_cast<const char*>(GlobalLock(data)), bufferSize - 1);
    GlobalUnlock(data);
  }
  CloseClipboard();
  return result;
}

int WriteClipboardText(const char* text) {
  if (!text) return 0;
  std::size_t length = std::strlen(text);
  HGLOBAL memory = GlobalAlloc(GMEM_FIXED, length + 1);
  if (!memory) return 0;
  std::memcpy(GlobalLock(memory), text, length + 1);
  GlobalUnlock(memory);
  if (OpenClipboard(EngineSettings().mainWindow)) {
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
    CloseClipboard();
  } else {
    GlobalFree(memory);
  }
  return 0;
}

int CollectMenuItems(HMENU menu) {
  int count = GetMenuItemCount(menu);
  if (count < 0) return -1;
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item)) return -1;
    if (item.hSubMenu && CollectMenuItems(item.hSubMenu) != 0) return -1;
  }
  return 0;
}

// The layer makes no menus, so no item is ever listed.
int LookUpMenuItemName(int, char*) { return -1; }

int IsMenuBarWanted() {
  const PreInitSettings& settings = EngineSettings();
  return settings.mainWindow && settings.menuOn && !settings.menuHidden &&
         (settings.menuAutoDisplayOff == 1 || settings.windowMode == 1 ||
          EngineState().pointerNearTop != 0);
}

int ShowMenuBar(int show) {
  PreInitSettings& settings = EngineSettings();
  if (!settings.menuOn) return 0;
  int before = IsMenuBarWanted();
  settings.menuHidden = show == 0;
  if (settings.mainWindow && IsMenuBarWanted() != before) {
    SetMenu(settings.mainWindow, IsMenuBarWanted() ? settings.menu : nullptr);
    EngineState().menuShown = IsMenuBarWanted();
    if (settings.windowMode == 1) ApplyWindowStyle();
    UpdateWindow(settings.mainWindow);
  }
  return 0;
}

// Only a menu needs the pointer-near-top watch: without one there is nothing to show.
int UpdateMenuAutoDisplay() {
  const PreInitSettings& settings = EngineSettings();
  if (settings.windowMode == 1 || !settings.menuOn) return 0;
  int x, y;
  ReadMousePosition(&x, &y);
  if (IsDialogBoxModeOn()) {
    if (!EngineState().menuShown) ShowMenuBar(!settings.menuHidden);
    if (y > 60) SetCursorVisible(-1);
    return 0;
  }
  EngineState().pointerNearTop = y < 60;
  SetCursorVisible(-1);
  ShowMenuBar(!settings.menuHidden);
  return 0;
}

// No function of this program creates a toolbar.
int FindToolbarButton(int) { return -1; }
int GetToolbarHeight() { return 0; }
int RemoveToolbarButtons() { return -1; }

int ClearDroppedFiles() {
  SystemState& state = EngineState();
  for (int i = 0; i < state.droppedFileCount; ++i) {
    TrackedFree(state.droppedFiles[i]);
    state.droppedFiles[i] = nullptr;
  }
  state.droppedFileCount = 0;
  return 0;
}

int SetDoubleStartAllowed(int allowed) {
  EngineSettings().doubleStartAllowed = allowed;
  return 0;
}

int SetWindowModeSwitchAllowed(int allowed, void (*callback)(void* data), void* data) {
  PreInitSettings& settings = EngineSettings();
  settings.modeSwitchAllowed = allowed;
  settings.modeSwitchCallback = callback;
  settings.modeSwitchData = data;
  return 0;
}

int SetUserMessageHook(UserMessageHook hook) {
  EngineSettings().userMessageHook = hook;
  return 0;
}

int SetWindowStyleNumber(int number) {
  if (number < 0 || number > 10) return -1;
  EngineSettings().windowStyleNumber = number;
  return 0;
}

int SetEngineSubsystemSwitches(int noWindow, int noGraphics, int noSound, int noInput) {
  PreInitSettings& settings = EngineSettings();
  settings.noWindow = noWindow;
  settings.noGraphics = noGraphics;
  settings.noSound = noSound;
  settings.noInput = noInput;
  return 0;
}
