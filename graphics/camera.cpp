// The transforms of the draw settings and their composites, the projection built from the camera
// values, the light handles and their assignment to device lights, vector transforms, and the
// display-mode list.
#include "graphics/camera.h"

#include <cstring>

#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "platform/win32/user.h"
#include "system/engine_handle.h"
#include "system/host_call_table.h"
#include "system/tracked_memory.h"

namespace {

LightBlock lightBlock{0, 0, {}, 0, 0, -1, 0, -1};
LightRecord* lightTable[kLightSlotLimit];
EngineHandleKind lightKind = MakeEngineHandleKind(kLightHandle);

void InvalidateComposites() {
  GetDrawSettings()->compositeMatricesValid = 0;
  UpdateCompositeMatrices();
}

int SlotOfLight(int light) {
  LightRecord* record = GetLightRecord(light);
  return record != nullptr ? GetEngineHandleSlot(light) : -1;
}

}  // namespace

LightBlock& GetLightBlock() { return lightBlock; }

int SetWorldMatrix(const Matrix4* matrix) {
  DrawSettings* settings = GetDrawSettings();
  FlushVertexBatch();
  settings->worldMatrix = *matrix;
  InvalidateComposites();
  if (IsDirect3DMode()) {
    SetDeviceWorldTransform(matrix);
    settings->worldMatrixSet = 1;
  }
  return 0;
}

int SetViewMatrix(const Matrix4* matrix) {
  DrawSettings* settings = GetDrawSettings();
  FlushVertexBatch();
  settings->viewMatrix = *matrix;
  InvalidateComposites();
  if (IsDirect3DMode()) {
    SetViewTransform(matrix);
    settings->viewMatrixSet = 1;
  }
  return 0;
}

int SendCombinedProjection() {
  DrawSettings* settings = GetDrawSettings();
  Matrix4 combined;
  MakeMatrixProduct(&combined, &settings->camera.projectionMatrix, &settings->cameraViewportMatrix);
  MakeMatrixProduct(&combined, &combined, &settings->inverseDrawAreaViewportMatrix);
  settings->projectionMatrix = combined;
  if (IsDirect3DMode()) {
    SetProjectionTransform(&combined);
    settings->projectionMatrixSet = 1;
  }
  return 0;
}

int SetProjectionMatrix(const Matrix4* matrix) {
  DrawSettings* settings = GetDrawSettings();
  FlushVertexBatch();
  if (matrix != &settings->camera.projectionMatrix) settings->camera.projectionMatrix = *matrix;
  InvalidateComposites();
  return SendCombinedProjection();
}

int SetViewportMatrix(const Matrix4* matrix) {
  DrawSettings* settings = GetDrawSettings();
  FlushVertexBatch();
  settings->cameraViewportMatrix = *matrix;
  InvalidateComposites();
  return SendCombinedProjection();
}

int SetCameraViewportCentre(float x, float y) {
  DrawSettings* settings = GetDrawSettings();
  const CameraSettings& camera = settings->camera;
  settings->cameraScreenCenter[0] = x;
  settings->cameraScreenCenter[1] = y;
  Matrix4 viewport;
  MakeViewportTransformMatrix(&viewport,
                              static_cast<float>(camera.targetWidth) * camera.cameraAspect,
                              static_cast<float>(camera.targetHeight) * camera.cameraAspect, x, y);
  return SetViewportMatrix(&viewport);
}

int UpdateProjectionMatrix() {
  CameraSettings& camera = GetDrawSettings()->camera;
  // Height over width as floats: a 640 x 480 target gives 0.75; without a size the screen's is
  // used (a negative aspect).
  float aspect = camera.targetWidth > 0
                     ? static_cast<float>(camera.targetHeight) /
                           static_cast<float>(camera.targetWidth) * camera.aspectFactor
                     : -1.0f;
  int screenWidth = 0;
  int screenHeight = 0;
  GetScreenModeSize(&screenWidth, &screenHeight);
  switch (camera.projectionMode) {
    case 0:
      MakeFovProjectionMatrix(&camera.projectionMatrix, camera.fieldOfView, camera.nearZ,
                              camera.farZ, aspect, screenWidth, screenHeight);
      break;
    case 1:
      MakeOrthoProjectionMatrix(&camera.projectionMatrix, camera.orthographicSize, camera.nearZ,
                                camera.farZ, aspect, screenWidth, screenHeight);
      break;
    default: break;
  }
  return SetProjectionMatrix(&camera.projectionMatrix);
}

int ChangeCameraNearFar(float nearZ, float farZ) {
  CameraSettings& camera = GetDrawSettings()->camera;
  camera.nearZ = nearZ;
  camera.farZ = farZ;
  return UpdateProjectionMatrix();
}

int ChangeCameraPerspective(float fieldOfView) {
  CameraSettings& camera = GetDrawSettings()->camera;
  camera.projectionMode = 0;
  camera.fieldOfView = fieldOfView;
  return UpdateProjectionMatrix();
}

int ChangeCameraProjectionMatrix(const Matrix4* matrix) {
  CameraSettings& camera = GetDrawSettings()->camera;
  camera.projectionMode = 2;
  camera.projectionMatrix = *matrix;
  return UpdateProjectionMatrix();
}

int UpdateCompositeMatrices() {
  DrawSettings* settings = GetDrawSettings();
  if (settings->compositeMatricesValid) return 0;
  Matrix4 product;
  MakeMatrixProduct(&product, &settings->viewMatrix, &settings->camera.projectionMatrix);
  MakeMatrixProduct(&settings->viewProjectionViewportMatrix, &product,
                    &settings->cameraViewportMatrix);
  MakeMatrixProduct(&settings->worldViewProjectionViewportMatrix, &settings->worldMatrix,
                    &settings->viewProjectionViewportMatrix);
  Matrix4 rotation{};
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column)
      rotation.m[row][column] = settings->viewMatrix.m[column][row];
  settings->viewRotationTransposed = rotation;
  settings->compositeMatricesValid = 1;
  return 0;
}

LightRecord* GetLightRecord(int light) {
  return FindEngineHandleRecord(light, lightKind, lightTable,
                                [](const LightRecord& record) { return record.check; });
}

int AllocateLightHandle() {
  int slot = FindFreeEngineHandleSlot(lightKind, lightTable, true);
  // A full table is refused rather than searched past its end.
  if (slot < 0) return -1;
  auto* record =
      static_cast<LightRecord*>(TrackedAllocZeroed(sizeof(LightRecord), __FILE__, __LINE__));
  if (record == nullptr) FatalErrorExit("ライト用のメモリの確保に失敗しました");
  D3DLIGHT9& light = record->light;
  light.Type = static_cast<D3DLIGHTTYPE>(0);
  light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  light.Specular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  light.Ambient = D3DCOLORVALUE{0.33f, 0.33f, 0.33f, 0.33f};
  light.Range = 2000.0f;
  light.Falloff = 1.0f;
  light.Attenuation0 = 0.1f;
  light.Theta = 2.0f;
  light.Phi = 2.0f;
  record->deviceIndex = -1;
  int check = 0;
  record->handle = IssueEngineHandle(lightKind, slot, &check);
  record->check = check;
  record->enabled = 1;
  record->changed = 1;
  lightTable[slot] = record;
  lightBlock.lightsChanged = 1;
  return record->handle;
}

int MakeDirectionalLight(float x, float y, float z) {
  int handle = AllocateLightHandle();
  if (handle == -1) return -1;
  LightRecord* record = GetLightRecord(handle);
  Vector3 direction{x, y, z};
  MakeNormalizedVector(&direction, &direction);
  record->light.Type = D3DLIGHT_DIRECTIONAL;
  record->light.Direction = D3DVECTOR{direction.x, direction.y, direction.z};
  return handle;
}

int FreeLightHandle(int light) {
  int slot = SlotOfLight(light);
  if (slot < 0) return -1;
  TrackedFree(lightTable[slot]);
  lightTable[slot] = nullptr;
  RetireEngineHandle(lightKind);
  if (slot == lightKind.highWater - 1) {
    int mark = slot;
    while (mark > 0 && lightTable[mark - 1] == nullptr) --mark;
    lightKind.highWater = mark;
  }
  lightBlock.lightsChanged = 1;
  return 0;
}

int FreeAllLightHandles() {
  for (int slot = 0; slot < kLightSlotLimit; ++slot) {
    LightRecord* record = lightTable[slot];
    if (record != nullptr && record->handle != lightBlock.defaultLight)
      FreeLightHandle(record->handle);
  }
  return 0;
}

int DeleteAllLights() {
  FreeAllLightHandles();
  if (lightBlock.defaultLight != -1) FreeLightHandle(lightBlock.defaultLight);
  lightBlock.defaultLight = -1;
  return 0;
}

int ApplyLightsToDevice() {
  SetLightingState(lightBlock.lightingOff ? 0 : 1);
  if (lightBlock.materialChanged) {
    SetMaterialState(&lightBlock.material);
    lightBlock.materialChanged = 0;
  }
  if (!lightBlock.lightsChanged && !lightBlock.forceReassign) return 0;
  int next = 0;
  static constexpr D3DLIGHTTYPE kOrder[3] = {D3DLIGHT_DIRECTIONAL, D3DLIGHT_SPOT, D3DLIGHT_POINT};
  for (D3DLIGHTTYPE type : kOrder) {
    for (int slot = 0; slot < lightKind.highWater; ++slot) {
      LightRecord* record = lightTable[slot];
      if (record == nullptr || !record->enabled || record->light.Type != type) continue;
      if (record->deviceIndex != next || record->changed || lightBlock.forceReassign) {
        record->deviceIndex = next;
        SetLightAndEnable(next, 1, &record->light);
        record->changed = 0;
      }
      ++next;
    }
  }
  for (int index = next; index <= lightBlock.highestAssigned; ++index)
    SetLightEnableState(index, 0);
  lightBlock.assignedCount = next;
  lightBlock.highestAssigned = next - 1;
  lightBlock.lightsChanged = 0;
  lightBlock.forceReassign = 0;
  return 0;
}

Vector3* TransformVector(Vector3* result, const Vector3* vector, const Matrix4* matrix) {
  const float(&m)[4][4] = matrix->m;
  Vector3 v = *vector;
  result->x = v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0] + m[3][0];
  result->y = v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1] + m[3][1];
  result->z = v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2] + m[3][2];
  return result;
}

Vector3* TransformVectorNoTranslation(Vector3* result, const Vector3* vector,
                                      const Matrix4* matrix) {
  const float(&m)[4][4] = matrix->m;
  Vector3 v = *vector;
  result->x = v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0];
  result->y = v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1];
  result->z = v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2];
  return result;
}

int BuildDisplayModeList(int* count, DisplayModeRecord** list) {
  if (*list != nullptr) TrackedFree(*list);
  *list = nullptr;
  *count = 0;
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  int wanted = 0;
  for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &mode); ++i)
    if (mode.dmBitsPerPel >= 16) ++wanted;
  if (wanted == 0) return 0;
  auto* records = static_cast<DisplayModeRecord*>(
      TrackedAlloc(static_cast<int64_t>(wanted) * static_cast<int64_t>(sizeof(DisplayModeRecord)),
                   __FILE__, __LINE__));
  if (records == nullptr) return 0;
  // The list is filled up to the counted number even if the platform's list grew meanwhile.
  int filled = 0;
  for (DWORD i = 0; filled < wanted && EnumDisplaySettingsA(nullptr, i, &mode); ++i) {
    if (mode.dmBitsPerPel < 16) continue;
    records[filled++] = DisplayModeRecord{
        static_cast<int32_t>(mode.dmPelsWidth), static_cast<int32_t>(mode.dmPelsHeight),
        static_cast<int32_t>(mode.dmBitsPerPel), static_cast<int32_t>(mode.dmDisplayFrequency)};
  }
  *list = records;
  *count = filled;
  return 0;
}

int FreeDisplayModeList() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.displayModes != nullptr) TrackedFree(core.displayModes);
  core.displayModes = nullptr;
  core.displayModeCount = 0;
  return 0;
}
