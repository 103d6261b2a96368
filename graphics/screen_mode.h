// Screen modes: the queries other subsystems ask of the graphics layer, changing the screen mode
// of a running engine, the desktop resolution switch for full screen, and the colour formats of
// Direct3D format codes and of graphs.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "platform/d3d9/d3d9.h"
#include "platform/ddraw/ddraw.h"

// The screen's colour depth in bits: 16 or 32 (16 while no mode is set).
int GetScreenColorBitDepth();
// The requested screen size (640 x 480 while none is set).
int GetScreenModeSize(int* width, int* height);
// -1 keeps a value; force 1 re-creates the screen even when nothing changes. Always 0: some mode
// starts or the process ends.
int ChangeScreenMode(int width, int height, int colorBits, int force, int refreshRate);
int ChangeDisplayResolution();
// The ColorFormat of a Direct3D format code, null for codes without one.
const ColorFormat* GetColorFormatForD3DFormat(D3DFORMAT format);
// The ColorFormat that graphs with these properties use.
const ColorFormat* GetGraphColorFormat(int alpha, int alphaTest, int bits32, int drawValid);
int IsFullScreenMode();
int HasDisplayMode(int width, int height, int colorBits);
IDirectDraw7* GetDirectDrawObject();
// Fills a 380-byte DirectDraw capability record with zeros and returns it.
void* GetDirectDrawCaps(void* record);
int GraphicsNullQuery();
int SetGraphicsDialogBoxMode(int on);
int RefreshDialogBoxMode(int on);

// The display modes the graphics system offers, from index 0.
int GetDisplayModeCount();
int GetDisplayModeAt(int index, int* width, int* height, int* bits);
int SetScreenModeSize(int width, int height);
int IsDialogBoxModeOn();
