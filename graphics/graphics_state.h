// The graphics device layer's global state: the screen mode, the DirectDraw, Direct3D and device
// objects, the texture formats chosen at device creation, what the device can do, the
// presentation state and the software mode's screen images; and the start-up, rebuild and
// shutdown calls that own them.
#pragma once

#include <cstdint>

#include "files/memimg.h"
#include "platform/d3d9/d3d9.h"
#include "platform/ddraw/ddraw.h"
#include "platform/win32/win32_types.h"

// Indices of the TextureFormatTable: one Direct3D format per texture kind.
enum TextureFormatIndex : int {
  kTextureFormatColor16 = 0,
  kTextureFormatColor32 = 1,
  kTextureFormatAlpha16 = 2,
  kTextureFormatAlpha32 = 3,
  kTextureFormatAlphaTest16 = 4,
  kTextureFormatAlphaTest32 = 5,
  kTextureFormatDXT1 = 6,
  kTextureFormatDXT2 = 7,
  kTextureFormatDXT3 = 8,
  kTextureFormatDXT4 = 9,
  kTextureFormatDXT5 = 10,
  kTextureFormatRenderTarget16 = 11,
  kTextureFormatRenderTarget32 = 12,
  kTextureFormatRenderTargetAlpha32 = 13,
  kTextureFormatRenderTargetScreen = 14,
  kTextureFormatAlphaTestScreen = 15,
  kTextureFormatCount = 16,
};

// Render-target entries (11-13) may be D3DFMT_UNKNOWN: no such format.
struct TextureFormatTable {
  D3DFORMAT formats[kTextureFormatCount];
};

struct DisplayModeRecord {
  int32_t width;
  int32_t height;
  int32_t colorBits;
  int32_t refreshRate;
};

// The software mode's screen images: the primary screen and two work images of the text path.
enum SoftwareScreenImage : int {
  kSoftwareScreenPrimary = 0,
  kSoftwareScreenWork = 1,
  kSoftwareScreenWorkAlpha = 2,
  kSoftwareScreenImageCount = 3,
};

struct GraphicsCoreState {
  // Screen mode; 0 means unset (640 x 480, 16 bits at start).
  int32_t screenWidth;
  int32_t screenHeight;
  int32_t screenColorBits;
  int32_t refreshRate;

  int32_t initialised;
  int32_t direct3DActive;  // 1 while the Direct3D device is in use, 0 in software mode
  int32_t softwareSwitch;  // SetUseHardwareGraphics(0) before the start
  int32_t request320x240;  // 320 x 240 full screen shown doubled on 640 x 480
  int32_t presentSourceRectSet;
  RECT presentSourceRect;
  int32_t rebuildInPlace;
  int32_t dialogBoxMode;

  HMODULE d3d9Module;
  IDirectDraw7* directDraw;
  IDirect3D9* direct3D;
  IDirect3D9Ex* direct3DEx;
  IDirect3DDevice9* device;
  IDirect3DDevice9Ex* deviceEx;
  IDirect3DSwapChain9* swapChain;
  IDirect3DSurface9* backBuffer;
  IDirect3DSurface9* subBackBuffer;
  IDirect3DSurface9* depthSurface;
  int32_t depthWidth;
  int32_t depthHeight;
  D3DFORMAT screenFormat;
  D3DFORMAT depthFormat;
  TextureFormatTable textureFormats;
  D3DCAPS9 caps;
  int32_t tempRegisterSupported;
  int32_t nativeSubtractBlend;
  int32_t maxTextureWidth;
  int32_t maxTextureHeight;
  int32_t maxTextureSize;
  int32_t hardwareVertexProcessing;
  int32_t vertexShader20;
  int32_t pixelShader20;
  int32_t shadersInUse;  // the programmable-shader bookkeeping is on (never drawn with)
  int32_t useBackBufferLock;

  // Device-creation settings that nothing in the program sets.
  int32_t adapterChoice;
  int32_t adapterIndex;
  int32_t multithreadedDevice;
  int32_t softwareVertexProcessingOnly;
  int32_t keepFpuState;
  int32_t multiSampleType;
  int32_t multiSampleQuality;
  int32_t compositionAlwaysOff;

  // Presentation.
  int64_t refreshPeriod;      // microseconds, -1 while not measured
  int64_t lastVerticalBlank;  // microseconds
  RECT lastSourceRect;
  int32_t inScene;

  // A rebuild that could not bring Direct3D back keeps the device marked lost and retries.
  int32_t deviceLost;
  uint32_t lastRebuildAttempt;  // milliseconds

  // Software mode.
  MEMIMG softwareScreen[kSoftwareScreenImageCount];
  MEMIMG* softwareDrawTarget;

  DisplayModeRecord* displayModes;
  int32_t displayModeCount;
};

GraphicsCoreState& GraphicsCore();

// 1 while drawing goes to the Direct3D device, 0 in software mode or without a device.
int IsDirect3DMode();
// 1 while the graphics system runs in software mode (MEMIMG screen presented through GDI).
int IsSoftwareMode();
// The format chosen for a texture kind (TextureFormatIndex), D3DFMT_UNKNOWN for none.
D3DFORMAT GetTextureFormat(int index);
// The largest texture side (the smaller of the device's maximum width and height; 256 without).
int GetMaxTextureSize();
// The device's back buffer and depth surface (null without a device).
IDirect3DSurface9* GetBackBufferSurface();
IDirect3DSurface9* GetDepthSurface();

// The software draw target: the primary screen image, a graph's MEMIMG or the mask image.
MEMIMG* GetSoftwareDrawTarget();
int SetSoftwareDrawTarget(MEMIMG* image);
MEMIMG* GetSoftwareScreenImage(int which);

// -1 when d3d9.dll or DirectDraw cannot be had; software mode is a success.
int StartGraphicsSystem();
// The Direct3D device, or null without one (software mode, or before the start).
IDirect3DDevice9* GetDirect3DDevice9();
int GetSoftwareRenderingSetting();

int StartDirect3D();
int CreateDirectDrawObject();
int CreateDirect3DObject();
int CreateDepthBuffer();
int CreateSoftwareScreenImages();
int ReleaseSoftwareScreenImages();
