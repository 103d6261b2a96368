// The numeric toolbox: exact conversions, 128-bit helpers, rectangle clipping, matrices.
#include "system/math.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

TEST(Truncation, RoundsTowardZeroAndGivesIntMinOutOfRange) {
  struct Case {
    double value;
    int expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {{2.9, 2},
                        {-2.9, -2},
                        {-0.5, 0},
                        {0.0, 0},
                        {1e10, INT_MIN},
                        {-1e10, INT_MIN},
                        {2147483647.0, INT_MAX},
                        {2147483647.9, INT_MAX},
                        {2147483648.0, INT_MIN},
                        {-2147483648.0, INT_MIN},
                        {-2147483648.9, INT_MIN},
                        {-2147483647.5, -2147483647},
                        {inf, INT_MIN},
                        {-inf, INT_MIN},
                        {std::numeric_limits<double>::quiet_NaN(), INT_MIN}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(TruncateDoubleToInt(c.value), c.expected);
    if (std::isnan(c.value) || std::isinf(c.value) || std::fabs(c.value) < 16777216.0 ||
        std::fabs(c.value) > 3e9) {
      EXPECT_EQ(TruncateFloatToInt(static_cast<float>(c.value)), c.expected);
    }
  }
  EXPECT_EQ(TruncateFloatToInt(2147483648.0f), INT_MIN);
  EXPECT_EQ(TruncateFloatToInt(2147483520.0f), 2147483520);
}

TEST(Absolutes, IntMinStaysAndFloatSignsAreKept) {
  EXPECT_EQ(AbsInt(-5), 5);
  EXPECT_EQ(AbsInt(5), 5);
  EXPECT_EQ(AbsInt(INT_MIN), INT_MIN);
  EXPECT_EQ(AbsFloat(-2.5f), 2.5f);
  EXPECT_TRUE(std::signbit(AbsFloat(-0.0f)));
  EXPECT_TRUE(std::isnan(AbsFloat(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_EQ(SquareRootFloat(2.0f), std::sqrt(2.0f));
  float s = 0;
  float c = 0;
  SinCosFloat(0.0f, &s, &c);
  EXPECT_EQ(s, 0.0f);
  EXPECT_EQ(c, 1.0f);
  EXPECT_FLOAT_EQ(PowerFloat(2.0f, 10.0f), 1024.0f);
}

TEST(Wide, ProductsAndQuotientsMatch128BitArithmetic) {
  const std::uint64_t values[] = {0, 1, 2, 0xFFFFFFFFull, 0x123456789ABCDEFull, ~0ull};
  for (std::uint64_t a : values) {
    for (std::uint64_t b : values) {
      SCOPED_TRACE(testing::Message() << a << " x " << b);
      std::uint32_t product[4];
      Multiply64To128(&a, &b, product);
      const unsigned __int128 expected = static_cast<unsigned __int128>(a) * b;
      for (int i = 0; i < 4; ++i)
        EXPECT_EQ(product[i], static_cast<std::uint32_t>(expected >> (32 * i)));
      if (b != 0) {
        std::uint64_t quotient = 0;
        EXPECT_EQ(Divide128By64(product, &b, &quotient), 0);
        EXPECT_EQ(quotient, a);
      }
    }
  }
  // A quotient wider than 64 bits keeps its low 64 bits.
  const std::uint32_t big[4] = {0, 0, 5, 0};
  const std::uint64_t one = 1;
  std::uint64_t quotient = 0;
  EXPECT_EQ(Divide128By64(big, &one, &quotient), 0);
  EXPECT_EQ(quotient, 0u);
}

TEST(Wide, DivisionByZeroIsDefined) {
  const std::uint32_t product[4] = {1, 2, 3, 4};
  const std::uint64_t zero = 0;
  std::uint64_t quotient = 0;
  EXPECT_EQ(Divide128By64(product, &zero, &quotient), -1);
  EXPECT_EQ(quotient, ~0ull);
}

TEST(Clipping, RectanglesEndInsideOrEmptyOnTheNearestEdge) {
  struct Case {
    RECT rect;
    RECT clip;
    RECT expected;
  };
  constexpr Case cases[] = {
      {{10, 10, 50, 50}, {0, 0, 30, 40}, {10, 10, 30, 40}},
      {{40, 10, 60, 20}, {0, 0, 30, 40}, {30, 10, 30, 20}},
      {{50, 10, 20, 30}, {0, 0, 100, 100}, {50, 10, 50, 30}},
      {{-5, -5, 5, 5}, {0, 0, 10, 10}, {0, 0, 5, 5}},
      {{30, 0, 40, 10}, {0, 0, 30, 40}, {30, 0, 30, 10}},
      {{-50, -50, -10, -10}, {0, 0, 10, 10}, {0, 0, 0, 0}},
      {{0, 0, 100, 100}, {5, 6, 7, 8}, {5, 6, 7, 8}},
      // An inverted clip: coordinates between its edges end on its left edge.
      {{15, 0, 15, 5}, {20, 0, 10, 10}, {20, 0, 20, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rect.left << "," << c.rect.top << "," << c.rect.right
                                    << "," << c.rect.bottom);
    RECT rect = c.rect;
    const RECT clip = c.clip;
    EXPECT_EQ(ClipRectToRect(&rect, &clip), 0);
    EXPECT_EQ(rect.left, c.expected.left);
    EXPECT_EQ(rect.top, c.expected.top);
    EXPECT_EQ(rect.right, c.expected.right);
    EXPECT_EQ(rect.bottom, c.expected.bottom);
    EXPECT_EQ(std::memcmp(&clip, &c.clip, sizeof(RECT)), 0);
  }
}

Matrix4 Sample() { return Matrix4{{{2, 0, 1, 0}, {1, 3, 0, 0}, {0, 1, 4, 0}, {5, -2, 1, 1}}}; }

void ExpectNear(const Matrix4& a, const Matrix4& b, float tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << r << "," << c;
}

TEST(Matrices, ProductIntoAnOperandEqualsProductIntoASeparateMatrix) {
  const Matrix4 a = Sample();
  Matrix4 b{};
  MakeTransposedMatrix(&b, &a);
  Matrix4 separate{};
  MakeMatrixProduct(&separate, &a, &b);
  Matrix4 inPlace = a;
  MakeMatrixProduct(&inPlace, &inPlace, &b);
  ExpectNear(inPlace, separate, 0.0f);
  EXPECT_FLOAT_EQ(separate.m[0][0], 5.0f);
  EXPECT_EQ(MakeMatrixProduct(nullptr, &a, &b), 0);
}

TEST(Matrices, InverseTimesMatrixIsTheUnitAndSingularMatricesAreRefused) {
  const Matrix4 a = Sample();
  Matrix4 inverse{};
  ASSERT_EQ(MakeInvertedMatrix(&inverse, &a), 0);
  Matrix4 product{};
  MakeMatrixProduct(&product, &a, &inverse);
  Matrix4 unit{};
  MakeUnitMatrix(&unit);
  ExpectNear(product, unit, 1e-5f);
  Matrix4 singular = a;
  for (float& v : singular.m[1]) v = 0;
  Matrix4 untouched{};
  for (int i = 0; i < 16; ++i) untouched.m[i / 4][i % 4] = 7.0f;
  Matrix4 out = untouched;
  EXPECT_EQ(MakeInvertedMatrix(&out, &singular), -1);
  ExpectNear(out, untouched, 0.0f);
}

TEST(Matrices, ProjectionsHoldTheirElementsAndRefuseDegenerateRanges) {
  Matrix4 m{};
  ASSERT_EQ(MakeFovProjectionMatrix(&m, 3.14159265f / 2, 1.0f, 101.0f, 1.0f, 640, 480), 0);
  EXPECT_NEAR(m.m[0][0], 1.0f, 1e-5f);
  EXPECT_NEAR(m.m[1][1], 1.0f, 1e-5f);
  EXPECT_FLOAT_EQ(m.m[2][2], 101.0f / 100.0f);
  EXPECT_EQ(m.m[2][3], 1.0f);
  EXPECT_FLOAT_EQ(m.m[3][2], -101.0f / 100.0f);
  EXPECT_EQ(m.m[3][3], 0.0f);
  // A negative aspect takes the screen's height / width.
  ASSERT_EQ(MakeFovProjectionMatrix(&m, 3.14159265f / 2, 1.0f, 101.0f, -1.0f, 1000, 500), 0);
  EXPECT_NEAR(m.m[0][0], 0.5f, 1e-5f);
  Matrix4 untouched = m;
  EXPECT_EQ(MakeFovProjectionMatrix(&m, 1.0f, 5.0f, 5.00001f, 1.0f, 640, 480), -1);
  EXPECT_EQ(MakeFovProjectionMatrix(&m, 0.0f, 1.0f, 10.0f, 1.0f, 640, 480), -1);
  EXPECT_EQ(MakeOrthoProjectionMatrix(&m, 10.0f, 3.0f, 3.0f, 1.0f, 640, 480), -1);
  ExpectNear(m, untouched, 0.0f);
  ASSERT_EQ(MakeOrthoProjectionMatrix(&m, 480.0f, 0.0f, 10.0f, 0.75f, 640, 480), 0);
  EXPECT_FLOAT_EQ(m.m[0][0], 2.0f / 640.0f);
  EXPECT_FLOAT_EQ(m.m[1][1], 2.0f / 480.0f);
  EXPECT_FLOAT_EQ(m.m[2][2], 0.1f);
  EXPECT_FLOAT_EQ(m.m[3][3], 1.0f);
  MakeViewportTransformMatrix(&m, 640, 480, 320, 240);
  Vector3 corner{-1, 1, 0};
  Vector3 out{};
  TransformPointByMatrix(&out, &corner, &m);
  EXPECT_FLOAT_EQ(out.x, 0.0f);
  EXPECT_FLOAT_EQ(out.y, 0.0f);
}

TEST(Matrices, CameraViewPutsTheEyeAtTheOriginLookingDownZ) {
  const Vector3 eye{3, 4, -10};
  const Vector3 target{3, 4, 10};
  const Vector3 up{0, 1, 0};
  Matrix4 view{};
  MakeCameraViewMatrix(&view, &eye, &target, &up);
  Vector3 out{};
  TransformPointByMatrix(&out, &eye, &view);
  EXPECT_NEAR(out.x, 0.0f, 1e-5f);
  EXPECT_NEAR(out.y, 0.0f, 1e-5f);
  EXPECT_NEAR(out.z, 0.0f, 1e-5f);
  TransformPointByMatrix(&out, &target, &view);
  EXPECT_NEAR(out.z, 20.0f, 1e-4f);
  const Vector3 unit = MakeUnitVector(3, 0, 4);
  EXPECT_FLOAT_EQ(unit.x, 0.6f);
  EXPECT_FLOAT_EQ(unit.z, 0.8f);
  EXPECT_FLOAT_EQ(DotProduct3(&unit, &unit), 1.0f);
}

}  // namespace
