// The transforms of the draw settings (world, view, projection, camera viewport and their
// composites), the projection built from the camera values, the light handles and their
// assignment to device lights, vector transforms and the display-mode list.
#pragma once

#include <cstdint>

#include "graphics/graphics_state.h"
#include "system/math.h"

constexpr int kLightSlotLimit = 4096;

struct LightRecord {
  int32_t check;
  int32_t handle;
  D3DLIGHT9 light;
  int32_t deviceIndex;  // -1 while not assigned
  int32_t enabled;
  int32_t changed;
};

// Kept across ResetDrawSettings.
struct LightBlock {
  int32_t lightingOff;
  int32_t materialChanged;
  D3DMATERIAL9 material;
  int32_t lightsChanged;
  int32_t forceReassign;
  int32_t defaultLight;
  int32_t assignedCount;
  int32_t highestAssigned;  // -1 when none
};

LightBlock& GetLightBlock();

int SetWorldMatrix(const Matrix4* matrix);
int SetViewMatrix(const Matrix4* matrix);
int SetProjectionMatrix(const Matrix4* matrix);
int SetViewportMatrix(const Matrix4* matrix);
int SetCameraViewportCentre(float x, float y);
int UpdateProjectionMatrix();
int ChangeCameraNearFar(float nearZ, float farZ);
int ChangeCameraPerspective(float fieldOfView);
int ChangeCameraProjectionMatrix(const Matrix4* matrix);
int UpdateCompositeMatrices();
// Sends projection x camera viewport x inverse draw-area viewport to the device.
int SendCombinedProjection();

// -1 when the table is full.
int AllocateLightHandle();
int MakeDirectionalLight(float x, float y, float z);
int FreeLightHandle(int light);
int FreeAllLightHandles();
// Deletes every light, the default light too (its handle becomes -1).
int DeleteAllLights();
LightRecord* GetLightRecord(int light);
int ApplyLightsToDevice();

Vector3* TransformVector(Vector3* result, const Vector3* vector, const Matrix4* matrix);
Vector3* TransformVectorNoTranslation(Vector3* result, const Vector3* vector,
                                      const Matrix4* matrix);

int BuildDisplayModeList(int* count, DisplayModeRecord** list);
int FreeDisplayModeList();
