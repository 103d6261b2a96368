// The engine's numeric toolbox: conversions, 128-bit helpers, rectangle clipping, matrices and
// vectors.
#include "system/math.h"

#include <climits>
#include <cmath>
#include <initializer_list>

namespace {

constexpr Matrix4 kUnitMatrix = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

// A negative aspect asks for the screen's own: height / width.
float ResolveAspect(float aspect, int screenWidth, int screenHeight) {
  if (aspect >= 0.0f) return aspect;
  return screenWidth != 0 ? static_cast<float>(screenHeight) / static_cast<float>(screenWidth)
                          : 1.0f;
}

Vector3 Subtract(const Vector3& a, const Vector3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

int TruncateFloatToInt(float value) { return TruncateDoubleToInt(static_cast<double>(value)); }

int AbsInt(int value) {
  return value < 0 ? static_cast<int>(0u - static_cast<unsigned int>(value)) : value;
}

float AbsFloat(float value) { return value < 0.0f ? -value : value; }

float SquareRootFloat(float value) {
  return static_cast<float>(std::sqrt(static_cast<double>(value)));
}

float PowerFloat(float base, float exponent) {
  return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}

void SinCosFloat(float angle, float* sine, float* cosine) {
  *sine = static_cast<float>(std::sin(static_cast<double>(angle)));
  *cosine = static_cast<float>(std::cos(static_cast<double>(angle)));
}

void Multiply64To128(const std::uint64_t* a, const std::uint64_t* b, std::uint32_t* product) {
  const unsigned __int128 p = static_cast<unsigned __int128>(*a) * *b;
  for (int i = 0; i < 4; ++i) product[i] = static_cast<std::uint32_t>(p >> (32 * i));
}

int Divide128By64(const std::uint32_t* product, const std::uint64_t* divisor,
                  std::uint64_t* quotient) {
  if (*divisor == 0) {
    *quotient = ~std::uint64_t{0};
    return -1;
  }
  unsigned __int128 dividend = 0;
  for (int i = 3; i >= 0; --i) dividend = (dividend << 32) | product[i];
  *quotient = static_cast<std::uint64_t>(dividend / *divisor);
  return 0;
}

int ClipRectToRect(RECT* rect, const RECT* clip) {
  if (rect->right < rect->left) rect->right = rect->left;
  if (rect->bottom < rect->top) rect->bottom = rect->top;
  // The far edge is tested first and the near edge after it, so with an inverted clip a
  // coordinate between the two ends on the near edge.
  for (LONG* y : {&rect->bottom, &rect->top}) {
    if (*y > clip->bottom) *y = clip->bottom;
    if (*y < clip->top) *y = clip->top;
  }
  for (LONG* x : {&rect->right, &rect->left}) {
    if (*x > clip->right) *x = clip->right;
    if (*x < clip->left) *x = clip->left;
  }
  return 0;
}

int MakeUnitMatrix(Matrix4* out) {
  *out = kUnitMatrix;
  return 0;
}

int MakeMatrixProduct(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  if (out == nullptr) return 0;
  Matrix4 product{};
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column)
      product.m[row][column] = a->m[row][0] * b->m[0][column] + a->m[row][1] * b->m[1][column] +
                               a->m[row][2] * b->m[2][column] + a->m[row][3] * b->m[3][column];
  *out = product;
  return 0;
}

int MakeTransposedMatrix(Matrix4* out, const Matrix4* m) {
  Matrix4 transposed{};
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) transposed.m[row][column] = m->m[column][row];
  *out = transposed;
  return 0;
}

int MakeInvertedMatrix(Matrix4* out, const Matrix4* m) {
  const float* a = &m->m[0][0];
  float c[16];
  c[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
         a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  c[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
         a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  c[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
         a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  c[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
          a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  c[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
         a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
  c[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
         a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
  c[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
         a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
  c[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
          a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
  c[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
         a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
  c[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
         a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
  c[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
          a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
  c[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
          a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
  c[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
         a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
  c[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
         a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
  c[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
          a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
  c[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
          a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
  const float determinant = a[0] * c[0] + a[1] * c[4] + a[2] * c[8] + a[3] * c[12];
  if (determinant > -1e-7f && determinant < 1e-7f) return -1;
  const float scale = 1.0f / determinant;
  for (int i = 0; i < 16; ++i) out->m[i / 4][i % 4] = c[i] * scale;
  return 0;
}

int MakeFovProjectionMatrix(Matrix4* out, float fov, float nearZ, float farZ, float aspect,
                            int screenWidth, int screenHeight) {
  aspect = ResolveAspect(aspect, screenWidth, screenHeight);
  float s = 0.0f;
  float c = 0.0f;
  SinCosFloat(fov / 2.0f, &s, &c);
  if (std::fabs(farZ - nearZ) < 0.0001f || std::fabs(s) < 0.0001f) return -1;
  Matrix4 m{};
  m.m[0][0] = (c / s) * aspect;
  m.m[1][1] = c / s;
  m.m[2][2] = farZ / (farZ - nearZ);
  m.m[2][3] = 1.0f;
  m.m[3][2] = -farZ * nearZ / (farZ - nearZ);
  *out = m;
  return 0;
}

int MakeOrthoProjectionMatrix(Matrix4* out, float height, float nearZ, float farZ, float aspect,
                              int screenWidth, int screenHeight) {
  aspect = ResolveAspect(aspect, screenWidth, screenHeight);
  if (std::fabs(nearZ - farZ) < 0.0001f) return -1;
  Matrix4 m{};
  m.m[0][0] = 2.0f / (height / aspect);
  m.m[1][1] = 2.0f / height;
  m.m[2][2] = 1.0f / (farZ - nearZ);
  m.m[3][2] = nearZ / (nearZ - farZ);
  m.m[3][3] = 1.0f;
  *out = m;
  return 0;
}

int MakeViewportTransformMatrix(Matrix4* out, float width, float height, float centreX,
                                float centreY) {
  Matrix4 m{};
  m.m[0][0] = width / 2.0f;
  m.m[1][1] = -height / 2.0f;
  m.m[2][2] = 1.0f;
  m.m[3][0] = centreX;
  m.m[3][1] = centreY;
  m.m[3][3] = 1.0f;
  *out = m;
  return 0;
}

int MakeCameraViewMatrix(Matrix4* out, const Vector3* eye, const Vector3* target,
                         const Vector3* up) {
  Vector3 z = Subtract(*target, *eye);
  MakeNormalizedVector(&z, &z);
  Vector3 x = Cross(*up, z);
  MakeNormalizedVector(&x, &x);
  Vector3 y = Cross(z, x);
  MakeNormalizedVector(&y, &y);
  Matrix4 m{};
  m.m[0][0] = x.x, m.m[0][1] = y.x, m.m[0][2] = z.x;
  m.m[1][0] = x.y, m.m[1][1] = y.y, m.m[1][2] = z.y;
  m.m[2][0] = x.z, m.m[2][1] = y.z, m.m[2][2] = z.z;
  m.m[3][0] = -DotProduct3(&x, eye);
  m.m[3][1] = -DotProduct3(&y, eye);
  m.m[3][2] = -DotProduct3(&z, eye);
  m.m[3][3] = 1.0f;
  *out = m;
  return 0;
}

int MakeNormalizedVector(Vector3* out, const Vector3* v) {
  const float length = SquareRootFloat(v->x * v->x + v->y * v->y + v->z * v->z);
  *out = Vector3{v->x / length, v->y / length, v->z / length};
  return 0;
}

Vector3 MakeUnitVector(float x, float y, float z) {
  const Vector3 v{x, y, z};
  Vector3 unit{};
  MakeNormalizedVector(&unit, &v);
  return unit;
}

float DotProduct3(const Vector3* a, const Vector3* b) {
  return a->x * b->x + a->y * b->y + a->z * b->z;
}

int TransformPointByMatrix(Vector3* out, const Vector3* v, const Matrix4* m) {
  const Vector3 p = *v;
  *out = Vector3{p.x * m->m[0][0] + p.y * m->m[1][0] + p.z * m->m[2][0] + m->m[3][0],
                 p.x * m->m[0][1] + p.y * m->m[1][1] + p.z * m->m[2][1] + m->m[3][1],
                 p.x * m->m[0][2] + p.y * m->m[1][2] + p.z * m->m[2][2] + m->m[3][2]};
  return 0;
}
