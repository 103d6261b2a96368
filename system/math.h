// The engine's numeric toolbox: exact conversions, 64/128-bit helpers, integer rectangle clipping,
// and 4 x 4 float matrices (row-major, used with row vectors: v x M; the translation is in
// elements 12-14) with 3-float vectors for the camera, projection and lights.
#pragma once

#include <cstdint>

#include "platform/win32/win32_types.h"

struct Matrix4 {
  float m[4][4];
};
struct Vector3 {
  float x, y, z;
};

// Rounded toward zero; out of the int32 range, infinity or NaN give -2147483648.
int TruncateFloatToInt(float value);
inline int TruncateDoubleToInt(double value) {
  // Anything the processor's truncating conversion cannot hold gives its integer-indefinite value.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int>(value);
}
// -2147483648 stays -2147483648.
int AbsInt(int value);
float AbsFloat(float value);
float SquareRootFloat(float value);
float PowerFloat(float base, float exponent);
void SinCosFloat(float angle, float* sine, float* cosine);
// The unsigned 128-bit product as four 32-bit words, lowest first.
void Multiply64To128(const std::uint64_t* a, const std::uint64_t* b, std::uint32_t* product);
// The low 64 bits of the quotient: 0; a divisor of 0 gives all ones and -1.
int Divide128By64(const std::uint32_t* product, const std::uint64_t* divisor,
                  std::uint64_t* quotient);

// Clips `rect` in place to `clip`; an outside rectangle becomes empty on the clip's nearest edge.
int ClipRectToRect(RECT* rect, const RECT* clip);

int MakeUnitMatrix(Matrix4* out);
// out = a x b; out may be a or b; a null out writes nothing.
int MakeMatrixProduct(Matrix4* out, const Matrix4* a, const Matrix4* b);
int MakeTransposedMatrix(Matrix4* out, const Matrix4* m);
// -1 and nothing written when the determinant is within 1e-7 of 0.
int MakeInvertedMatrix(Matrix4* out, const Matrix4* m);
// A negative aspect becomes screenHeight / screenWidth (the caller's screen mode size). -1 and
// nothing written for a degenerate range or angle.
int MakeFovProjectionMatrix(Matrix4* out, float fov, float nearZ, float farZ, float aspect,
                            int screenWidth, int screenHeight);
int MakeOrthoProjectionMatrix(Matrix4* out, float height, float nearZ, float farZ, float aspect,
                              int screenWidth, int screenHeight);
int MakeViewportTransformMatrix(Matrix4* out, float width, float height, float centreX,
                                float centreY);
int MakeCameraViewMatrix(Matrix4* out, const Vector3* eye, const Vector3* target,
                         const Vector3* up);
int MakeNormalizedVector(Vector3* out, const Vector3* v);
Vector3 MakeUnitVector(float x, float y, float z);
float DotProduct3(const Vector3* a, const Vector3* b);
int TransformPointByMatrix(Vector3* out, const Vector3* v, const Matrix4* m);
