// Graphics start-up on the CPU Direct3D device: the log of the device creation, the format table,
// the software mode chosen by the switch or by a failed creation, and the start-up failures.
#include "graphics/device_rebuild.h"
#include "graphics/draw_target.h"
#include "graphics/graph_handle.h"
#include "graphics/screen_mode.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

using DeviceStartupTest = GraphicsEngineTest;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(DeviceStartupTest, StartsInDirect3DModeWithTheFrontScreenAsTarget) {
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(IsDirect3DMode(), 1);
  EXPECT_EQ(IsSoftwareMode(), 0);
  EXPECT_EQ(GetDrawTarget(), -4);
  EXPECT_EQ(D3D9GetDeviceCreationCount(), 1);
  int width = 0;
  int height = 0;
  GetDrawTargetSize(&width, &height);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  const RECT area = GetDrawSettings()->drawArea;
  EXPECT_EQ(area.right, 640);
  EXPECT_EQ(area.bottom, 480);

  const std::string log = ReadLog();
  // A step announced without a line feed is completed on the same line.
  EXPECT_TRUE(Contains(log, "DirectDraw オブジェクトの取得を行います....  成功\r\n"));
  EXPECT_TRUE(Contains(log,
                       "IDirect3D9Ex オブジェクトを取得します.... IDirect3D9 "
                       "オブジェクトを取得します.... 成功\r\n"));
  EXPECT_TRUE(Contains(
      log, "IDirect3DDevice9 オブジェクトを取得します.... ハードウエア頂点演算を使用します\r\n"));
  EXPECT_TRUE(Contains(log, "画面のフォーマットは D3DFMT_X8R8G8B8 です\r\n"));
  EXPECT_TRUE(Contains(log, "Ｚバッファのフォーマットは D3DFMT_D16 です\r\n"));
  EXPECT_TRUE(Contains(log, "16bit カラーフォーマットは K_D3DFMT_R5G6B5 です\r\n"));
  EXPECT_TRUE(Contains(log, "Ｚバッファを作成します.... 成功\r\n"));
  EXPECT_TRUE(Contains(log, "減算合成のハードウェア対応：ネイティブ\r\n"));
}

TEST_F(DeviceStartupTest, FillsTheTextureFormatTable) {
  ASSERT_EQ(InitializeEngine(), 0);
  const D3DFORMAT expected[kTextureFormatCount] = {
      D3DFMT_R5G6B5,   D3DFMT_X8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8,
      D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8,
      D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X1R5G5B5,
      D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8};
  for (int i = 0; i < kTextureFormatCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(GetTextureFormat(i), expected[i]);
  }
  // Without DXT support every compressed kind falls back and says so.
  const std::string log = ReadLog();
  EXPECT_TRUE(Contains(log, "ＤＸＴ１テクスチャフォーマットは使えません\r\n"));
  EXPECT_TRUE(Contains(log, "ＤＸＴ５テクスチャフォーマットは使えません\r\n"));
  EXPECT_EQ(GetScreenColorBitDepth(), 32);
}

TEST_F(DeviceStartupTest, RefusedFormatsTakeTheNextChoice) {
  D3D9SetFormatRefused(D3DFMT_A4R4G4B4, true);
  D3D9SetFormatRefused(D3DFMT_R5G6B5, true);
  D3D9SetDxtSupported(true);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(GetTextureFormat(kTextureFormatColor16), D3DFMT_X1R5G5B5);
  EXPECT_EQ(GetTextureFormat(kTextureFormatAlpha16), D3DFMT_A8R8G8B8);
  EXPECT_EQ(GetTextureFormat(kTextureFormatDXT1), D3DFMT_DXT1);
  EXPECT_EQ(GetTextureFormat(kTextureFormatDXT5), D3DFMT_DXT5);
  EXPECT_TRUE(Contains(ReadLog(), "ＤＸＴ３テクスチャフォーマットは K_D3DFMT_DXT3 です\r\n"));
}

TEST_F(DeviceStartupTest, NoAlphaTestFormatSelectsSoftwareMode) {
  for (D3DFORMAT format : {D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4})
    D3D9SetFormatRefused(format, true);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(IsSoftwareMode(), 1);
  EXPECT_EQ(GetDirect3DDevice9(), nullptr);
  EXPECT_TRUE(Contains(
      ReadLog(), "使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\r\n"));
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 0);
}

TEST_F(DeviceStartupTest, SoftwareSwitchPresentsTheScreenImageThroughGdi) {
  ASSERT_EQ(SetUseHardwareGraphics(0), 0);
  ASSERT_EQ(ChangeScreenMode(640, 480, 16, 0, -1), 0);
  EngineSettings().backgroundRed = 0x20;
  EngineSettings().backgroundGreen = 0x40;
  EngineSettings().backgroundBlue = 0x80;
  EngineSettings().backgroundSet = 1;
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(SetUseHardwareGraphics(1), -1);
  EXPECT_EQ(IsSoftwareMode(), 1);
  EXPECT_EQ(GetUseHardwareGraphics(), 0);
  EXPECT_EQ(D3D9GetDeviceCreationCount(), 0);
  for (int which = 0; which < kSoftwareScreenImageCount; ++which)
    EXPECT_NE(GetSoftwareScreenImage(which), nullptr);
  MEMIMG* screen = GetSoftwareScreenImage(kSoftwareScreenPrimary);
  EXPECT_EQ(GetSoftwareDrawTarget(), screen);
  // 16 bits: the screen image holds 5:6:5 pixels of the background colour.
  EXPECT_EQ(screen->body->pixelType, MEMIMG_PIXEL_RGB565);
  const uint16_t background =
      static_cast<uint16_t>(((0x20 >> 3) << 11) | ((0x40 >> 2) << 5) | (0x80 >> 3));
  EXPECT_EQ(reinterpret_cast<uint16_t*>(screen->pixels)[0], background);

  // A marker pixel written into the screen image shows up in the window at its place.
  reinterpret_cast<uint16_t*>(screen->pixels + 10 * screen->body->pitch)[20] = 0xF800;
  ASSERT_EQ(PresentFrame(), 0);
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels = WindowPixels(&width, &height);
  ASSERT_EQ(width, 640);
  ASSERT_EQ(height, 480);
  // Compared in the bits that 5:6:5 keeps.
  constexpr uint32_t kKept = 0xF8FCF8;
  EXPECT_EQ(pixels[10 * 640 + 20] & kKept, 0xF80000u);
  EXPECT_EQ(pixels[0] & kKept, 0x204080u);
  EXPECT_EQ(pixels[479 * 640 + 639] & kKept, 0x204080u);
  EXPECT_EQ(pixels[10 * 640 + 21] & kKept, 0x204080u);
}

TEST_F(DeviceStartupTest, FailedDeviceCreationSelectsSoftwareMode) {
  D3D9FailNextCalls(D3D9Call::CreateDevice, 2);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(IsSoftwareMode(), 1);
  const std::string log = ReadLog();
  EXPECT_TRUE(Contains(log, "Direct3DDevice9 の作成に失敗しました\r\n"));
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  EXPECT_EQ(WindowPixels().size(), 640u * 480u);
}

TEST_F(DeviceStartupTest, OneFailedCreationRetriesWithSoftwareVertexProcessing) {
  D3D9FailNextCalls(D3D9Call::CreateDevice, 1);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(IsDirect3DMode(), 1);
  EXPECT_TRUE(Contains(ReadLog(), "ソフトウエア頂点演算を使用します\r\n"));
}

TEST_F(DeviceStartupTest, FailedDirectDrawObjectFailsTheStart) {
  DirectDrawFailNextCreations(1);
  EXPECT_EQ(InitializeEngine(), -1);
  EXPECT_EQ(GraphicsCore().initialised, 0);
  EXPECT_TRUE(
      Contains(ReadLog(), "オブジェクトの取得に失敗しました\r\nDirect3D9 DLL の解放 3\r\n"));
  // A failed start leaves the window for the process's end; the next test needs it gone.
  DestroyEngineWindow();
}

TEST_F(DeviceStartupTest, RasterStatusWithoutBlankDoesNotHoldTheStart) {
  D3D9SetNeverVerticalBlank(true);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(IsDirect3DMode(), 1);
}

TEST_F(DeviceStartupTest, EndTwiceOnlyEndsFontsTheSecondTime) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(EndGraphicsSystem(), 0);
  EXPECT_EQ(GraphicsCore().initialised, 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Direct3D), 0);
  EXPECT_EQ(DirectDrawGetLiveObjectCount(), 0);
  EXPECT_EQ(EndGraphicsSystem(), 0);
  EXPECT_EQ(SetDrawTarget(-2), -1);
}

TEST_F(DeviceStartupTest, SetDrawTargetBeforeTheStartFails) { EXPECT_EQ(SetDrawTarget(-2), -1); }

}  // namespace
