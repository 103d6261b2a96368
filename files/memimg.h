// Software images (MEMIMG) and the lookup tables the software draw kernels read: a MEMIMG is a
// view onto a shared body that holds the pixels, the palette, the premultiplied alpha copy and
// the per-row run-length transparency table.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "platform/win32/win32_types.h"

enum MEMIMGPixelType : int32_t {
  MEMIMG_PIXEL_RGB565 = 0,     // 5:6:5; 4 bytes with alpha (alpha in bits 16-23)
  MEMIMG_PIXEL_XRGB8 = 1,      // bytes blue, green, red, fourth byte (the alpha when present)
  MEMIMG_PIXEL_CHANNEL8 = 2,   // one 8-bit channel (blend images)
  MEMIMG_PIXEL_CHANNEL16 = 3,  // one 16-bit channel
};

constexpr uint32_t MEMIMG_MAGIC = 0x12345678u;

struct MEMIMGBody {
  int32_t useCount;
  int32_t width;
  int32_t height;
  int32_t pitch;          // bytes per row of the pixels and of the alpha buffer
  int32_t pitchExponent;  // k when pitch = 2^k, else -1
  const ColorFormat* format;
  uint32_t transparentColor;  // pixel code, or palette index, that counts as transparent
  int32_t pixelType;          // MEMIMGPixelType
  int32_t paletteFlag;
  int32_t paletteSize;  // entries in use: largest index of the last copy + 1
  int32_t alphaFlag;
  int32_t premultipliedValid;
  int32_t tableValid;
  int32_t callerOwnsPixels;
  uint8_t* palette;      // 2048-byte block, or null
  uint8_t* paletteCopy;  // palette + 1024, or null
  uint8_t* pixels;
  uint8_t* alpha;              // premultiplied copy, 4 bytes per pixel, or null
  uint8_t* transparencyTable;  // run-length rows, (width + 5) * height bytes, or null
};

struct MEMIMG {
  uint32_t magic;  // MEMIMG_MAGIC while set up
  int32_t width;
  int32_t height;
  uint8_t* pixels;  // this view's top-left pixel
  uint8_t* alpha;   // this view's top-left pixel in the alpha buffer, or null
  MEMIMGBody* body;
};

int CreateMEMIMG(MEMIMG* image, int width, int height, int pitch, uint32_t transparentColor,
                 int pixelType, int paletteFlag, int alphaFlag, int tablesFlag, void* pixelBuffer);
// Pixel type -1 takes the screen's: 5:6:5 when screenColorBits is 16, else 32-bit.
int CreateScreenMEMIMG(MEMIMG* image, int width, int height, int pixelType, int screenColorBits);
int MakeSubMEMIMG(MEMIMG* view, const MEMIMG* source, int x, int y, int width, int height);
int IsMEMIMGValid(const MEMIMG* image);
int ReleaseMEMIMG(MEMIMG* image);
int CopyStandardImageToMEMIMG(const StandardImage* image, const StandardImage* alphaImage,
                              MEMIMG* target, int x, int y, int width, int height, int targetX,
                              int targetY, int colorKeyFlag);
int CopyMEMIMGRect(MEMIMG* target, const MEMIMG* source, const RECT* rect, int x, int y);
int SetMEMIMGRectPixels(MEMIMG* image, const RECT* rect, uint32_t value);
const ColorFormat* GetMEMIMGColorFormat(int pixelType, int alphaFlag, int paletteFlag);

// Rebuilds the run-length transparency table of a whole body from its pixels.
int BuildMEMIMGTransparencyTable(MEMIMGBody* body);

int BuildMEMIMGBlendTables();
int BuildMEMIMGBlendGraphTable(int borderParam, int borderRange);

// [i][j] = i * j / 255.
extern int32_t MEMIMGProductTable[256][256];
// Row i, entry d + 256 = i * d / 255 truncated toward zero, d in -255..255; entry 0 unused.
// Read it only through MEMIMGSignedProductRow.
extern int32_t MEMIMGSignedProductTable[256][512];
// [k][a][b] = (k * a + (63 - k) * b) / 63: k is the weight of a.
extern uint8_t MEMIMGBlend6Table[64][64][64];
// Weight of a blend-image byte, made from the blend graph's border parameter and range.
extern uint8_t MEMIMGBlendGraphTable[256];

// The centre (d = 0) of row i of the signed product table: row[d] for d in -255..255.
inline const int32_t* MEMIMGSignedProductRow(int i) { return &MEMIMGSignedProductTable[i][256]; }
