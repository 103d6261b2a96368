// The host call table's entries for a program without a host, and the fatal exit that goes
// through it.
#include "system/host_call_table.h"

#include <cstdarg>

#include "platform/win32/gdi.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"
#include "system/call_lock.h"
#include "system/log.h"

namespace {

int AnswerZero() { return 0; }
HWND NoWindow() { return nullptr; }
std::uint32_t NoBackground() { return 0; }
FARPROC NoModuleEntry(const char*, const char*) { return nullptr; }
int NoComposition(int) { return 0; }
void NoWait() {}
int NoClientArea(RECT* rect) {
  if (rect) *rect = RECT{};
  return 0;
}
int NoLayeredPresent(StandardImage*, HDC, int) { return -1; }

double UnitScale(double* x, double* y) {
  if (x) *x = 1;
  if (y) *y = 1;
  return 1;
}

// The desktop as the platform reports it.
int DesktopSizeAndBits(int* width, int* height, int* bits) {
  HDC screen = GetDC(nullptr);
  int depth = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  if (width) *width = GetSystemMetrics(SM_CXSCREEN);
  if (height) *height = GetSystemMetrics(SM_CYSCREEN);
  if (bits) *bits = depth;
  return 0;
}

constexpr HostCallTable kNoHost = {
    AnswerZero,       AnswerZero,    AnswerZero, AnswerZero,    AnswerZero,
    AnswerZero,       AnswerZero,    NoWindow,   UnitScale,     DesktopSizeAndBits,
    NoBackground,     NoModuleEntry, AnswerZero, NoComposition, AnswerZero,
    NoWait,           AnswerZero,    AnswerZero, AnswerZero,    AnswerZero,
    NoLayeredPresent, NoClientArea,
};

}  // namespace

HostCallTable hostCallTable = kNoHost;

void ResetHostCallTable() { hostCallTable = kNoHost; }

void FatalErrorExit(const char* message) {
  LogWriteText(message ? message : "");
  LogWriteText("\n");
  hostCallTable.shutdownEngineCore();
  CloseEngineCallLock();
  ExitProcess(static_cast<UINT>(-1));
}

void FatalErrorExitFormat(const char* format, ...) {
  char message[1024];
  va_list arguments;
  va_start(arguments, format);
  FormatTextList(message, sizeof message, format, arguments);
  va_end(arguments);
  FatalErrorExit(message);
}
