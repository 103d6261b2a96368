// The lookup tables of the software draw kernels: every product divided by 255 or 63 that a
// pixel loop needs is read from here.
#include <algorithm>

#include "files/memimg.h"

int32_t MEMIMGProductTable[256][256];
int32_t MEMIMGSignedProductTable[256][512];
uint8_t MEMIMGLerp64Table[64][64][64];
uint8_t MEMIMGBlendGraphTable[256];

int BuildMEMIMGBlendTables() {
  for (int i = 0; i < 256; ++i) {
    for (int j = 0; j < 256; ++j) MEMIMGProductTable[i][j] = i * j / 255;
    MEMIMGSignedProductTable[i][0] = 0;
    // C++ division truncates toward zero, as the table requires.
    for (int d = -255; d <= 255; ++d) MEMIMGSignedProductTable[i][d + 256] = i * d / 255;
  }
  for (int k = 0; k < 64; ++k)
    for (int a = 0; a < 64; ++a)
      for (int b = 0; b < 64; ++b)
        MEMIMGLerp64Table[k][a][b] = static_cast<uint8_t>((k * a + (63 - k) * b) / 63);
  return 0;
}

// Both values are kept to 0-255 so that a range of -1 cannot divide by zero.
int BuildMEMIMGBlendGraphTable(int borderParam, int borderRange) {
  int p = std::clamp(borderParam, 0, 255);
  int r = std::clamp(borderRange, 0, 255);
  int s = 256 - (p * (65536 / (r + 1) + 256)) / 256;
  for (int i = 0; i < 256; ++i)
    MEMIMGBlendGraphTable[i] = static_cast<uint8_t>(std::clamp(i * 256 / (r + 1) + s, 0, 255));
  return 0;
}
