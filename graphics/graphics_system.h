// The graphics system as the engine's start-up, shutdown, window procedure and window-mode switch
// call it: device start and end, the model system, device loss, presentation of part of the
// screen, display modes and the screen's mode, masks and the draw area.
#pragma once

#include "graphics/draw_settings.h"
#include "platform/win32/win32_types.h"

struct IDirect3DDevice9;

// -1 when d3d9.dll or DirectDraw cannot be had; software mode is a success.
int StartGraphicsSystem();
int EndGraphicsSystem();
int StartModelSystem();
int EndModelSystem();
// Null installs the default reload of graphs after the device is lost.
int SetGraphReloadCallback(GraphReloadCallback callback);
int RebuildGraphicsDeviceAfterLoss();
int EndDeviceScene();
// The Direct3D device, or null without one (software mode, or before the start).
IDirect3DDevice9* GetDirect3DDevice9();
int PresentFrameRect(const RECT* rect);
int PresentFrameForRepaint();

// The display modes the graphics system offers, from index 0.
int GetDisplayModeCount();
int GetDisplayModeAt(int index, int* width, int* height, int* bits);
int GetSoftwareRenderingSetting();
// The 320 x 240 request shown as a doubled 640 x 480 mode.
int SetScreen320x240Emulation(int on);
int SetScreenModeSize(int width, int height);
int IsDialogBoxModeOn();

int GetMaskUseFlag();
int SetMaskUseFlag(int on);
int SetDrawClipRect(int left, int top, int right, int bottom);
