// The platform calls a program makes beside the engine's, so that it reaches them through the
// engine's header alone.
#include "host/program_calls.h"

#include "graphics/draw_target.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"

static_assert(DrawTargetBackBuffer == kDrawTargetBackBuffer &&
              DrawTargetFrontScreen == kDrawTargetFrontScreen);

void PauseMilliseconds(DWORD milliseconds) { Sleep(milliseconds); }

void ShowMessageBox(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

void WriteDebuggerText(const char* text) { OutputDebugStringA(text); }

int IsWindowClassOpen(const char* className) {
  return FindWindowA(className, nullptr) != nullptr ? 1 : 0;
}

int IsDisplayPresent() { return GetSystemMetrics(SM_CXSCREEN) > 0 ? 1 : 0; }
