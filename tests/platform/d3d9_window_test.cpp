// The CPU device presenting into a real window (SDL's dummy driver here): the frame is scaled to
// the client area, shown on the window's SDL surface and kept for read-back.
#include <SDL.h>

#include "platform/clock.h"
#include "platform/win32/gdi_present.h"
#include "platform/win32/user.h"
#include "tests/platform/d3d9_test_support.h"

namespace {

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

class D3D9WindowTest : public D3D9DeviceTest {
 protected:
  void SetUp() override {
    D3D9ResetControls();
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = PlainProc;
    c.lpszClassName = "D3D9WindowTestClass";
    RegisterClassExA(&c);
    window = CreateWindowExA(0, "D3D9WindowTestClass", "d3d9", WS_POPUP | WS_VISIBLE, 0, 0, 320,
                             240, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    D3D9DeviceTest::TearDown();
    DestroyWindow(window);
    UnregisterClassA("D3D9WindowTestClass", nullptr);
  }
  void MakeWindowDevice(UINT width, UINT height) {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.Windowed = TRUE;
    p.hDeviceWindow = window;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                &device),
              D3D_OK);
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  }
  HWND window = nullptr;
};

std::uint32_t SurfacePixel(SDL_Surface* surface, int x, int y) {
  Uint32 pixel;
  std::memcpy(&pixel, static_cast<Uint8*>(surface->pixels) + y * surface->pitch + x * 4, 4);
  Uint8 r, g, b;
  SDL_GetRGB(pixel, surface->format, &r, &g, &b);
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

TEST_F(D3D9WindowTest, BackBufferOfZeroSizeTakesTheClientArea) {
  MakeWindowDevice(0, 0);
  D3DSURFACE_DESC desc;
  backBuffer->GetDesc(&desc);
  EXPECT_EQ(desc.Width, 320u);
  EXPECT_EQ(desc.Height, 240u);
}

TEST_F(D3D9WindowTest, PresentScalesTheFrameToTheClientAreaAndShowsIt) {
  MakeWindowDevice(160, 120);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
  ASSERT_EQ(DrawColorQuad(10, 20, 30, 40, 0xFFFF8000), D3D_OK);
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  D3D9Image image;
  ASSERT_TRUE(D3D9GetLastPresentedImage(&image));
  ASSERT_EQ(image.width, 320);
  ASSERT_EQ(image.height, 240);
  SDL_Surface* surface = SDL_GetWindowSurface(GetPlatformSDLWindow(window));
  ASSERT_NE(surface, nullptr);
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      bool quad = x / 2 >= 10 && x / 2 < 30 && y / 2 >= 20 && y / 2 < 40;
      std::uint32_t expected = quad ? 0xFFFF8000u : 0xFF0000FFu;
      ASSERT_EQ(image.pixels[y * 320 + x], expected) << x << "," << y;
      ASSERT_EQ(SurfacePixel(surface, x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(D3D9WindowTest, SwapChainPresentsRectanglesIntoTheWindow) {
  MakeWindowDevice(320, 240);
  IDirect3DSwapChain9* chain = nullptr;
  ASSERT_EQ(device->GetSwapChain(0, &chain), D3D_OK);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
  ASSERT_EQ(chain->Present(nullptr, nullptr, window, nullptr, 0), D3D_OK);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
  RECT source = {0, 0, 160, 120};
  RECT dest = {0, 0, 160, 120};
  ASSERT_EQ(chain->Present(&source, &dest, window, nullptr, 0), D3D_OK);
  int w, h;
  std::vector<std::uint32_t> shown;
  ASSERT_TRUE(GetWindowPresentedImage(window, &w, &h, &shown));
  EXPECT_EQ(shown[10 * 320 + 10], 0xFFFF0000u);
  EXPECT_EQ(shown[130 * 320 + 200], 0xFF00FF00u);
  RECT empty = {5, 5, 5, 9};
  EXPECT_EQ(chain->Present(&empty, nullptr, window, nullptr, 0), D3DERR_INVALIDCALL);
  chain->Release();
}

TEST_F(D3D9WindowTest, RasterStatusReachesTheBlankEvenWhenTheClockStandsStill) {
  MakeWindowDevice(64, 64);
  SetPlatformVirtualTime(true);
  IDirect3DSwapChain9* chain = nullptr;
  ASSERT_EQ(device->GetSwapChain(0, &chain), D3D_OK);
  D3DRASTER_STATUS status;
  int begun = 0, ended = 0;
  bool inBlank = false;
  for (int i = 0; i < 64 && ended < 2; ++i) {
    ASSERT_EQ(chain->GetRasterStatus(&status), D3D_OK);
    if (status.InVBlank && !inBlank) ++begun;
    if (!status.InVBlank && inBlank && begun) ++ended;
    inBlank = status.InVBlank;
  }
  EXPECT_EQ(ended, 2);
  D3D9SetNeverVerticalBlank(true);
  for (int i = 0; i < 64; ++i) {
    chain->GetRasterStatus(&status);
    ASSERT_FALSE(status.InVBlank);
  }
  chain->Release();
  SetPlatformVirtualTime(false);
}

TEST_F(D3D9WindowTest, SynchronisedPresentWaitsForTheBlankThatDirectDrawWaitsFor) {
  MakeWindowDevice(64, 64);
  SetPlatformVirtualTime(true);
  SetPlatformVirtualNanoseconds(5000000);
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(GetPlatformNanoseconds(), 16666667u);
  IDirect3DSwapChain9* chain = nullptr;
  ASSERT_EQ(device->GetSwapChain(0, &chain), D3D_OK);
  D3DRASTER_STATUS status;
  ASSERT_EQ(chain->GetRasterStatus(&status), D3D_OK);
  EXPECT_TRUE(status.InVBlank);
  chain->Release();
  ReleaseDevice();

  // An immediate present does not wait.
  d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 64;
  p.BackBufferHeight = 64;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.Windowed = TRUE;
  p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                              &device),
            D3D_OK);
  SetPlatformVirtualNanoseconds(20000000);
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(GetPlatformNanoseconds(), 20000000u);
  SetPlatformVirtualTime(false);
}

}  // namespace
