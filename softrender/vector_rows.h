// Rows of the commonest 32-bit kernels drawn with vector instructions: the alpha blend (and its
// half-sum case), the add at full strength, and the copy that doubles each source pixel (the x2
// stretch). Each gives the bytes of the scalar loop it stands for, key test included: a keyed row
// leaves the destination pixels whose source pixel equals the key as they were.
#pragma once

#include <cstdint>

struct VectorRows {
  // d + (s - d) * p / 256 per colour byte, rounded down; the fourth byte keeps the destination's.
  void (*alpha)(uint8_t* d, const uint8_t* s, int count, int p, bool keyed, uint32_t key);
  // (d >> 1 & 0x7F7F7F) + (s >> 1 & 0x7F7F7F), written whole.
  void (*halfSum)(uint8_t* d, const uint8_t* s, int count, bool keyed, uint32_t key);
  // The packed add of the colour bytes, each clamped to 255, written whole.
  void (*add)(uint8_t* d, const uint8_t* s, int count, bool keyed, uint32_t key);
  // count destination pixels from s[0], s[0], s[1], s[1], ... written whole.
  void (*doubled)(uint8_t* d, const uint8_t* s, int count, bool keyed, uint32_t key);
};

extern const VectorRows kVectorRowsSse2;
extern const VectorRows kVectorRowsAvx2;

// The rows in force: null when the scalar loops are to draw.
const VectorRows* ChosenVectorRows();
// 0 scalar loops, 1 SSE2, 2 AVX2; a level the machine lacks gives the best it has. Returns the
// level now in force. The best level is chosen when the program starts.
int SetSoftwareKernelVectorLevel(int level);
