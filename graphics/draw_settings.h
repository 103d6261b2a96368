// The draw settings block: how the next draw is made (target, area, blend, brightness), the
// create-graph settings, fog, filter, depth and addressing states, the camera values and the
// transforms. The software kernels read the draw area, blend mode, blend parameter and draw
// brightness straight from it.
#pragma once

#include <cstdint>

#include "platform/win32/win32_types.h"
#include "softrender/software_kernels.h"
#include "system/math.h"

struct ColorFormat;
struct MEMIMG;

using GraphReloadCallback = int (*)();

// Camera values of the block; the camera code fills and reads them.
struct CameraSettings {
  int32_t targetWidth;
  int32_t targetHeight;
  float cameraAspect;
  int32_t projectionMode;  // 0 perspective, 1 orthographic, 2 user matrix
  float nearZ;
  float farZ;
  float aspectFactor;
  float fieldOfView;  // radians
  float orthographicSize;
  Matrix4 projectionMatrix;  // row-major; the user matrix in mode 2
};

struct DrawDepthSettings {
  int32_t zEnable;
  int32_t zWrite;
  int32_t zFunction;
  int32_t depthBias;
};

struct DrawSettings {
  GraphReloadCallback graphReloadCallback;
  int32_t drawTarget;  // -2 back buffer, -4 front screen, or a graph handle
  int32_t drawOffsetX;
  int32_t drawOffsetY;
  RECT drawArea;           // right and bottom exclusive
  float drawAreaFloat[4];  // left, top, right, bottom
  CameraSettings camera;
  DrawDepthSettings depth2D;
  DrawDepthSettings depth3D;
  int32_t fillMode;
  int32_t cullMode;
  int32_t textureAddressU[8];
  int32_t textureAddressV[8];
  int32_t textureAddressW[8];
  int32_t fogEnable;
  int32_t fogMode;
  uint32_t fogColor;  // 0xAARRGGBB
  float fogStart;
  float fogEnd;
  float drawDepth2D;
  int32_t filterMode;  // 0 nearest, 1 bilinear, 2 anisotropic
  int32_t maxAnisotropy;
  int32_t blendMode;
  int32_t blendParam;  // 0-255
  int32_t blendGraph;  // graph handle or -1
  int32_t blendBorderParam;
  int32_t blendBorderRange;
  int32_t blendGraphOffsetX;
  int32_t blendGraphOffsetY;
  int32_t alphaTestFunction;  // -1 selects the blend mode's default alpha test
  int32_t alphaTestReference;
  int32_t specularOff;
  // Blue, green, red, spare: read as one little-endian word it is 0x00RRGGBB.
  uint8_t drawBrightness[4];
  int32_t createGraphColorBits;  // 0 = the screen's depth, else 16 or 32
  int32_t resetFlag;
  int32_t createDrawValidGraph;
  int32_t drawValidAlpha;
  int32_t blendParamAsAlpha;
  int32_t emptyGraphAlpha;
  int32_t useAlphaTestFormat;
  int32_t movieGraphCreationFlag;
  int32_t createBlendImage;
  int32_t useSystemMemoryStaging;
  int32_t transparentColorFromTopLeft;
  int32_t savedWord;
  int32_t noVerticalSync;
  int32_t verticalSyncRequest;
  int32_t emulation320x240;
  uint32_t transparentColor;  // 0x00RRGGBB
  int32_t noTransparentColor;
  int32_t transparentToAlpha;
  int32_t drawSuppression;
  int32_t drawAreaEmpty;
  int32_t worldMatrixSet;
  Matrix4 worldMatrix;
  int32_t viewMatrixSet;
  Matrix4 viewMatrix;
  int32_t projectionMatrixSet;
  Matrix4 projectionMatrix;  // as sent to the device
  Matrix4 cameraViewportMatrix;
  Matrix4 drawAreaViewportMatrix;
  Matrix4 inverseDrawAreaViewportMatrix;
  Matrix4 textureTransformMatrix[2];
  int32_t compositeMatricesValid;
  Matrix4 worldViewProjectionViewportMatrix;
  Matrix4 viewProjectionViewportMatrix;
  Matrix4 viewRotationTransposed;
  float cameraScreenCenter[2];
  int32_t deviceRecreated;  // 1 after every device rebuild; the light code re-assigns
};

DrawSettings* GetDrawSettings();

int SetDrawBrightnessPacked(uint32_t rgb);
// Mode 0-14 (else -1, nothing changed); the parameter is clamped to 0-255.
int SetBlendModeAndParam(int mode, int param);
// -1 (nothing changed) for a graph that is not live or, in Direct3D mode, not texture-backed.
int SetBlendGraph(int graph, int borderParam, int borderRange);
// The software mode's blend image (the blend graph's MEMIMG), null without one.
const MEMIMG* GetSoftwareBlendImage();
int SetDrawFilterMode(int mode);
int GetDrawFilterMode();
int ChangeFogMode(int mode);
int ChangeFogColor(int red, int green, int blue);
int ChangeFogRange(float start, float end);
int SetCreateGraphColorBits(int bits);
int GetCreateGraphColorBits();
int SetCreateDrawValidGraph(int flag);
int GetCreateDrawValidGraph();
int SetUseAlphaTestFormat(int flag);
int GetUseAlphaTestFormat();
int SetEmptyGraphAlpha(int flag);
int GetEmptyGraphAlpha();
int SetUseSystemMemoryStaging(int flag);
int GetUseSystemMemoryStaging();
int SetUseTransparentColor(int flag);
int SetTransparentColor(int red, int green, int blue);
int GetMovieGraphCreationFlag();
int SetEmulation320x240(int flag);
int SetWaitForVerticalSync(int flag);
int GetWaitForVerticalSync();
int SetUseHardwareGraphics(int flag);
int GetUseHardwareGraphics();
int GetScreenModeInfo(int* width, int* height, int* bits);
int GetDrawTarget();
uint32_t MakeScreenColorCode(int red, int green, int blue);
int SplitScreenColorCode(uint32_t code, int* red, int* green, int* blue);
// The format of the screen colour codes (null before the graphics start), and the two calls above
// on a format fetched once, for code that makes or splits several.
const ColorFormat* GetScreenColorCodeFormat();
uint32_t MakeColorCodeForFormat(const ColorFormat* format, int red, int green, int blue);
int SplitColorCodeForFormat(const ColorFormat* format, uint32_t code, int* red, int* green,
                            int* blue);
float* MakeFloatColor(float* color, float red, float green, float blue, float alpha);
int ResetDrawSettings();
// The batch's vertex colour from the blend mode, blend parameter and draw brightness (Direct3D).
void RefreshVertexColor();
// The rectangle last passed to SetDrawClipRect, before clamping.
RECT GetRequestedDrawArea();
// 1 / width and 1 / height of the blend graph's first texture, for the blend texture coordinates.
void GetBlendTextureScale(float* u, float* v);

// The draw brightness as the kernels read it: 0x00RRGGBB, 0xFFFFFF for no modulation.
inline uint32_t GetDrawBrightnessRGB(const DrawSettings* settings) {
  return settings->drawBrightness[0] | (uint32_t{settings->drawBrightness[1]} << 8) |
         (uint32_t{settings->drawBrightness[2]} << 16);
}

// Null installs the default reload of graphs after the device is lost.
int SetGraphReloadCallback(GraphReloadCallback callback);
// The 320 x 240 request shown as a doubled 640 x 480 mode.
int SetScreen320x240Emulation(int on);
int SetDrawClipRect(int left, int top, int right, int bottom);

// What the software kernels read of the draw settings.
inline KernelDrawSettings GetKernelDrawSettings(const DrawSettings* settings) {
  return KernelDrawSettings{settings->blendMode, settings->blendParam,
                            GetDrawBrightnessRGB(settings), settings->drawArea};
}
