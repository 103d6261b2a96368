// Entry points of user topics still being written: each does the least until its topic is built.
#include "platform/win32/user.h"

HWND GetDesktopWindow() {
  static char desktop;
  return reinterpret_cast<HWND>(&desktop);
}
