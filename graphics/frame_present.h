// Presentation of finished frames: the swap chain's present (or the software screen through
// GDI), the vertical-blank waits paced by the measured refresh period, the sub back buffer, the
// scene brackets and the 32 ms front-screen timer.
#pragma once

#include "platform/win32/user.h"

constexpr UINT_PTR kFrontScreenTimerId = 0x7fff;
constexpr UINT kFrontScreenTimerPeriod = 32;

void FrontScreenTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
int EnsureSubBackBufferCopy();
int CreateSubBackBuffer();
// Nothing without a device or when the scene already is in the wanted state.
int BeginDeviceScene();
int EndDeviceScene();
int IsInDeviceScene();
int WaitVerticalBlankPaced();
int MeasureRefreshPeriod();
// The frame, or the rectangle of it (null: all), to the window; the repaint's present does not
// wait for the vertical blank.
int PresentFrameRect(const RECT* rect);
int PresentFrameForRepaint();
