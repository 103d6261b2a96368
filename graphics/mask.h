// Masks: while masking is on, every draw goes first into a copy of the target (the mask screen)
// and comes back to the real target only where the mask's byte buffer lets it through. No
// function of the program creates a mask or asks for the mask screen, so in the program these
// run as the empty steps of start-up, rebuild and end.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

struct MEMIMG;

int DeleteMaskHandle(int handle);
int DeleteAllMaskHandles();
// Nothing when create is 0; otherwise makes what of the mask screen is missing. A mask screen
// that cannot be made ends the process.
int SetUpMaskScreen(int create);
// Frees the mask screen's device objects and images before a device rebuild; the byte buffer,
// which is no device object, is kept for the restore.
int FreeMaskScreen();
int RestoreMaskScreen();
int ShutDownMaskScreen();
// Bracket a draw while masking is on: the draw goes to the mask screen and comes back through the
// mask within the rectangle. Only the outermost pair of nested brackets acts.
int BeginMaskDraw(const RECT* rect);
int EndMaskDraw(const RECT* rect);
// Null while there is no mask screen (or masking is not in effect for the image).
IDirect3DSurface9* GetMaskScreenSurface();
MEMIMG* GetMaskScreenImage();

// Test hooks: the program has no setter of the created flag, no way to draw into the mask bytes
// and no setter of the reverse flag.
int SetMaskScreenCreated(int created);
// The byte buffer (row pitch in *pitch, the screen width rounded up to 4), null without one.
uint8_t* GetMaskBuffer(int* pitch);
int SetMaskReverse(int reverse);

int GetMaskUseFlag();
int SetMaskUseFlag(int on);
