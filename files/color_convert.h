// The engine's one pixel converter (ConvertPixelRect) and the standard-image operations built on
// it: rectangle copy and scaling, pixel access, mirroring, turning, halving and DIB preparation.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "platform/win32/win32_types.h"

struct BITMAPINFO;

// Returns 0, -1 for an empty rectangle or an unsupported combination, and the largest index
// copied for a copy of 8-bit indices into an 8-bit target.
int ConvertPixelRect(void* targetPixels, int targetPitch, const ColorFormat* targetFormat,
                     const void* sourcePixels, int sourcePitch, const ColorFormat* sourceFormat,
                     const void* alphaPixels, int alphaPitch, const ColorFormat* alphaFormat,
                     int targetX, int targetY, const RECT* sourceRect, int mirror,
                     int colorKeyToAlpha, uint32_t keyColor, int dither, int colorOff,
                     int alphaFromRed, int skipKey, int remapPalette);

int CopyStandardImageRect(int sourceX, int sourceY, int width, int height, int targetX, int targetY,
                          StandardImage* source, StandardImage* target);
int ScaleStandardImageRect(int sourceX1, int sourceY1, int sourceX2, int sourceY2,
                           StandardImage* source, int targetX1, int targetY1, int targetX2,
                           int targetY2, StandardImage* target, int filter);
int GetStandardImagePixel(StandardImage* image, int x, int y, int* red, int* green, int* blue,
                          int* alpha);
int SetStandardImagePixel(StandardImage* image, int x, int y, int red, int green, int blue,
                          int alpha);
int MirrorStandardImage(StandardImage* image);
int TurnStandardImage180(StandardImage* image);
int HalveImagePixels(const ColorFormat* format, void* target, int targetPitch, const void* source,
                     int sourcePitch, int targetX, int targetY, int sourceX, int sourceY, int width,
                     int height);
// 1: a new pixel buffer was made (tracked memory, the caller frees it); 0: the image's own
// pixels serve; -1: out of memory.
int MakeDIBFromStandardImage(StandardImage* image, BITMAPINFO* info, void** pixels, int forceCopy,
                             int force24Bit);
