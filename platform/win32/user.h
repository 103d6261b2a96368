// The user part of the layer over SDL2: window classes and windows, one message queue per
// thread, window procedures, timers, keyboard state, cursor, clipboard, menus, message boxes,
// system metrics and display settings, and the controls with which tests drive it headless.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/win32/kernel.h"
#include "platform/win32/win32_types.h"

struct SDL_Window;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_DISPLAYCHANGE = 0x007E;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_IME_STARTCOMPOSITION = 0x010D;
constexpr UINT WM_IME_ENDCOMPOSITION = 0x010E;
constexpr UINT WM_IME_COMPOSITION = 0x010F;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_SIZING = 0x0214;
constexpr UINT WM_MOVING = 0x0216;
constexpr UINT WM_DROPFILES = 0x0233;
constexpr UINT WM_IME_SETCONTEXT = 0x0281;
constexpr UINT WM_IME_NOTIFY = 0x0282;
constexpr UINT MM_MCINOTIFY = 0x03B9;
constexpr UINT WM_USER = 0x0400;

constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;
constexpr WORD WA_INACTIVE = 0;
constexpr WORD WA_ACTIVE = 1;
constexpr WPARAM SC_CLOSE = 0xF060;
constexpr WPARAM SC_KEYMENU = 0xF100;
constexpr WPARAM SC_SCREENSAVE = 0xF140;
constexpr WPARAM SC_MONITORPOWER = 0xF170;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTMENU = 5;
// The edge being dragged in WM_SIZING.
constexpr WPARAM WMSZ_LEFT = 1;
constexpr WPARAM WMSZ_RIGHT = 2;
constexpr WPARAM WMSZ_TOP = 3;
constexpr WPARAM WMSZ_TOPLEFT = 4;
constexpr WPARAM WMSZ_TOPRIGHT = 5;
constexpr WPARAM WMSZ_BOTTOM = 6;
constexpr WPARAM WMSZ_BOTTOMLEFT = 7;
constexpr WPARAM WMSZ_BOTTOMRIGHT = 8;

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_LAYERED = 0x00080000;
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

constexpr int GWL_WNDPROC = -4;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;
constexpr int GCL_HICON = -14;

inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2));
// As the parent of CreateWindowExA: a window that only receives messages, with no SDL window.
inline HWND const HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3));
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};

// What WM_CREATE's lParam points to.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

inline LPCSTR MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(id));
}
inline LPCSTR const IDC_ARROW = MAKEINTRESOURCEA(32512);
inline LPCSTR const IDI_APPLICATION = MAKEINTRESOURCEA(32512);

// Window classes. Class names compare without regard to letter case, as on the platform.
ATOM RegisterClassExA(const WNDCLASSEXA* windowClass);
// Fails while a window of the class exists, and for a class that is not registered.
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
// GCL_HICON only; the windows of the class show the new icon at once.
ULONG_PTR SetClassLongPtrA(HWND window, int index, LONG_PTR value);
DWORD SetClassLongA(HWND window, int index, LONG value);
// Icons are found by resource id among the images the program registered (its resources), with
// the layer's own default picture under 32512 (IDI_APPLICATION) unless the program registered
// one; an unknown id or a named resource gives null, whatever the instance. A window shows its
// class's icon, the default one when the class has none. Cursors are tokens: the layer shows the
// system's pointer.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// A program's icon resource: width x height pixels 0xAARRGGBB, top row first (at most 256 x 256).
// Called before main by the program's compiled-in resources; a later call with the same id
// replaces the picture. 0, or -1 for a bad argument.
int RegisterPlatformIconResource(WORD id, int width, int height, const std::uint32_t* argb);

// Windows. A top-level window is an SDL window whose client area is the window (the layer's
// frame is 0, see AdjustWindowRectEx). The window procedure is called synchronously for
// WM_CREATE by CreateWindowExA, WM_DESTROY by DestroyWindow, WM_PAINT by UpdateWindow, and
// WM_MOVE and WM_SIZE by MoveWindow and SetWindowPos, the last two only when the position or
// the size really changes. A handle is never used again, so a stale handle fails quietly.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
// The layer's windows have no frame: the rectangle is left as it is.
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
// The title is the engine's code page; SDL sees it as UTF-8.
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR buffer, int size);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
BOOL BringWindowToTop(HWND window);
BOOL SetForegroundWindow(HWND window);
HWND GetForegroundWindow();
HWND SetActiveWindow(HWND window);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);
BOOL AttachThreadInput(DWORD attachThread, DWORD attachToThread, BOOL attach);
// Finds a top-level window by class (and title, when given) among this process's windows, and
// by class alone among other processes' windows: the second-copy test of a program. A window of
// another process is a handle of its own that no call of this process can use.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
// The desktop's window: a handle of its own that stands for the whole screen.
HWND GetDesktopWindow();
// Regions are not supported by the layer's windows: the call fails and the region stays the
// caller's.
int SetWindowRgn(HWND window, HANDLE region, BOOL redraw);

// Messages. Each thread has its own queue; SDL events become messages on the queue of the
// thread that owns their window, drained only on the thread that started SDL's video.
// Retrieval order: posted messages in order, then WM_QUIT, then WM_PAINT, then due WM_TIMER.
// The filter HWND(-1) takes only messages posted without a window.
BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove);
// 0 for WM_QUIT, else 1 (a bad window handle gives -1).
BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
// Key messages become WM_CHAR (Enter, Backspace, Tab, Escape, Ctrl with a letter) and Alt+Enter
// becomes WM_SYSCHAR 13; printable text arrives as WM_CHAR in the engine's code page from SDL's
// text events, a double-byte character as two messages, lead byte first.
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcA(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int TranslateAcceleratorA(HWND window, HACCEL table, LPMSG message);
BOOL IsDialogMessageA(HWND dialog, LPMSG message);
// Window timers: one WM_TIMER at most pending per timer, made when the timer is due; the same id
// replaces the timer; DestroyWindow kills them. With a procedure, DispatchMessageA calls it.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);

// Painting. The update rectangle is the whole client area whenever any part of it is invalid.
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

// Keyboard. Key states have bit 7 set while the key is down and bit 0 toggled by each press.
BOOL GetKeyboardState(BYTE* keyStates);
SHORT GetKeyState(int virtualKey);

// Cursor. The display count starts at 0 and the cursor shows while it is not negative.
int ShowCursor(BOOL show);
HCURSOR SetCursor(HCURSOR cursor);
BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);
BOOL ClipCursor(const RECT* rect);

// Clipboard: CF_TEXT in the engine's code page with CR LF; SDL's clipboard holds UTF-8 with LF.
constexpr UINT CF_TEXT = 1;
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
BOOL OpenClipboard(HWND owner);
BOOL CloseClipboard();
BOOL EmptyClipboard();
BOOL IsClipboardFormatAvailable(UINT format);
// The clipboard takes the block; the caller must not free it.
HANDLE SetClipboardData(UINT format, HANDLE data);
// The block belongs to the clipboard and stays valid until the clipboard is closed.
HANDLE GetClipboardData(UINT format);
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
SIZE_T GlobalSize(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);

// Menus. The layer has no way to make a menu, so a menu handle is always null: the calls fail
// or do nothing as the platform does for a window without a menu.
struct MENUITEMINFOA {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  LPSTR dwTypeData;
  UINT cch;
  HBITMAP hbmpItem;
};
BOOL SetMenu(HWND window, HMENU menu);
HMENU GetMenu(HWND window);
BOOL DestroyMenu(HMENU menu);
BOOL DrawMenuBar(HWND window);
int GetMenuItemCount(HMENU menu);
BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOA* info);
HMENU GetSubMenu(HMENU menu, int position);

// Message boxes: an SDL message box; headless (SDL's dummy or offscreen video), one line on
// standard error, "caption: text", in UTF-8. The result is IDOK.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// System metrics and settings. The screen is the current display mode (ChangeDisplaySettingsA).
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);
constexpr UINT SPI_GETSCREENSAVEACTIVE = 0x0010;
constexpr UINT SPI_SETSCREENSAVEACTIVE = 0x0011;
constexpr UINT SPI_SETSCREENSAVERRUNNING = 0x0061;
constexpr UINT SPI_GETFOREGROUNDLOCKTIMEOUT = 0x2000;
constexpr UINT SPI_SETFOREGROUNDLOCKTIMEOUT = 0x2001;
constexpr UINT SPIF_UPDATEINIFILE = 0x0001;
constexpr UINT SPIF_SENDWININICHANGE = 0x0002;
BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni);

// Display settings over the layer's list of modes: the desktop's size, 640 x 480, 800 x 600 and
// 1024 x 768, each at 32 and then 16 bits per pixel. A mode change does not change the real
// display: a full-screen window shows the mode scaled over the desktop. Every successful change
// delivers WM_DISPLAYCHANGE (wParam bits per pixel, lParam width and height) to every top-level
// window, sent to the caller's own windows and posted to the others.
struct DEVMODEA {
  char dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
};
constexpr DWORD DM_BITSPERPEL = 0x00040000;
constexpr DWORD DM_PELSWIDTH = 0x00080000;
constexpr DWORD DM_PELSHEIGHT = 0x00100000;
constexpr DWORD DM_DISPLAYFREQUENCY = 0x00400000;
constexpr DWORD ENUM_CURRENT_SETTINGS = 0xFFFFFFFF;
constexpr DWORD CDS_TEST = 0x00000002;
constexpr DWORD CDS_FULLSCREEN = 0x00000004;
constexpr LONG DISP_CHANGE_SUCCESSFUL = 0;
constexpr LONG DISP_CHANGE_FAILED = -1;
constexpr LONG DISP_CHANGE_BADMODE = -2;
BOOL EnumDisplaySettingsA(LPCSTR deviceName, DWORD modeNumber, DEVMODEA* mode);
LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags);

// Virtual-key codes the layer produces (letters and digits are their ASCII capitals).
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_F1 = 0x70;
constexpr int VK_F10 = 0x79;
constexpr int VK_LSHIFT = 0xA0;
constexpr int VK_RSHIFT = 0xA1;
constexpr int VK_LCONTROL = 0xA2;
constexpr int VK_RCONTROL = 0xA3;
constexpr int VK_LMENU = 0xA4;
constexpr int VK_RMENU = 0xA5;

// "User32.dll"'s IME switch: the layer has no IME of its own to switch, so it records the state and
// returns the one before. "dwmapi.dll"'s composition switch has nothing to switch either.
BOOL WINNLSEnableIME(HWND window, BOOL enable);
HRESULT DwmEnableComposition(UINT action);
// The entry points of "User32.dll" and "dwmapi.dll" for the module table.
std::span<const PlatformModuleEntry> User32ModuleEntries();
std::span<const PlatformModuleEntry> DwmapiModuleEntries();

// For the other stand-ins of the layer.
// The SDL window behind a top-level window (null for a bad handle), into which frames are shown.
SDL_Window* GetPlatformSDLWindow(HWND window);
// The icon a window shows (null: the default one) and the picture behind an icon handle.
HICON GetPlatformWindowIcon(HWND window);
bool GetPlatformIconImage(HICON icon, int* width, int* height, std::vector<std::uint32_t>* argb);
// The layer's window for an SDL window id (null when none).
HWND GetPlatformWindowFromSDL(unsigned sdlWindowId);
// The key-state table by SDL scancode (512 entries, 0x80 while down), updated as SDL's key events
// are drained by the message queue, so injected keys count like real ones.
constexpr int PlatformScancodeCount = 512;
const BYTE* GetPlatformScancodeStates();
// The keyboard as one poll sees it (512 entries): 0x80 for a key down now or pressed at any time
// since the previous poll, even if already released again.
void PollPlatformScancodeStates(BYTE* states);
// True when SDL's video runs without a display (dummy or offscreen driver).
bool IsPlatformHeadless();
// Starts SDL's video on first use; false when there is no display. A driver without one (dummy,
// offscreen) is taken only when SDL_VIDEODRIVER names it.
bool EnsurePlatformVideo();

// Test controls. The events go through SDL's own queue (SDL_PushEvent, safe from any thread) and
// become messages when the window's thread next looks at its queue.
// windowEvent is an SDL_WindowEventID (SDL_WINDOWEVENT_CLOSE, _FOCUS_GAINED, _MOVED, ...).
int InjectPlatformWindowEvent(HWND window, int windowEvent, int data1, int data2);
// A key by SDL scancode, with SDL's key code for it.
int InjectPlatformKey(HWND window, int scancode, bool down);
// Text typed into the window, UTF-8.
int InjectPlatformText(HWND window, const char* utf8);
// A composition of the input method, UTF-8 with its cursor in characters ("" ends it); committed
// text then comes as InjectPlatformText.
int InjectPlatformComposition(HWND window, const char* utf8, int cursor);
// Mouse motion to a client position.
int InjectPlatformMouseMove(HWND window, int x, int y);
// Whether FindWindowA sees other processes' windows: -1 (the default) when SDL's video has a
// display, 1 always, 0 never. Headless test processes run side by side without seeing each
// other's windows; a test of the second-copy check switches it on.
void SetPlatformWindowsSeenAcrossProcesses(int mode);
// Sets a key in the key-state tables at once, without a message.
void SetPlatformKeyState(int scancode, bool down);
