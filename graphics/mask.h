// Masks as the device layer calls them: the mask screen that drawing goes into while masking is
// on, released and restored around a device rebuild; GetMaskUseFlag and SetMaskUseFlag are in
// graphics/graphics_system.h.
#pragma once

#include "platform/d3d9/d3d9.h"

struct MEMIMG;

// Null while there is no mask screen.
IDirect3DSurface9* GetMaskScreenSurface();
MEMIMG* GetMaskScreenImage();
int ReleaseMaskScreen();
int RestoreMaskScreen();
int DeleteAllMaskHandles();
// Bracket a draw while masking is on: the draw goes to the mask screen and comes back through the
// mask within the rectangle.
int BeginMaskDraw(const RECT* rect);
int EndMaskDraw(const RECT* rect);
