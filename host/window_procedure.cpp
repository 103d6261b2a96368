// EngineWindowProc: activation and deactivation with their device, movie and input consequences,
// painting, sizing that keeps the screen's aspect ratio, characters for text input, the Alt+Enter
// switch, display changes, and the close and destroy protocol.
#include <algorithm>

#include "graphics/graphics_inner.h"
#include "graphics/screen_mode.h"
#include "host/input.h"
#include "host/network.h"
#include "host/system_state.h"
#include "host/text_input.h"
#include "media/movie.h"
#include "media/sound_system.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/gdi.h"
#include "system/log.h"
#include "system/system_info.h"

namespace {

constexpr UINT kSocketMessage = 0x505;

void HandleActivation(HWND window, WPARAM wParam) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  int active = LOWORD(wParam) != 0;
  state.windowActive = active;
  if (state.creating == 1) return;
  bool windowed = settings.windowMode == 1;
  if (active) {
    MarkImeRestoreOnActivation();
    if (windowed) {
      if (IDirect3DDevice9* device = GetDirect3DDevice9()) {
        EndDeviceScene();
        if (FAILED(device->Present(nullptr, nullptr, nullptr, nullptr)))
          RebuildGraphicsDeviceAfterLoss();
      }
      if (!settings.runWhileInactive) ResumeSuspendedMovies();
      ReacquireInputDevices();
    } else if (state.running) {
      if (HIWORD(wParam) == 0) RebuildGraphicsDeviceAfterLoss();
      ResumeSuspendedMovies();
      ReacquireInputDevices();
    }
  } else {
    bool suspended = false;
    if (!windowed) {
      if (OsVersionCode() >= 0x108 || !IsDialogBoxModeOn()) {
        ChangeDisplaySettingsA(nullptr, 0);
        ShowWindow(window, SW_MINIMIZE);
      }
      if (IsFullScreenMode() && GetDirectDrawObject()) {
        EnableDesktopComposition(1);
        if (!GetDrawSettings()->graphReloadCallback && !settings.userWindow) {
          LogWriteText("復元関数が登録されていないため終了します\n");
          if (!state.closeRequested) {
            state.closeRequested = 1;
            PostMessageA(settings.mainWindow, WM_CLOSE, 0, 0);
          }
          return;
        }
        SuspendAllMovies();
        suspended = true;
      }
    }
    if (!suspended) {
      if (!settings.runWhileInactive) SuspendAllMovies();
      ReacquireInputDevices();
    }
    if (settings.cursorClipping && state.cursorClipped) {
      ClipCursor(nullptr);
      state.cursorClipped = 0;
    }
    HDC dc = GetDC(window);
    DrawInactivePicture(dc);
    ReleaseDC(window, dc);
  }
  UpdateJoypadEffects();
  if (settings.activationCallback) settings.activationCallback(active, settings.activationData);
}

void HandlePaint(HWND window) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window, &paint);
  if (settings.windowMode == 1) {
    state.painting = 1;
    if (!state.windowActive && state.inactivePictureSet && !settings.runWhileInactive) {
      DrawInactivePicture(dc);
    } else if (!state.running && !settings.windowRegion) {
      HBRUSH brush = nullptr;
      if (settings.backgroundSet)
        brush = CreateSolidBrush(RGB(static_cast<BYTE>(settings.backgroundRed),
                                     static_cast<BYTE>(settings.backgroundGreen),
                                     static_cast<BYTE>(settings.backgroundBlue)));
      if (brush) {
        FillRect(dc, &paint.rcPaint, brush);
        DeleteObject(brush);
      } else {
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      }
    } else if (GetDrawSettings()->drawTarget == -2) {
      PresentFrameRect(&paint.rcPaint);
    }
    state.painting = 0;
  }
  EndPaint(window, &paint);
}

// The display-change mark is set for every WM_DISPLAYCHANGE, so that a window-mode change waiting
// for it always sees it.
void HandleDisplayChange(WPARAM wParam, LPARAM lParam) {
  SystemState& state = EngineState();
  state.displayChangeMark = 1;
  if (EngineSettings().windowMode != 1 || state.modeChangeInProgress) return;
  int depth = static_cast<int>(wParam);
  int width = LOWORD(static_cast<DWORD_PTR>(lParam));
  int height = HIWORD(static_cast<DWORD_PTR>(lParam));
  int screenWidth, screenHeight;
  GetScreenModeSize(&screenWidth, &screenHeight);
  int screenDepth = GetScreenColorBitDepth();
  if (depth == screenDepth && width == screenWidth && height == screenHeight) return;
  if (GetDrawSettings()->graphReloadCallback && depth != 24 && (depth != 8 || screenDepth == 8) &&
      width >= screenWidth && height >= screenHeight) {
    ResumeSuspendedMovies();
    return;
  }
  LogWriteText(
      "復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します\n");
  LogWriteText("またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\n");
  if (!state.closeRequested) {
    state.closeRequested = 1;
    PostMessageA(EngineSettings().mainWindow, WM_CLOSE, 0, 0);
  }
}

void HideCursorForMouse() {
  if (EngineState().currentCursorVisible) return;
  SetCursor(nullptr);
  while (ShowCursor(FALSE) >= 0) {
  }
}

void HandleCommand(WPARAM wParam) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  int id = LOWORD(wParam);
  if (id >= 0x500 && FindToolbarButton(id) >= 0) return;
  if (settings.menuCommandCallback) settings.menuCommandCallback(static_cast<WORD>(id));
  char name[129];
  if (settings.menuNameCallback && LookUpMenuItemName(id, name) == 0)
    settings.menuNameCallback(name, static_cast<WORD>(id));
  for (int i = 0; i < state.selectedCommandCount; ++i)
    if (state.selectedCommands[i] == id) return;
  if (state.selectedCommandCount < 64) state.selectedCommands[state.selectedCommandCount++] = id;
}

}  // namespace

void ApplySizingRule(WPARAM edge, RECT* drag) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  RECT windowRect{}, client{};
  GetWindowRect(settings.mainWindow, &windowRect);
  GetClientRect(settings.mainWindow, &client);
  int frameWidth = (windowRect.right - windowRect.left) - client.right;
  int frameHeight = (windowRect.bottom - windowRect.top) - client.bottom;
  int screenWidth, screenHeight;
  GetScreenModeSize(&screenWidth, &screenHeight);
  if (screenWidth <= 0 || screenHeight <= 0) return;
  int maxWidth = state.desktopWidth - frameWidth;
  int maxHeight = state.desktopHeight - frameHeight;
  int width = std::min<int>(drag->right - drag->left - frameWidth, maxWidth);
  int height = std::min<int>(drag->bottom - drag->top - frameHeight, maxHeight);
  if (settings.fixedSize || settings.clientSizeSet) {
    double scaleX, scaleY;
    GetWindowScaleFactors(&scaleX, &scaleY);
    width = std::min(width, static_cast<int>(screenWidth * scaleX));
    height = std::min(height, static_cast<int>(screenHeight * scaleY));
    drag->right = drag->left + frameWidth + width;
    drag->bottom = drag->top + frameHeight + height;
    return;
  }
  auto heightFollows = [&] { height = std::min(width * screenHeight / screenWidth, maxHeight); };
  auto widthFollows = [&] { width = std::min(height * screenWidth / screenHeight, maxWidth); };
  switch (edge) {
    case WMSZ_LEFT:
    case WMSZ_RIGHT: heightFollows(); break;
    case WMSZ_TOP:
    case WMSZ_BOTTOM: widthFollows(); break;
    case WMSZ_TOPLEFT:
    case WMSZ_TOPRIGHT:
    case WMSZ_BOTTOMLEFT:
    case WMSZ_BOTTOMRIGHT:
      if (static_cast<double>(height) / screenHeight < static_cast<double>(width) / screenWidth)
        heightFollows();
      else
        widthFollows();
      break;
    default:
      settings.scaleX = settings.scaleY = static_cast<double>(client.right) / screenWidth;
      return;
  }
  drag->right = drag->left + frameWidth + width;
  drag->bottom = drag->top + frameHeight + height;
  settings.scaleX = settings.scaleY = static_cast<double>(width) / screenWidth;
}

LRESULT CALLBACK EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  LRESULT userResult = 0;
  if (settings.userWindow && settings.userWindowProc)
    userResult = CallWindowProcA(settings.userWindowProc, window, message, wParam, lParam);
  if (settings.userMessageHook) settings.userMessageHook(window, message, wParam, lParam);
  bool windowed = settings.windowMode == 1;
  switch (message) {
    case WM_CREATE:
      if (settings.windowRegion) SetWindowRgn(window, settings.windowRegion, FALSE);
      break;
    case WM_MOVE:
      GetWindowRect(window, &state.windowRect);
      if (windowed && !state.modeChangeInProgress) UpdateClientScreenRect(lParam);
      break;
    case WM_SIZE:
      GetWindowRect(window, &state.windowRect);
      // Maximising asks for full screen where switching is allowed; elsewhere it re-fits.
      if (wParam == SIZE_MAXIMIZED && settings.modeSwitchAllowed) {
        if (!state.modeChangeInProgress && !state.creating && windowed) state.pendingModeSwitch = 1;
      } else {
        FitWindowToScreen();
      }
      break;
    case WM_ACTIVATEAPP:
      if (wParam == 0) HandleActivation(window, 0);
      break;
    case WM_ACTIVATE: HandleActivation(window, wParam); break;
    case WM_PAINT: HandlePaint(window); return settings.userWindow ? userResult : 0;
    case WM_CLOSE:
      if (settings.userWindow) break;
      LogWriteText("ウインドウを閉じようとしています\n");
      if (!settings.keepWindowOnClose || state.ending == 1)
        DestroyWindow(settings.mainWindow ? settings.mainWindow : window);
      if (state.ending == 0) state.ending = 4;
      return 0;
    case WM_DESTROY:
      if (settings.userWindow) break;
      LogWriteText("ウインドウが破棄されようとしています\n");
      state.windowDestroyed = 1;
      if (!settings.noQuitMessageOnDestroy) PostQuitMessage(0);
      state.quit = 1;
      LogWriteText("ソフトを終了する準備が整いました\n");
      break;
    case WM_SETCURSOR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: HideCursorForMouse(); break;
    case WM_DISPLAYCHANGE: HandleDisplayChange(wParam, lParam); break;
    case WM_NCHITTEST:
      if (!windowed && IsDialogBoxModeOn() &&
          static_cast<SHORT>(HIWORD(static_cast<DWORD_PTR>(lParam))) < 8)
        return HTMENU;
      break;
    case WM_KEYDOWN:
      if (!IsTypedCharacterBufferFull()) {
        if (int code = LookUpKeyControlCode(static_cast<int>(wParam))) PushTypedCharacter(code);
      }
      break;
    case WM_CHAR: {
      int c = static_cast<int>(wParam);
      if (c == 10)
        PushTypedCharacter(13);
      else if (c >= 32 || c == 1 || c == 3 || c == 8 || c == 9 || c == 13 || c == 16 || c == 22 ||
               c == 24 || c == 27)
        PushTypedCharacter(c);
      break;
    }
    case WM_SYSCHAR:
      if (wParam == 13 && settings.modeSwitchAllowed) {
        state.pendingModeSwitch = 1;
        return 0;
      }
      break;
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_SETCONTEXT:
    case WM_IME_NOTIFY: return HandleImeMessage(window, message, wParam, lParam);
    case WM_COMMAND: HandleCommand(wParam); break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_KEYMENU && settings.systemKeySuppression) return 0;
      if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER) return 1;
      break;
    case WM_SIZING:
      if (windowed && !settings.userWindow)
        ApplySizingRule(wParam, reinterpret_cast<RECT*>(lParam));
      break;
    case WM_MOVING:
      if (!windowed) GetWindowRect(window, reinterpret_cast<RECT*>(lParam));
      break;
    case MM_MCINOTIFY: HandleMidiMciNotify(); break;
    case kSocketMessage: return HandleSocketMessage(wParam, lParam);
    default: break;
  }
  if (settings.userWindow) return userResult;
  return DefWindowProcA(window, message, wParam, lParam);
}
