// Pixel layouts (ColorFormat), images in main memory (StandardImage), the builders of the
// common formats, component <-> pixel-code conversion and the standard-image handle table.
#pragma once

#include <cstdint>

// One palette entry, stored in the byte order blue, green, red, alpha.
struct ColorPaletteEntry {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t alpha;
};

struct ColorFormat {
  uint16_t bitDepth;       // bits per pixel; 4 for DXT1, 8 for DXT2-DXT5
  uint16_t bytesPerPixel;  // 1, 2, 3 or 4
  uint8_t redWidth;
  uint8_t greenWidth;
  uint8_t blueWidth;
  uint8_t alphaWidth;
  uint8_t redShift;
  uint8_t greenShift;
  uint8_t blueShift;
  uint8_t alphaShift;
  uint32_t redMask;
  uint32_t greenMask;
  uint32_t blueMask;
  uint32_t alphaMask;
  uint32_t noneMask;  // bits of the pixel code that belong to no channel
  ColorPaletteEntry palette[256];
  uint8_t noneShift;
  uint8_t noneWidth;
  int32_t compression;  // 0 none, 1 DXT1 ... 5 DXT5
};

// Pixel (x, y) starts at y * pitch + x * bytesPerPixel; rows run top to bottom.
struct StandardImage {
  ColorFormat format;
  int32_t width;
  int32_t height;
  int32_t pitch;          // 0 for compressed images
  uint8_t* pixels;        // tracked memory, owned by the image
  int32_t mipLevelCount;  // 0 for a plain image
};

int MakePaletteColorFormat(ColorFormat* format);
int MakeXRGB8ColorFormat(ColorFormat* format);
int MakeARGB8ColorFormat(ColorFormat* format);
int MakeRGB24ColorFormat(ColorFormat* format);
int MakeGrayColorFormat(ColorFormat* format);
int MakeColorFormatFromMasks(ColorFormat* format, int bitDepth, uint32_t redMask,
                             uint32_t greenMask, uint32_t blueMask, uint32_t alphaMask);
ColorFormat* UpdateColorFormatNoneMask(ColorFormat* format);

uint32_t ColorFormatCodeFromRGBA(const ColorFormat* format, int red, int green, int blue,
                                 int alpha);
int ColorFormatCodeToRGBA(const ColorFormat* format, uint32_t code, int* red, int* green, int* blue,
                          int* alpha);
uint32_t GetStandardImagePixelARGB(const StandardImage* image, int x, int y);

int CreateStandardImage(int width, int height, const ColorFormat* format, StandardImage* image);
int CreateARGB8StandardImage(int width, int height, StandardImage* image);
int CreateXRGB8StandardImage(int width, int height, StandardImage* image);
int ReleaseStandardImage(StandardImage* image);
int ClearStandardImageRect(StandardImage* image, int x, int y, int width, int height);

// Takes over the image (its pixels then belong to the handle); -1 when the table is full. The
// program itself makes no such handles.
int CreateStandardImageHandle(const StandardImage* image);
int DeleteStandardImageHandle(int handle);
int DeleteAllStandardImageHandles();
int ShutdownStandardImageHandles();
