// The main window: the second-copy test, class registration and creation with the style table,
// fitting the window to the screen size, bringing it to the foreground, destroying it at the end,
// and the window queries the rest of the engine makes.
#include <cstring>

#include "graphics/graphics_inner.h"
#include "graphics/screen_mode.h"
#include "host/system_state.h"
#include "host/text_input.h"
#include "platform/win32/gdi.h"
#include "platform/win32/kernel.h"
#include "platform/winmm/winmm.h"
#include "system/log.h"
#include "system/system_info.h"

namespace {

struct StyleRow {
  DWORD style;
  DWORD exStyle;
  DWORD fullStyle;
  DWORD fullExStyle;
};

constexpr DWORD kCaptioned = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kEdges = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;
constexpr StyleRow kStyleTable[11] = {
    {kCaptioned, kEdges, WS_POPUP, WS_EX_TOPMOST},
    {WS_POPUP | WS_SYSMENU, kEdges, WS_POPUP, WS_EX_TOPMOST},
    {WS_POPUP | WS_SYSMENU, 0, WS_POPUP, WS_EX_TOPMOST},
    {kCaptioned, WS_EX_TOOLWINDOW, WS_POPUP, WS_EX_TOPMOST},
    {WS_POPUP | WS_SYSMENU, WS_EX_TOOLWINDOW, WS_POPUP, WS_EX_TOPMOST},
    {WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {kCaptioned, kEdges, WS_POPUP, WS_EX_TOPMOST},
    {kCaptioned | WS_MAXIMIZEBOX, kEdges, WS_POPUP, WS_EX_TOPMOST},
    {kCaptioned | WS_MAXIMIZEBOX | WS_MAXIMIZE, kEdges, WS_POPUP, WS_EX_TOPMOST},
    {kCaptioned, WS_EX_WINDOWEDGE, WS_POPUP, WS_EX_TOPMOST},
    {0, 0, 0, 0},
};

int TruncateScaled(int size, double factor) { return static_cast<int>(size * factor); }

}  // namespace

void ComputeWindowStyles(int windowed, DWORD* style, DWORD* exStyle) {
  const PreInitSettings& settings = EngineSettings();
  int number = settings.windowStyleNumber;
  if (number < 0 || number > 10) number = 0;
  const StyleRow& row = kStyleTable[number];
  if (!windowed) {
    *style = row.fullStyle;
    *exStyle = row.fullExStyle;
    return;
  }
  *exStyle = row.exStyle | (settings.hiddenWindow ? WS_EX_TRANSPARENT : 0) |
             (settings.layeredWindow ? WS_EX_LAYERED : 0);
  *style = row.style | (settings.modeSwitchAllowed ? WS_MAXIMIZEBOX : 0) |
           (EngineState().visibleStyle ? WS_VISIBLE : 0) | (settings.resizable ? WS_THICKFRAME : 0);
}

void WindowClientSize(int* width, int* height) {
  const PreInitSettings& settings = EngineSettings();
  double scaleX, scaleY;
  GetWindowScaleFactors(&scaleX, &scaleY);
  int screenWidth, screenHeight;
  GetScreenModeSize(&screenWidth, &screenHeight);
  *width = TruncateScaled(screenWidth, scaleX);
  *height = TruncateScaled(screenHeight, scaleY);
  if (settings.clientSizeSet == 1) {
    *width = settings.clientWidth;
    *height = settings.clientHeight;
  }
}

void RecordClientScreenRect() {
  SystemState& state = EngineState();
  RECT client{};
  if (!GetClientRect(EngineSettings().mainWindow, &client)) return;
  POINT topLeft{client.left, client.top};
  POINT bottomRight{client.right, client.bottom};
  ClientToScreen(EngineSettings().mainWindow, &topLeft);
  ClientToScreen(EngineSettings().mainWindow, &bottomRight);
  state.clientScreenRect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

int CreateEngineWindow() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  settings.mainWindow = nullptr;
  LogWriteText("ソフトの二重起動検査... ");
  if (FindWindowA(settings.className, nullptr)) {
    if (!settings.doubleStartAllowed) {
      LogWriteText("二重起動されています、ソフトを終了します\n");
      state.quit = 1;
      return -1;
    }
    LogWriteText("二重起動されていますが続行します\n");
  } else {
    LogWriteText("二重起動はされていませんでした\n");
  }
  if (settings.menuOn) CollectMenuItems(settings.menu);

  bool windowed = settings.windowMode == 1;
  if (settings.userWindow) {
    settings.mainWindow = settings.userWindow;
    settings.userWindowProc =
        reinterpret_cast<WNDPROC>(GetWindowLongPtrA(settings.userWindow, GWL_WNDPROC));
    SetWindowLongPtrA(settings.userWindow, GWL_WNDPROC,
                      reinterpret_cast<LONG_PTR>(EngineWindowProc));
  } else {
    state.creating = 1;
    LogWriteText("ウインドウクラスを登録します... ");
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = EngineWindowProc;
    windowClass.hInstance = state.instance;
    windowClass.hIcon =
        LoadIconA(state.instance, MAKEINTRESOURCEA(static_cast<WORD>(
                                      settings.iconResourceId ? settings.iconResourceId : 32512)));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = settings.className;
    if (RegisterClassExA(&windowClass))
      LogWriteText("登録に成功しました\n");
    else
      state.quit = 1;

    if (settings.windowTitle[0] == '\0') std::strcpy(settings.windowTitle, "ZiRor");
    HWND window;
    if (windowed) {
      LogWriteText("ウインドウモード起動用のウインドウを作成します\n");
      DWORD style, exStyle;
      ComputeWindowStyles(1, &style, &exStyle);
      state.requestedCursorVisible = 1;
      int width, height;
      WindowClientSize(&width, &height);
      RECT rect{0, 0, width, height};
      AdjustWindowRectEx(&rect, style, FALSE, exStyle);
      state.captionOffset = -rect.top;
      int windowWidth = rect.right - rect.left;
      int windowHeight = rect.bottom - rect.top;
      int x = (state.desktopWidth - windowWidth) / 2;
      int y = (state.desktopHeight - windowHeight) / 2;
      if (settings.positionSet == 1) {
        x = settings.windowX;
        y = settings.windowY;
      }
      window = CreateWindowExA(exStyle, settings.className, settings.windowTitle, style, x, y,
                               windowWidth, windowHeight, nullptr, settings.menu, state.instance,
                               nullptr);
    } else {
      LogWriteText("フルスクリーンモード用のウインドウを作成します\n");
      state.requestedCursorVisible = 0;
      DWORD style, exStyle;
      ComputeWindowStyles(0, &style, &exStyle);
      int width, height;
      GetScreenModeSize(&width, &height);
      window = CreateWindowExA(exStyle, settings.className, settings.windowTitle, style, 0, 0,
                               width, height, nullptr, nullptr, state.instance, nullptr);
    }
    if (!window) {
      state.quit = 1;
      state.creating = 0;
      LogWriteText("ウインドウの作成に失敗しました\n");
      return -1;
    }
    settings.mainWindow = window;
    LogWriteText("ウインドウの作成に成功しました\n");
    if (settings.hiddenWindow) {
      ShowWindow(window, SW_HIDE);
    } else {
      ShowWindow(window, SW_SHOW);
      UpdateWindow(window);
    }
  }

  state.closeRequested = 0;
  state.windowDestroyed = 0;
  state.windowActive = 1;
  if (!windowed) {
    LogWriteText("カーソルを不可視にしました\n");
    SetCursor(nullptr);
  }
  LogWriteText("ＩＭＥを無効にしました\n");
  if (auto enableIme = reinterpret_cast<BOOL (*)(HWND, BOOL)>(settings.winnlsEnableIme);
      enableIme && !IsImeUseOn())
    enableIme(settings.mainWindow, FALSE);
  if (windowed) RecordClientScreenRect();
  SetCursorVisible(state.requestedCursorVisible);
  state.ending = 0;
  if (settings.userWindow) return 0;
  if (!settings.hiddenWindow) {
    BringWindowToTop(settings.mainWindow);
    FitWindowToScreen();
  }
  state.creating = 0;
  return 0;
}

int FitWindowToScreen() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  if (settings.userWindow || !settings.mainWindow) return 0;
  double scaleX, scaleY;
  GetWindowScaleFactors(&scaleX, &scaleY);
  int screenWidth, screenHeight;
  GetScreenModeSize(&screenWidth, &screenHeight);
  int targetWidth = TruncateScaled(screenWidth, scaleX);
  int targetHeight = TruncateScaled(screenHeight, scaleY);
  RECT windowRect{}, client{};
  GetWindowRect(settings.mainWindow, &windowRect);
  if (!GetClientRect(settings.mainWindow, &client)) return 0;
  state.clientScreenRect.right = state.clientScreenRect.left + client.right;
  state.clientScreenRect.bottom = state.clientScreenRect.top + client.bottom;

  int width = targetWidth;
  int height = targetHeight;
  if (settings.fixedSize || settings.clientSizeSet) {
    width = settings.clientSizeSet == 1 ? settings.clientWidth : client.right;
    height = settings.clientSizeSet == 1 ? settings.clientHeight : client.bottom;
    if (width > targetWidth) width = targetWidth;
    if (height > targetHeight) height = targetHeight;
    if (settings.fixedSize == 1 && settings.clientSizeSet == 1 && !settings.initialising)
      settings.clientSizeSet = 0;
  }
  int frameWidth = (windowRect.right - windowRect.left) - client.right;
  int frameHeight = (windowRect.bottom - windowRect.top) - client.bottom;
  RECT rect{windowRect.left, windowRect.top, windowRect.left + frameWidth + width,
            windowRect.top + frameHeight + height + GetToolbarHeight()};
  if (settings.positionSet == 1) {
    rect.right += settings.windowX - rect.left;
    rect.bottom += settings.windowY - rect.top;
    rect.left = settings.windowX;
    rect.top = settings.windowY;
    if (!settings.initialising) settings.positionSet = 0;
  }
  if (settings.layeredWindow) {
    rect.right = rect.left + screenWidth;
    rect.bottom = rect.top + screenHeight + state.captionOffset;
  }
  MoveWindow(settings.mainWindow, rect.left, rect.top, rect.right - rect.left,
             rect.bottom - rect.top, TRUE);
  if (settings.windowMode == 1 && !state.visibleStyle) {
    state.visibleStyle = 1;
    ApplyWindowStyle();
  }
  return 0;
}

int UpdateClientScreenRect(LPARAM movePosition) {
  if (EngineSettings().userWindow) return 0;
  SystemState& state = EngineState();
  RECT client{};
  GetClientRect(EngineSettings().mainWindow, &client);
  LONG x = static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(movePosition)));
  LONG y = static_cast<SHORT>(HIWORD(static_cast<DWORD_PTR>(movePosition)));
  state.clientScreenRect = RECT{x, y, x + client.right, y + client.bottom};
  DrawSettings* draw = GetDrawSettings();
  if (draw->drawTarget == -4) {
    int maskUse = GetMaskUseFlag();
    SetMaskUseFlag(0);
    SetMaskUseFlag(maskUse);
  }
  SetDrawClipRect(draw->drawArea.left, draw->drawArea.top, draw->drawArea.right,
                  draw->drawArea.bottom);
  return 0;
}

int GetClientScreenRect(RECT* rect) {
  if (!rect) return 0;
  *rect = EngineState().clientScreenRect;
  int toolbar = GetToolbarHeight();
  rect->top += toolbar;
  rect->bottom += toolbar;
  return 0;
}

void ForceWindowForeground(HWND window, int topmost) {
  DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
  AttachThreadInput(windowThread, foregroundThread, TRUE);
  DWORD saved = 0;
  SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &saved, 0);
  SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
  SetForegroundWindow(window);
  SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                        reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(saved)), 0);
  AttachThreadInput(windowThread, foregroundThread, FALSE);
  if (topmost == 1)
    SetWindowPos(EngineSettings().mainWindow, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
}

int DrawInactivePicture(HDC) {
  if (EngineState().ending == 1) return 0;
  // This program never sets an inactive picture.
  if (!EngineState().inactivePictureSet) return -1;
  return 0;
}

int DestroyEngineWindow() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDWININICHANGE);
  if (settings.noWindow) {
    state.quit = 1;
  } else if (settings.mainWindow) {
    if (auto enableIme = reinterpret_cast<BOOL (*)(HWND, BOOL)>(settings.winnlsEnableIme))
      enableIme(settings.mainWindow, TRUE);
    state.requestedCursorVisible = 1;
    if (!state.currentCursorVisible) {
      while (ShowCursor(TRUE) < 0) {
      }
      PostMessageA(settings.mainWindow, WM_SETCURSOR, 0, 0);
      state.currentCursorVisible = 1;
    }
    if (settings.menuOn && settings.menu) {
      DestroyMenu(settings.menu);
      settings.menu = nullptr;
    }
    if (settings.userWindow) {
      SetWindowLongPtrA(settings.userWindow, GWL_WNDPROC,
                        reinterpret_cast<LONG_PTR>(settings.userWindowProc));
      state.quit = 1;
    } else {
      if (!state.closeRequested) {
        state.closeRequested = 1;
        PostMessageA(settings.mainWindow, WM_CLOSE, 0, 0);
      }
      // Bounded: a window that will not close must not hold the end of the program.
      for (int pass = 0; pass < 1000 && !state.windowDestroyed && IsWindow(settings.mainWindow);
           ++pass) {
        if (PumpWindowMessages() != 0) break;
        Sleep(1);
      }
      UnregisterClassA(settings.className, state.instance);
    }
    DeleteAllKeyInputs();
    ClearDroppedFiles();
  }
  LowerTimerPeriod();
  DeleteLayeredWindowDib();
  return 0;
}

int IsQuitRequested() { return EngineState().quit; }
int IsEngineRunning() { return EngineState().running; }
int IsEngineInitialising() { return EngineSettings().initialising; }
HWND GetEngineWindowHandle() { return EngineSettings().mainWindow; }
HINSTANCE GetEngineModuleInstance() { return EngineState().instance; }
DWORD GetEngineMainThreadId() { return EngineState().mainThreadId; }
int IsWindowedMode() { return EngineSettings().windowMode; }
int IsWindowActive() { return EngineState().windowActive; }
int GetRunWhileInactive() { return EngineSettings().runWhileInactive; }
int IsCloseRequested() { return EngineState().closeRequested; }
int IsWindowModeChangeInProgress() { return EngineState().modeChangeInProgress; }

int GetDesktopSizeAndBits(int* width, int* height, int* bits) {
  const SystemState& state = EngineState();
  int w = state.desktopWidth, h = state.desktopHeight, b = state.desktopBits;
  if (!state.running) {
    w = GetSystemMetrics(SM_CXSCREEN);
    h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    b = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
  }
  if (width) *width = w;
  if (height) *height = h;
  if (bits) *bits = b;
  return 0;
}

double GetWindowScaleFactors(double* x, double* y) {
  PreInitSettings& settings = EngineSettings();
  if (settings.scaleX <= 0) settings.scaleX = 1;
  if (settings.scaleY <= 0) settings.scaleY = 1;
  double factorX = settings.windowMode ? settings.scaleX : 1;
  double factorY = settings.windowMode ? settings.scaleY : 1;
  if (x) *x = factorX;
  if (y) *y = factorY;
  return factorX;
}
