// The triangle rasteriser: one triangle, textured with an affine mapping from a source image or
// untextured in one colour, walked row by row between two edges in 14.18 fixed point. Positions
// are rounded down to whole pixels, so negative coordinates cover the same pixels as positive ones.
#include <initializer_list>

#include "softrender/blend_modes.h"
#include "softrender/software_kernels.h"
#include "system/math.h"

namespace {

constexpr int kFraction = 18;
constexpr int64_t kOne = int64_t{1} << kFraction;

// The whole pixel of a 14.18 position, rounded down.
inline int64_t WholePixel(int64_t z) { return z >> kFraction; }

struct EdgeSection {
  int64_t startX;
  int64_t startY;
  int64_t step;
  int64_t rows;
};

struct Edge {
  EdgeSection sections[2];
  int count;
};

struct TriangleSetup {
  Edge left;
  Edge right;
  int32_t dudx, dudy, dvdx, dvdy;
  int64_t x0, y0;
  uint32_t u0, v0;
};

EdgeSection MakeSection(int64_t fromX, int64_t fromY, int64_t toX, int64_t toY) {
  EdgeSection s{fromX, fromY, 0, WholePixel(toY - fromY)};
  if (s.rows > 0) s.step = (toX - fromX) / s.rows;
  return s;
}

void SortIndices(const int64_t* value, int* order) {
  for (int i = 0; i < 2; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (value[order[i]] > value[order[j]]) {
        int t = order[i];
        order[i] = order[j];
        order[j] = t;
      }
}

// False for a degenerate triangle.
bool SetUpTriangle(const TriangleVertex* v, TriangleSetup* t) {
  int64_t X[3], Y[3], U[3], V[3];
  for (int i = 0; i < 3; ++i) {
    X[i] = int64_t{v[i].x} * kOne + kOne / 2;
    Y[i] = int64_t{v[i].y} * kOne + kOne / 2;
    U[i] = int64_t{v[i].u} * kOne;
    V[i] = int64_t{v[i].v} * kOne;
  }
  int byX[3] = {0, 1, 2};
  SortIndices(X, byX);
  int a = byX[0], b = byX[1], c = byX[2];
  int64_t dxb = v[b].x - int64_t{v[a].x}, dxc = v[c].x - int64_t{v[a].x};
  int64_t dyb = v[b].y - int64_t{v[a].y}, dyc = v[c].y - int64_t{v[a].y};
  int64_t dub = v[b].u - int64_t{v[a].u}, duc = v[c].u - int64_t{v[a].u};
  int64_t dvb = v[b].v - int64_t{v[a].v}, dvc = v[c].v - int64_t{v[a].v};
  int64_t D = dyb * dxc - dyc * dxb;
  if (D == 0) return false;
  auto gradient = [&](int64_t n) {
    return TruncateDoubleToInt(static_cast<double>(n) * 262144.0 / static_cast<double>(D));
  };
  t->dudx = gradient(dyb * duc - dyc * dub);
  t->dudy = gradient(dxc * dub - dxb * duc);
  t->dvdx = gradient(dyb * dvc - dyc * dvb);
  t->dvdy = gradient(dxc * dvb - dxb * dvc);
  t->x0 = WholePixel(X[a]);
  t->y0 = WholePixel(Y[a]);
  t->u0 = static_cast<uint32_t>(U[a]);
  t->v0 = static_cast<uint32_t>(V[a]);

  int byY[3] = {0, 1, 2};
  SortIndices(Y, byY);
  int top = byY[0], mid = byY[1], bot = byY[2];
  Edge& L = t->left;
  Edge& R = t->right;
  if (Y[top] == Y[mid]) {
    int left = X[top] <= X[mid] ? top : mid;
    int right = left == top ? mid : top;
    L = Edge{{MakeSection(X[left], Y[left], X[bot], Y[bot]), {}}, 1};
    R = Edge{{MakeSection(X[right], Y[right], X[bot], Y[bot]), {}}, 1};
  } else if (Y[mid] == Y[bot]) {
    int left = X[mid] <= X[bot] ? mid : bot;
    int right = left == mid ? bot : mid;
    L = Edge{{MakeSection(X[top], Y[top], X[left], Y[left]), {}}, 1};
    R = Edge{{MakeSection(X[top], Y[top], X[right], Y[right]), {}}, 1};
  } else {
    double scale = 1.0 / static_cast<double>(kOne);
    double slopeMid =
        static_cast<double>(X[mid] - X[top]) / (static_cast<double>(Y[mid] - Y[top]) * scale);
    double slopeBot =
        static_cast<double>(X[bot] - X[top]) / (static_cast<double>(Y[bot] - Y[top]) * scale);
    EdgeSection upper = MakeSection(X[top], Y[top], X[mid], Y[mid]);
    EdgeSection longEdge = MakeSection(X[top], Y[top], X[bot], Y[bot]);
    if (slopeMid < slopeBot) {
      L = Edge{{upper, MakeSection(X[mid], Y[mid], X[bot], Y[bot])}, 2};
      R = Edge{{longEdge, {}}, 1};
    } else {
      L = Edge{{longEdge, {}}, 1};
      R = Edge{{upper, MakeSection(X[mid] + 1, Y[mid], X[bot], Y[bot])}, 2};
    }
  }
  for (const Edge* e : {&L, &R})
    for (int i = 0; i < e->count; ++i)
      if (e->sections[i].rows <= 0) return false;
  return true;
}

// Walks the rows; pixel(x, y, u, v) draws one covered pixel inside the draw area.
template <class Pixel>
void WalkTriangle(const TriangleSetup& t, const RECT& area, Pixel&& pixel) {
  int leftSection = 0;
  int rightSection = 0;
  int64_t L = t.left.sections[0].startX;
  int64_t R = t.right.sections[0].startX;
  int64_t leftStep = t.left.sections[0].step;
  int64_t rightStep = t.right.sections[0].step;
  int64_t leftRows = t.left.sections[0].rows;
  int64_t rightRows = t.right.sections[0].rows;
  int64_t y = WholePixel(t.left.sections[0].startY);
  for (;;) {
    int64_t xl = WholePixel(L);
    int64_t xr = WholePixel(R);
    int64_t count = xr - xl + 1;
    if (xl < area.left) {
      count -= area.left - xl;
      xl = area.left;
    }
    if (y >= area.top && y < area.bottom && xl < area.right && count > 0) {
      uint32_t u = t.u0 + static_cast<uint32_t>(xl - t.x0) * static_cast<uint32_t>(t.dudx) +
                   static_cast<uint32_t>(y - t.y0) * static_cast<uint32_t>(t.dudy);
      uint32_t v = t.v0 + static_cast<uint32_t>(xl - t.x0) * static_cast<uint32_t>(t.dvdx) +
                   static_cast<uint32_t>(y - t.y0) * static_cast<uint32_t>(t.dvdy);
      for (int64_t x = xl; count > 0 && x < area.right; ++x, --count) {
        pixel(static_cast<int>(x), static_cast<int>(y), u, v);
        u += static_cast<uint32_t>(t.dudx);
        v += static_cast<uint32_t>(t.dvdx);
      }
    }
    L += leftStep;
    R += rightStep;
    ++y;
    --leftRows;
    --rightRows;
    if (leftRows == 0) {
      if (++leftSection >= t.left.count) return;
      const EdgeSection& s = t.left.sections[leftSection];
      L = s.startX;
      leftStep = s.step;
      leftRows = s.rows;
      y = WholePixel(s.startY);
    }
    if (rightRows == 0) {
      if (++rightSection >= t.right.count) return;
      const EdgeSection& s = t.right.sections[rightSection];
      R = s.startX;
      rightStep = s.step;
      rightRows = s.rows;
    }
  }
}

bool InFixedRange(int32_t value) { return value >= -8192 && value <= 8191; }

}  // namespace

// Coordinates outside -8192..8191 do not fit the 14.18 positions: such a triangle is refused.
int DrawMEMIMGTriangle(MEMIMG* destination, const MEMIMG* source, const TriangleVertex* vertices,
                       int transparencyFlag, const MEMIMG* blendImage, uint32_t color,
                       const KernelDrawSettings* settings) {
  if (!AcceptsKernelCall(destination, source, blendImage, settings)) return 0;
  const MEMIMGBody* db = destination->body;
  for (int i = 0; i < 3; ++i)
    if (!InFixedRange(vertices[i].x) || !InFixedRange(vertices[i].y) ||
        !InFixedRange(vertices[i].u) || !InFixedRange(vertices[i].v))
      return 0;

  KernelContext k;
  KernelSelection s;
  if (!PrepareKernelCall(destination, source, blendImage, transparencyFlag, settings, &k, &s))
    return 0;

  TriangleSetup t{};
  if (!SetUpTriangle(vertices, &t)) return 0;
  const RECT& area = settings->drawArea;
  int destinationBytes = db->format->bytesPerPixel;
  auto destinationPixel = [&](int x, int y) {
    return destination->pixels + static_cast<intptr_t>(y) * db->pitch +
           static_cast<intptr_t>(x) * destinationBytes;
  };

  if (!source) {
    // The colour is modulated whatever the brightness: P(255, c) = c.
    const int32_t* const* rows = k.brightRow;
    if (db->pixelType == MEMIMG_PIXEL_RGB565) {
      uint32_t r = static_cast<uint32_t>(rows[2][(color >> 11) & 31]);
      uint32_t g = static_cast<uint32_t>(rows[1][(color >> 5) & 63]);
      uint32_t b = static_cast<uint32_t>(rows[0][color & 31]);
      color = (r << 11) | (g << 5) | b;
    } else {
      uint32_t b = static_cast<uint32_t>(rows[0][color & 0xFF]);
      uint32_t g = static_cast<uint32_t>(rows[1][(color >> 8) & 0xFF]);
      uint32_t r = static_cast<uint32_t>(rows[2][(color >> 16) & 0xFF]);
      color = (color & 0xFF000000u) | (r << 16) | (g << 8) | b;
    }
    WithInt<0, 1>(db->pixelType, [&](auto pt) {
      WithInt<0, 1, 2, 3, 4, 10, 11>(s.mode, [&](auto m) {
        constexpr KernelConfig C{pt.value, kSourceDirect, m.value,       false,
                                 false,    false,         kPathTriangle, kSpecialNone};
        WalkTriangle(t, area, [&](int x, int y, uint32_t, uint32_t) {
          blend::Apply<C, false>(k, destinationPixel(x, y), color, 0, 0);
        });
      });
    });
    return 0;
  }

  const MEMIMGBody* sb = source->body;
  int sourceBytes = sb->format->bytesPerPixel;
  uint64_t limitU = static_cast<uint64_t>(source->width) << kFraction;
  uint64_t limitV = static_cast<uint64_t>(source->height) << kFraction;
  int blendPitch = blendImage ? blendImage->body->pitch : 0;
  DispatchImageKernel<kPathTriangle>(s, [&]<KernelConfig C>() {
    WalkTriangle(t, area, [&](int x, int y, uint32_t u, uint32_t v) {
      if (u >= limitU || v >= limitV) return;
      uint32_t column = u >> kFraction;
      uint32_t row = v >> kFraction;
      const uint8_t* texel = source->pixels + static_cast<intptr_t>(row) * sb->pitch +
                             static_cast<intptr_t>(column) * sourceBytes;
      const uint8_t* b =
          C.blend ? blendImage->pixels + static_cast<intptr_t>(row) * blendPitch + column : nullptr;
      blend::DrawPixel<C>(k, texel, destinationPixel(x, y), b, 0);
    });
  });
  return 0;
}
