// A scalar reference model of the software kernels, written from the per-channel descriptions of
// the blend modes (divisions computed directly, packed operations channel by channel), used to
// check every kernel path byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "files/memimg.h"
#include "softrender/software_kernels.h"

namespace model {

enum class Path { PointClipped, PointRuns, Stretched, Triangle };

struct Settings {
  int mode;
  int p;
  uint32_t bright;  // 0x00RRGGBB
  RECT area;
  int blendBorderParam;  // the blend-graph table the kernels were given
  int blendBorderRange;
};

int P(int i, int j);
int S(int i, int k);
int L(int w, int x, int y);
int BlendWeight(const Settings& s, int byte);

// The destination bytes after a point blit (runs: the run-length path is expected).
std::vector<uint8_t> PointBlit(const MEMIMG& destination, const MEMIMG& source, int x, int y,
                               int trans, const MEMIMG* blend, const Settings& s, bool runs);
std::vector<uint8_t> StretchedBlit(const MEMIMG& destination, const MEMIMG& source,
                                   const int32_t* rect, int trans, const MEMIMG* blend,
                                   const Settings& s);
// Draws at every destination pixel that `covered` marks (row-major over the destination), with
// the texel at (x - originX, y - originY).
std::vector<uint8_t> TexturedPixels(const MEMIMG& destination, const MEMIMG& source,
                                    const std::vector<bool>& covered, int originX, int originY,
                                    int trans, const MEMIMG* blend, const Settings& s);
// An untextured triangle in `color` at every pixel that `covered` marks.
std::vector<uint8_t> Untextured(const MEMIMG& destination, const std::vector<bool>& covered,
                                uint32_t color, const Settings& s);
std::vector<uint8_t> Fill(const MEMIMG& destination, const int32_t* rect, uint32_t color,
                          const Settings& s);

// The destination's whole buffer, padding included.
std::vector<uint8_t> Bytes(const MEMIMG& image);

}  // namespace model
