// Camera, projection and lights: the default 2D camera shows the plane z = 0 one pixel per unit,
// the projection follows the camera values, lights get device indices by kind, and the vector
// transforms.
#include <cmath>
#include <cstring>

#include "graphics/camera.h"
#include "graphics/device_state_cache.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

class CameraTest : public GraphicsEngineTest {
 protected:
  void SetUp() override {
    GraphicsEngineTest::SetUp();
    ASSERT_EQ(InitializeEngine(), 0);
  }
};

// A point through view x projection x viewport, divided by w: where it lands on the screen.
void ToScreen(float x, float y, float z, float* screenX, float* screenY) {
  const DrawSettings* settings = GetDrawSettings();
  Matrix4 m;
  MakeMatrixProduct(&m, &settings->viewMatrix, &settings->camera.projectionMatrix);
  MakeMatrixProduct(&m, &m, &settings->cameraViewportMatrix);
  const float in[4] = {x, y, z, 1.0f};
  float out[4] = {};
  for (int column = 0; column < 4; ++column)
    for (int row = 0; row < 4; ++row) out[column] += in[row] * m.m[row][column];
  *screenX = out[0] / out[3];
  *screenY = out[1] / out[3];
}

TEST_F(CameraTest, DefaultCameraMapsThePlaneToPixels) {
  const struct {
    float x, y, screenX, screenY;
  } cases[] = {{320, 240, 320, 240},
               {0, 0, 0, 480},
               {640, 480, 640, 0},
               {320, 250, 320, 230},
               {100, 400, 100, 80}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    float x = 0;
    float y = 0;
    ToScreen(c.x, c.y, 0.0f, &x, &y);
    EXPECT_NEAR(x, c.screenX, 0.01f);
    EXPECT_NEAR(y, c.screenY, 0.01f);
  }
}

TEST_F(CameraTest, ProjectionUsesTheTargetAspect) {
  const Matrix4& projection = GetDrawSettings()->camera.projectionMatrix;
  EXPECT_NEAR(projection.m[0][0], projection.m[1][1] * 0.75f, 1e-5f);
  ASSERT_EQ(ChangeCameraPerspective(1.0f), 0);
  EXPECT_NEAR(projection.m[1][1], 1.0f / std::tan(0.5f), 1e-5f);
}

TEST_F(CameraTest, UserProjectionSurvivesANearFarChange) {
  Matrix4 user;
  MakeUnitMatrix(&user);
  user.m[0][0] = 3.0f;
  user.m[2][3] = 0.5f;
  ASSERT_EQ(ChangeCameraProjectionMatrix(&user), 0);
  ASSERT_EQ(ChangeCameraNearFar(1.0f, 100.0f), 0);
  const Matrix4& projection = GetDrawSettings()->camera.projectionMatrix;
  EXPECT_EQ(std::memcmp(&projection, &user, sizeof user), 0);
  EXPECT_EQ(GetDrawSettings()->camera.projectionMode, 2);
}

TEST_F(CameraTest, LightsAreAssignedByKindThenSlot) {
  const int defaultLight = GetLightBlock().defaultLight;
  ASSERT_NE(GetLightRecord(defaultLight), nullptr);
  const int point = AllocateLightHandle();
  ASSERT_NE(point, -1);
  GetLightRecord(point)->light.Type = D3DLIGHT_POINT;
  const int first = MakeDirectionalLight(0.0f, 0.0f, 2.0f);
  const int second = MakeDirectionalLight(1.0f, 0.0f, 0.0f);
  ASSERT_NE(first, -1);
  ASSERT_NE(second, -1);
  EXPECT_FLOAT_EQ(GetLightRecord(first)->light.Direction.z, 1.0f);

  ASSERT_EQ(ApplyLightsToDevice(), 0);
  EXPECT_EQ(GetLightRecord(defaultLight)->deviceIndex, 0);
  EXPECT_EQ(GetLightRecord(first)->deviceIndex, 1);
  EXPECT_EQ(GetLightRecord(second)->deviceIndex, 2);
  EXPECT_EQ(GetLightRecord(point)->deviceIndex, 3);
  const DeviceStateCache& cache = GetDeviceStateCache();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(cache.lightEnabled[i], 1);

  // Freeing an assigned light moves the others down and switches the highest index off.
  ASSERT_EQ(FreeLightHandle(first), 0);
  EXPECT_EQ(FreeLightHandle(first), -1);
  ASSERT_EQ(ApplyLightsToDevice(), 0);
  EXPECT_EQ(GetLightRecord(second)->deviceIndex, 1);
  EXPECT_EQ(GetLightRecord(point)->deviceIndex, 2);
  EXPECT_EQ(cache.lightEnabled[3], 0);
  FreeAllLightHandles();
  EXPECT_NE(GetLightRecord(defaultLight), nullptr);
  EXPECT_EQ(GetLightRecord(point), nullptr);
}

TEST_F(CameraTest, FullLightTableIsRefused) {
  std::vector<int> lights;
  for (;;) {
    int light = AllocateLightHandle();
    if (light == -1) break;
    lights.push_back(light);
    ASSERT_LT(lights.size(), 5000u);
  }
  EXPECT_EQ(lights.size(), static_cast<size_t>(kLightSlotLimit - 1));
  for (int light : lights) FreeLightHandle(light);
  EXPECT_NE(AllocateLightHandle(), -1);
}

TEST(VectorTransformTest, RowVectorTimesMatrix) {
  Matrix4 m{};
  float value = 1.0f;
  for (auto& row : m.m)
    for (float& element : row) element = value++;
  const Vector3 v{1.0f, 2.0f, 3.0f};
  Vector3 result{};
  TransformVector(&result, &v, &m);
  EXPECT_FLOAT_EQ(result.x, 1 * 1 + 2 * 5 + 3 * 9 + 13);
  EXPECT_FLOAT_EQ(result.y, 1 * 2 + 2 * 6 + 3 * 10 + 14);
  EXPECT_FLOAT_EQ(result.z, 1 * 3 + 2 * 7 + 3 * 11 + 15);
  TransformVectorNoTranslation(&result, &v, &m);
  EXPECT_FLOAT_EQ(result.x, 1 * 1 + 2 * 5 + 3 * 9);
  EXPECT_FLOAT_EQ(result.z, 1 * 3 + 2 * 7 + 3 * 11);
}

}  // namespace
