// The CPU device's resources: lock rules by pool, usage and role, the surface copies, the
// live-object accounting and leak report, device loss, and the capability and fault controls.
#include "platform/win32/kernel.h"
#include "tests/platform/d3d9_test_support.h"

namespace {

using D3D9ResourceTest = D3D9DeviceTest;

HRESULT LockAndUnlock(IDirect3DSurface9* surface) {
  D3DLOCKED_RECT locked;
  HRESULT hr = surface->LockRect(&locked, nullptr, 0);
  if (hr == D3D_OK) surface->UnlockRect();
  return hr;
}

void FillSurface(IDirect3DSurface9* surface, const std::function<std::uint32_t(int, int)>& pixel) {
  D3DSURFACE_DESC desc;
  surface->GetDesc(&desc);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
  for (UINT y = 0; y < desc.Height; ++y)
    for (UINT x = 0; x < desc.Width; ++x) {
      std::uint32_t v = pixel(static_cast<int>(x), static_cast<int>(y));
      std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &v, 4);
    }
  surface->UnlockRect();
}

std::uint32_t Pattern(int x, int y) { return 0xFF000000u | (x << 16) | (y << 8) | 0x7F; }

TEST_F(D3D9ResourceTest, LocksSucceedAndFailByPoolUsageAndRole) {
  struct Case {
    const char* what;
    std::function<IDirect3DSurface9*()> make;
    HRESULT expected;
  };
  auto textureLevel = [this](DWORD usage, D3DPOOL pool) {
    return [=, this]() -> IDirect3DSurface9* {
      IDirect3DTexture9* texture = nullptr;
      if (device->CreateTexture(16, 16, 1, usage, D3DFMT_A8R8G8B8, pool, &texture, nullptr) !=
          D3D_OK)
        return nullptr;
      IDirect3DSurface9* level = nullptr;
      texture->GetSurfaceLevel(0, &level);
      texture->Release();
      return level;
    };
  };
  const Case cases[] = {
      {"managed texture", textureLevel(0, D3DPOOL_MANAGED), D3D_OK},
      {"system-memory texture", textureLevel(0, D3DPOOL_SYSTEMMEM), D3D_OK},
      {"default texture", textureLevel(0, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL},
      {"dynamic default texture", textureLevel(D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT), D3D_OK},
      {"render-target texture", textureLevel(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT),
       D3DERR_INVALIDCALL},
      {"default plain surface",
       [this] {
         IDirect3DSurface9* s = nullptr;
         device->CreateOffscreenPlainSurface(8, 8, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &s, nullptr);
         return s;
       },
       D3D_OK},
      {"system-memory plain surface",
       [this] {
         IDirect3DSurface9* s = nullptr;
         device->CreateOffscreenPlainSurface(8, 8, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &s, nullptr);
         return s;
       },
       D3D_OK},
      {"lockable render target",
       [this] {
         IDirect3DSurface9* s = nullptr;
         device->CreateRenderTarget(8, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &s,
                                    nullptr);
         return s;
       },
       D3D_OK},
      {"render target",
       [this] {
         IDirect3DSurface9* s = nullptr;
         device->CreateRenderTarget(8, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &s,
                                    nullptr);
         return s;
       },
       D3DERR_INVALIDCALL},
      {"depth surface",
       [this] {
         IDirect3DSurface9* s = nullptr;
         device->CreateDepthStencilSurface(8, 8, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &s,
                                           nullptr);
         return s;
       },
       D3DERR_INVALIDCALL},
      {"lockable back buffer",
       [this] {
         backBuffer->AddRef();
         return backBuffer;
       },
       D3D_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IDirect3DSurface9* surface = c.make();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(LockAndUnlock(surface), c.expected);
    surface->Release();
  }
}

TEST_F(D3D9ResourceTest, LockRectChecksItsArguments) {
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                nullptr),
            D3D_OK);
  FillSurface(surface, Pattern);
  D3DLOCKED_RECT locked;
  RECT part = {2, 1, 5, 3};
  ASSERT_EQ(surface->LockRect(&locked, &part, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(locked.Pitch, 32);
  std::uint32_t first;
  std::memcpy(&first, locked.pBits, 4);
  EXPECT_EQ(first, Pattern(2, 1));
  EXPECT_EQ(surface->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
  EXPECT_EQ(surface->UnlockRect(), D3D_OK);
  EXPECT_EQ(surface->UnlockRect(), D3DERR_INVALIDCALL);
  const RECT bad[] = {{0, 0, 9, 4}, {-1, 0, 2, 2}, {3, 3, 3, 4}, {0, 2, 4, 1}};
  for (const RECT& r : bad) EXPECT_EQ(surface->LockRect(&locked, &r, 0), D3DERR_INVALIDCALL);
  surface->Release();
}

TEST_F(D3D9ResourceTest, BackBufferWithoutLockableFlagCannotBeLocked) {
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 8;
  p.BackBufferHeight = 8;
  p.BackBufferFormat = D3DFMT_X8R8G8B8;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.Windowed = TRUE;
  IDirect3DDevice9* other = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                              &other),
            D3D_OK);
  IDirect3DSurface9* buffer = nullptr;
  ASSERT_EQ(other->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &buffer), D3D_OK);
  EXPECT_EQ(LockAndUnlock(buffer), D3DERR_INVALIDCALL);
  buffer->Release();
  EXPECT_EQ(other->Release(), 0u);
}

TEST_F(D3D9ResourceTest, StretchRectCopiesAndScalesBetweenDefaultSurfaces) {
  IDirect3DSurface9 *source = nullptr, *target = nullptr, *readBack = nullptr;
  ASSERT_EQ(device->CreateRenderTarget(4, 4, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &source,
                                       nullptr),
            D3D_OK);
  ASSERT_EQ(device->CreateRenderTarget(8, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &target,
                                       nullptr),
            D3D_OK);
  FillSurface(source, Pattern);
  ASSERT_EQ(device->ColorFill(target, nullptr, 0xFF000000), D3D_OK);
  RECT to = {2, 2, 4, 4};
  ASSERT_EQ(device->StretchRect(source, nullptr, target, &to, D3DTEXF_NONE), D3D_OK);
  // The 4 x 4 source shrinks to 2 x 2 by taking the texel under each pixel centre.
  EXPECT_EQ(Pixel32(target, 2, 2), Pattern(1, 1));
  EXPECT_EQ(Pixel32(target, 3, 3), Pattern(3, 3));
  EXPECT_EQ(Pixel32(target, 1, 1), 0xFF000000u);
  ASSERT_EQ(device->StretchRect(source, nullptr, target, nullptr, D3DTEXF_POINT), D3D_OK);
  EXPECT_EQ(Pixel32(target, 5, 6), Pattern(2, 3));
  RECT from = {1, 1, 3, 3};
  RECT same = {0, 0, 2, 2};
  ASSERT_EQ(device->StretchRect(source, &from, target, &same, D3DTEXF_NONE), D3D_OK);
  EXPECT_EQ(Pixel32(target, 1, 0), Pattern(2, 1));

  // Back buffer into a render target, as the engine's lock test does, then read back.
  FillSurface(backBuffer, Pattern);
  RECT square = {0, 0, 4, 4};
  ASSERT_EQ(device->StretchRect(backBuffer, &square, source, nullptr, D3DTEXF_NONE), D3D_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &readBack,
                                                nullptr),
            D3D_OK);
  ASSERT_EQ(device->GetRenderTargetData(source, readBack), D3D_OK);
  EXPECT_EQ(Pixel32(readBack, 3, 2) | 0xFF000000u, Pattern(3, 2));

  // Refused: system memory as either end, the same surface, a rectangle outside.
  EXPECT_EQ(device->StretchRect(readBack, nullptr, target, nullptr, D3DTEXF_NONE),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->StretchRect(source, nullptr, readBack, nullptr, D3DTEXF_NONE),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->StretchRect(source, nullptr, source, nullptr, D3DTEXF_NONE),
            D3DERR_INVALIDCALL);
  RECT outside = {0, 0, 5, 5};
  EXPECT_EQ(device->StretchRect(source, &outside, target, nullptr, D3DTEXF_NONE),
            D3DERR_INVALIDCALL);
  readBack->Release();
  source->Release();
  target->Release();
}

TEST_F(D3D9ResourceTest, GetRenderTargetDataNeedsMatchingSystemMemorySurface) {
  IDirect3DSurface9 *target = nullptr, *small = nullptr, *plain = nullptr;
  ASSERT_EQ(device->CreateRenderTarget(8, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                       &target, nullptr),
            D3D_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &small,
                                                nullptr),
            D3D_OK);
  ASSERT_EQ(
      device->CreateOffscreenPlainSurface(8, 8, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &plain, nullptr),
      D3D_OK);
  EXPECT_EQ(device->GetRenderTargetData(target, small), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->GetRenderTargetData(target, plain), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->GetRenderTargetData(plain, small), D3DERR_INVALIDCALL);
  target->Release();
  small->Release();
  plain->Release();
}

TEST_F(D3D9ResourceTest, UpdateSurfaceCopiesSystemMemoryRectangleToPoint) {
  IDirect3DSurface9* source = nullptr;
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &source,
                                                nullptr),
            D3D_OK);
  ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                  &texture, nullptr),
            D3D_OK);
  IDirect3DSurface9* level = nullptr;
  texture->GetSurfaceLevel(0, &level);
  FillSurface(source, Pattern);
  ASSERT_EQ(device->ColorFill(level, nullptr, 0), D3D_OK);
  RECT from = {1, 1, 3, 4};
  POINT at = {5, 4};
  ASSERT_EQ(device->UpdateSurface(source, &from, level, &at), D3D_OK);
  // Read back through a render-target copy, since the texture cannot be locked.
  IDirect3DSurface9* readBack = nullptr;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &readBack,
                                                nullptr),
            D3D_OK);
  ASSERT_EQ(device->GetRenderTargetData(level, readBack), D3D_OK);
  EXPECT_EQ(Pixel32(readBack, 5, 4), Pattern(1, 1));
  EXPECT_EQ(Pixel32(readBack, 6, 6), Pattern(2, 3));
  EXPECT_EQ(Pixel32(readBack, 4, 4), 0u);
  EXPECT_EQ(Pixel32(readBack, 7, 7), 0u);
  POINT tooFar = {7, 7};
  EXPECT_EQ(device->UpdateSurface(source, &from, level, &tooFar), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->UpdateSurface(level, nullptr, source, nullptr), D3DERR_INVALIDCALL);
  readBack->Release();
  level->Release();
  texture->Release();
  source->Release();
}

TEST_F(D3D9ResourceTest, UpdateTextureCopiesEveryLevel) {
  IDirect3DTexture9 *staging = nullptr, *texture = nullptr, *wrongFormat = nullptr;
  ASSERT_EQ(
      device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging, nullptr),
      D3D_OK);
  ASSERT_EQ(device->CreateTexture(8, 8, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                  &texture, nullptr),
            D3D_OK);
  ASSERT_EQ(staging->GetLevelCount(), 4u);
  for (UINT level = 0; level < 4; ++level) {
    IDirect3DSurface9* surface = nullptr;
    staging->GetSurfaceLevel(level, &surface);
    FillSurface(surface, [level](int x, int y) { return Pattern(x, y) + level; });
    surface->Release();
  }
  ASSERT_EQ(device->UpdateTexture(staging, texture), D3D_OK);
  for (UINT level = 0; level < 4; ++level) {
    IDirect3DSurface9* surface = nullptr;
    texture->GetSurfaceLevel(level, &surface);
    UINT last = (8 >> level) - 1;
    EXPECT_EQ(Pixel32(surface, last, last), Pattern(last, last) + level);
    surface->Release();
  }
  ASSERT_EQ(
      device->CreateTexture(8, 8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &wrongFormat, nullptr),
      D3D_OK);
  EXPECT_EQ(device->UpdateTexture(wrongFormat, texture), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->UpdateTexture(texture, staging), D3DERR_INVALIDCALL);
  wrongFormat->Release();
  staging->Release();
  texture->Release();
}

TEST_F(D3D9ResourceTest, ColorFillIgnoresTheViewportAndNeedsTheDefaultPool) {
  D3DVIEWPORT9 viewport = {0, 0, 4, 4, 0.0f, 1.0f};
  device->SetViewport(&viewport);
  RECT area = {10, 10, 20, 12};
  ASSERT_EQ(device->ColorFill(backBuffer, &area, 0xFF00FF00), D3D_OK);
  EXPECT_EQ(Pixel(10, 10), 0xFF00FF00u);
  EXPECT_EQ(Pixel(19, 11), 0xFF00FF00u);
  EXPECT_EQ(Pixel(20, 11), 0xFF000000u);
  IDirect3DSurface9* system = nullptr;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &system,
                                                nullptr),
            D3D_OK);
  EXPECT_EQ(device->ColorFill(system, nullptr, 0), D3DERR_INVALIDCALL);
  system->Release();
}

TEST_F(D3D9ResourceTest, LiveObjectsAreCountedAndADeviceReleasedWithChildrenIsReported) {
  int surfaces = D3D9GetLiveObjectCount(D3D9ObjectKind::Surface);
  IDirect3DTexture9* texture = nullptr;
  IDirect3DSurface9* plain = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
            D3D_OK);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &plain,
                                                nullptr),
            D3D_OK);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), 1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Surface), surfaces + 1);
  plain->Release();
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Surface), surfaces);

  // The texture outlives the device: the release is reported and the texture still goes cleanly.
  backBuffer->Release();
  backBuffer = nullptr;
  EXPECT_EQ(device->Release(), 0u);
  device = nullptr;
  EXPECT_EQ(D3D9GetLeakReportCount(), 1);
  EXPECT_EQ(D3D9GetLastLeakedObjectCount(), 1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::SwapChain), 0);
  D3DLOCKED_RECT locked;
  EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
  texture->UnlockRect(0);
  EXPECT_EQ(texture->Release(), 0u);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Surface), 0);
}

TEST_F(D3D9ResourceTest, ADeviceReleasedCleanlyIsNotReported) {
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
            D3D_OK);
  device->SetTexture(0, texture);
  texture->Release();  // still bound: the device holds it
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), 1);
  ReleaseDevice();
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Direct3D), 0);
}

TEST_F(D3D9ResourceTest, InjectedLossFailsPresentAndDefaultLocksUntilANewDevice) {
  IDirect3DSwapChain9* chain = nullptr;
  ASSERT_EQ(device->GetSwapChain(0, &chain), D3D_OK);
  IDirect3DTexture9* managed = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed, nullptr),
            D3D_OK);
  D3D9InjectDeviceLoss();
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr, 0), D3DERR_DEVICELOST);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
  EXPECT_EQ(DrawColorQuad(0, 0, 8, 8, 0xFFFFFFFF), D3D_OK);
  EXPECT_EQ(LockAndUnlock(backBuffer), D3DERR_DEVICELOST);
  D3DLOCKED_RECT locked;
  EXPECT_EQ(managed->LockRect(0, &locked, nullptr, 0), D3D_OK);
  managed->UnlockRect(0);
  managed->Release();
  chain->Release();

  MakeDevice(8, 8, D3DFMT_X8R8G8B8);
  EXPECT_EQ(D3D9GetDeviceCreationCount(), 2);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(D3D9ResourceTest, CreationFaultsFailTheNextCallsOnly) {
  D3D9FailNextCalls(D3D9Call::Direct3DCreate9, 1);
  EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
  IDirect3D9* again = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(again, nullptr);
  again->Release();
  EXPECT_EQ(Direct3DCreate9(31), nullptr);

  D3D9FailNextCalls(D3D9Call::CreateTexture, 2);
  IDirect3DTexture9* texture = nullptr;
  for (HRESULT expected : {D3DERR_OUTOFVIDEOMEMORY, D3DERR_OUTOFVIDEOMEMORY, D3D_OK}) {
    EXPECT_EQ(
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        expected);
  }
  texture->Release();
  D3D9FailNextCalls(D3D9Call::CreateDepthStencilSurface, 1);
  IDirect3DSurface9* depth = nullptr;
  EXPECT_EQ(device->CreateDepthStencilSurface(64, 64, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE,
                                              &depth, nullptr),
            D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(depth, nullptr);

  D3D9FailNextCalls(D3D9Call::CreateDevice, 1);
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 8;
  p.BackBufferHeight = 8;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.Windowed = TRUE;
  IDirect3DDevice9* other = nullptr;
  EXPECT_EQ(
      d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_MIXED_VERTEXPROCESSING, &p, &other),
      D3DERR_NOTAVAILABLE);
  EXPECT_EQ(other, nullptr);
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                              &other),
            D3D_OK);
  EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);  // the desktop's format was filled in
  other->Release();
}

TEST_F(D3D9ResourceTest, DefaultCapabilitiesAndFormats) {
  D3DCAPS9 caps;
  ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_LT(caps.VertexShaderVersion & 0xFFFF, 0x200u);
  EXPECT_LT(caps.PixelShaderVersion & 0xFFFF, 0x200u);
  EXPECT_EQ(caps.MaxTextureWidth, 2048u);
  EXPECT_EQ(caps.MaxTextureHeight, 2048u);
  EXPECT_NE(caps.PrimitiveMiscCaps & D3DPMISCCAPS_BLENDOP, 0u);
  EXPECT_NE(caps.PrimitiveMiscCaps & D3DPMISCCAPS_TSSARGTEMP, 0u);
  EXPECT_EQ(caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY, 0u);
  struct Case {
    D3DFORMAT format;
    DWORD usage;
    HRESULT expected;
  };
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, 0, D3D_OK},
      {D3DFMT_X8R8G8B8, 0, D3D_OK},
      {D3DFMT_R5G6B5, 0, D3D_OK},
      {D3DFMT_X1R5G5B5, 0, D3D_OK},
      {D3DFMT_A1R5G5B5, 0, D3D_OK},
      {D3DFMT_A4R4G4B4, 0, D3D_OK},
      {D3DFMT_A8R8G8B8, D3DUSAGE_RENDERTARGET, D3D_OK},
      {D3DFMT_R5G6B5, D3DUSAGE_RENDERTARGET, D3D_OK},
      {D3DFMT_DXT1, 0, D3DERR_NOTAVAILABLE},
      {D3DFMT_DXT5, 0, D3DERR_NOTAVAILABLE},
      {D3DFMT_YUY2, 0, D3DERR_NOTAVAILABLE},
      {D3DFMT_R8G8B8, 0, D3DERR_NOTAVAILABLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, c.usage, D3DRTYPE_TEXTURE,
                                     c.format),
              c.expected);
  }
  EXPECT_EQ(
      d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D16),
      D3D_OK);
  IDirect3DSurface9* yuv = nullptr;
  EXPECT_EQ(
      device->CreateOffscreenPlainSurface(16, 16, D3DFMT_YV12, D3DPOOL_DEFAULT, &yuv, nullptr),
      D3DERR_NOTAVAILABLE);
  IDirect3DTexture9* big = nullptr;
  EXPECT_EQ(device->CreateTexture(4096, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &big, nullptr),
            D3DERR_INVALIDCALL);
  D3DADAPTER_IDENTIFIER9 id;
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
  EXPECT_STRNE(id.Description, "");
}

TEST_F(D3D9ResourceTest, CapabilityControlsChangeWhatIsReportedAndEnforced) {
  D3D9ClearPrimitiveMiscCaps(D3DPMISCCAPS_BLENDOP);
  D3D9SetMaxTextureSize(0, 0);
  D3D9SetSquareTexturesOnly(true);
  D3D9SetFormatRefused(D3DFMT_A1R5G5B5, true);
  D3DCAPS9 caps;
  ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
  EXPECT_EQ(caps.PrimitiveMiscCaps & D3DPMISCCAPS_BLENDOP, 0u);
  EXPECT_NE(caps.PrimitiveMiscCaps & D3DPMISCCAPS_TSSARGTEMP, 0u);
  EXPECT_EQ(caps.MaxTextureWidth, 0u);
  EXPECT_NE(caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY, 0u);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE,
                                   D3DFMT_A1R5G5B5),
            D3DERR_NOTAVAILABLE);
  IDirect3DTexture9* texture = nullptr;
  EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A1R5G5B5, D3DPOOL_MANAGED, &texture, nullptr),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(device->CreateTexture(8, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
            D3DERR_INVALIDCALL);
  ASSERT_EQ(
      device->CreateTexture(4096, 4096, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
      D3D_OK);
  texture->Release();

  D3D9SetDxtSupported(true);
  EXPECT_EQ(
      d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_DXT1),
      D3D_OK);
  ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture, nullptr),
            D3D_OK);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
  EXPECT_EQ(locked.Pitch, 16);  // two 8-byte blocks per block row
  texture->UnlockRect(0);
  texture->Release();
}

TEST_F(D3D9ResourceTest, ShaderObjectsNeedShaderModelTwo) {
  const DWORD vertexCode[] = {D3DVS_VERSION(2, 0), 0x12345678, 0x0000FFFF};
  const DWORD pixelCode[] = {D3DPS_VERSION(2, 0), 0x0000FFFF};
  IDirect3DVertexShader9* vs = nullptr;
  IDirect3DPixelShader9* ps = nullptr;
  EXPECT_EQ(device->CreateVertexShader(vertexCode, &vs), D3DERR_INVALIDCALL);
  D3D9SetShaderModel2(true);
  D3DCAPS9 caps;
  device->GetDeviceCaps(&caps);
  EXPECT_EQ(caps.VertexShaderVersion & 0xFFFF, 0x200u);
  ASSERT_EQ(device->CreateVertexShader(vertexCode, &vs), D3D_OK);
  EXPECT_EQ(device->CreatePixelShader(vertexCode, &ps), D3DERR_INVALIDCALL);
  EXPECT_EQ(ps, nullptr);
  ASSERT_EQ(device->CreatePixelShader(pixelCode, &ps), D3D_OK);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexShader), 1);
  // Shaders are stored, never run: a draw with one set is counted as unsupported.
  device->SetVertexShader(vs);
  int before = D3D9GetCallCount(D3D9Counter::UnsupportedDraw);
  EXPECT_EQ(DrawColorQuad(0, 0, 8, 8, 0xFFFFFFFF), D3D_OK);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::UnsupportedDraw), before + 1);
  EXPECT_EQ(Pixel(1, 1), 0xFF000000u);
  device->SetVertexShader(nullptr);
  const float constants[8] = {0, 1, 0, 0, 0, 0.5f, 1, 2};
  EXPECT_EQ(device->SetVertexShaderConstantF(0, constants, 2), D3D_OK);
  EXPECT_EQ(device->SetPixelShaderConstantF(224, constants, 1), D3DERR_INVALIDCALL);
  vs->Release();
  ps->Release();
}

TEST_F(D3D9ResourceTest, ModuleExportsCreate9AndCreate9ExOnlyWhenSwitchedOn) {
  HMODULE module = LoadLibraryA("d3d9.dll");
  ASSERT_NE(module, nullptr);
  auto create =
      reinterpret_cast<Direct3DCreate9Function>(GetProcAddress(module, "Direct3DCreate9"));
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(GetProcAddress(module, "Direct3DCreate9Ex"), nullptr);
  IDirect3D9* object = create(D3D_SDK_VERSION);
  ASSERT_NE(object, nullptr);
  object->Release();

  D3D9ExportCreate9Ex(true);
  auto createEx =
      reinterpret_cast<Direct3DCreate9ExFunction>(GetProcAddress(module, "Direct3DCreate9Ex"));
  ASSERT_NE(createEx, nullptr);
  IDirect3D9Ex* ex = nullptr;
  ASSERT_EQ(createEx(D3D_SDK_VERSION, &ex), D3D_OK);
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 8;
  p.BackBufferHeight = 8;
  p.BackBufferFormat = D3DFMT_X8R8G8B8;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.Windowed = TRUE;
  IDirect3DDevice9Ex* exDevice = nullptr;
  ASSERT_EQ(ex->CreateDeviceEx(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                               nullptr, &exDevice),
            D3D_OK);
  EXPECT_EQ(exDevice->SetMaximumFrameLatency(1), D3D_OK);
  // An Ex device has no managed pool: the engine stages its textures instead.
  IDirect3DTexture9* texture = nullptr;
  EXPECT_EQ(
      exDevice->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
      D3DERR_INVALIDCALL);
  exDevice->Release();
  ex->Release();
  D3D9ExportCreate9Ex(false);
  EXPECT_EQ(GetProcAddress(module, "Direct3DCreate9Ex"), nullptr);
  FreeLibrary(module);
}

TEST_F(D3D9ResourceTest, StateSetsAreCountedAndReadBack) {
  D3D9ResetCounters();
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  device->SetSamplerState(3, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  EXPECT_EQ(D3D9GetRenderStateSetCount(D3DRS_ZFUNC), 2);
  EXPECT_EQ(D3D9GetSamplerStateSetCount(3, D3DSAMP_MAGFILTER), 1);
  EXPECT_EQ(D3D9GetTextureStageStateSetCount(1, D3DTSS_COLOROP), 1);
  DWORD value = 0;
  ASSERT_EQ(device->GetSamplerState(3, D3DSAMP_MAGFILTER, &value), D3D_OK);
  EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_LINEAR));
  ASSERT_EQ(device->GetRenderState(D3DRS_ALPHAFUNC, &value), D3D_OK);
  EXPECT_EQ(value, static_cast<DWORD>(D3DCMP_ALWAYS));
  EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(500), 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetSamplerState(16, D3DSAMP_MAGFILTER, 1), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResourceTest, ViewportMustFitTheRenderTargetAndFollowsIt) {
  D3DVIEWPORT9 tooWide = {32, 0, 40, 10, 0.0f, 1.0f};
  EXPECT_EQ(device->SetViewport(&tooWide), D3DERR_INVALIDCALL);
  D3DVIEWPORT9 part = {8, 8, 8, 8, 0.0f, 1.0f};
  ASSERT_EQ(device->SetViewport(&part), D3D_OK);
  IDirect3DSurface9* target = nullptr;
  ASSERT_EQ(device->CreateRenderTarget(16, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                       &target, nullptr),
            D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
  D3DVIEWPORT9 now;
  device->GetViewport(&now);
  EXPECT_EQ(now.Width, 16u);
  EXPECT_EQ(now.Height, 8u);
  IDirect3DSurface9* plain = nullptr;
  ASSERT_EQ(
      device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &plain, nullptr),
      D3D_OK);
  EXPECT_EQ(device->SetRenderTarget(0, plain), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
  device->SetRenderTarget(0, backBuffer);
  plain->Release();
  target->Release();
}

TEST_F(D3D9ResourceTest, BuffersVolumesAndDeclarationsAreStored) {
  IDirect3DVertexBuffer9* vb = nullptr;
  ASSERT_EQ(
      device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0x2D2, D3DPOOL_DEFAULT, &vb, nullptr),
      D3D_OK);
  void* data = nullptr;
  ASSERT_EQ(vb->Lock(16, 16, &data, 0), D3D_OK);
  EXPECT_EQ(vb->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Unlock(), D3D_OK);
  EXPECT_EQ(vb->Lock(60, 8, &data, 0), D3DERR_INVALIDCALL);
  vb->Release();
  IDirect3DIndexBuffer9* ib = nullptr;
  EXPECT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &ib, nullptr),
            D3DERR_INVALIDCALL);
  ASSERT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr),
            D3D_OK);
  ib->Release();

  IDirect3DVolumeTexture9 *source = nullptr, *volume = nullptr;
  ASSERT_EQ(device->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &source,
                                        nullptr),
            D3D_OK);
  ASSERT_EQ(device->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &volume,
                                        nullptr),
            D3D_OK);
  D3DLOCKED_BOX box;
  ASSERT_EQ(source->LockBox(0, &box, nullptr, 0), D3D_OK);
  EXPECT_EQ(box.RowPitch, 16);
  EXPECT_EQ(box.SlicePitch, 64);
  static_cast<std::uint8_t*>(box.pBits)[3 * 64 + 2 * 16 + 4] = 0xAB;
  source->UnlockBox(0);
  EXPECT_EQ(volume->LockBox(0, &box, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->UpdateTexture(source, volume), D3D_OK);
  source->Release();
  volume->Release();

  const D3DVERTEXELEMENT9 elements[] = {
      {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
  IDirect3DVertexDeclaration9* decl = nullptr;
  ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), D3D_OK);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexDeclaration), 1);
  decl->Release();
}

}  // namespace
