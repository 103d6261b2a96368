// The built-in shader pack and the programmable-shader set-up: the default device keeps shaders
// off; with shader model 2.0 reported and a generated pack, the base shaders, the declarations,
// the brightness volume texture and the constants reach the device and are released cleanly; a
// damaged pack turns shaders off.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "graphics/device_state_cache.h"
#include "tests/graphics/graphics_engine_fixture.h"
#include "tests/graphics/shader_pack_fixture.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ShaderPackTest : public GraphicsEngineTest {
 protected:
  void TearDown() override {
    GraphicsEngineTest::TearDown();
    SetStoredShaderPack(nullptr, 0);
  }

  void StartWithPack(const std::vector<uint8_t>& stored) {
    pack_ = stored;
    SetStoredShaderPack(pack_.data(), pack_.size());
    D3D9SetShaderModel2(true);
    ASSERT_EQ(InitializeEngine(), 0) << ReadLog();
  }

  static std::array<float, 4> DeviceConstant(bool pixel, int index) {
    std::array<float, 4> value{};
    EXPECT_TRUE(D3D9ReadShaderConstantF(GraphicsCore().device, pixel, index, value.data()));
    return value;
  }

  std::vector<uint8_t> pack_;
};

TEST(ScaleColorToFullBrightness, KeepsTheHueAtFullBrightness) {
  struct Case {
    int r, g, b;
    int er, eg, eb;
  };
  static constexpr Case kCases[] = {
      {0, 0, 0, 255, 255, 255},       {50, 50, 50, 255, 255, 255}, {255, 0, 0, 255, 0, 0},
      {100, 50, 0, 255, 127, 0},      {100, 100, 0, 255, 255, 0},  {0, 40, 20, 0, 255, 127},
      {200, 100, 50, 255, 128, 64},   {300, 600, -5, 255, 255, 0}, {2, 4, 6, 85, 170, 255},
      {128, 192, 255, 128, 192, 255},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.r << ", " << c.g << ", " << c.b);
    uint8_t r = 0, g = 0, b = 0;
    ScaleColorToFullBrightness(c.r, c.g, c.b, &r, &g, &b);
    EXPECT_EQ(r, c.er);
    EXPECT_EQ(g, c.eg);
    EXPECT_EQ(b, c.eb);
  }
}

TEST_F(ShaderPackTest, TheDefaultDeviceKeepsShadersOffAndThePackPacked) {
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_TRUE(Contains(ReadLog(), "プログラマブルシェーダーを使用しません\r\n"));
  EXPECT_FALSE(Contains(ReadLog(), "シェーダーコードを展開する"));
  EXPECT_EQ(AreShadersInUse(), 0);
  EXPECT_EQ(GetShaderPackCode(1, kBaseVertexShaderSlot, nullptr), nullptr);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexShader), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexDeclaration), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VolumeTexture), 0);
}

TEST_F(ShaderPackTest, AGeneratedPackPutsShadersConstantsAndTexturesOnTheDevice) {
  StartWithPack(MakeStoredShaderPack(MakeShaderPackFile(BaseShaderPackSlots())));
  EXPECT_TRUE(Contains(ReadLog(), "プログラマブルシェーダーを使用します\r\n"));
  ASSERT_EQ(AreShadersInUse(), 1);

  std::vector<DWORD> code;
  ASSERT_TRUE(D3D9ReadShaderCode(GetBaseVertexShader(), &code));
  EXPECT_EQ(code, (std::vector<DWORD>{0xFFFE0200u, 0x0000FFFFu}));
  ASSERT_TRUE(D3D9ReadShaderCode(GetBasePixelShader(), &code));
  EXPECT_EQ(code, (std::vector<DWORD>{0xFFFF0200u, 0x0000FFFFu}));
  int size = 0;
  const uint8_t* first = GetShaderPackCode(1, 5, &size);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(size, 12);
  EXPECT_EQ(first[4], 5);

  EXPECT_EQ(DeviceConstant(false, 0), (std::array<float, 4>{0.0f, 1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(DeviceConstant(true, 0), (std::array<float, 4>{0.0f, 0.5f, 1.0f, 2.0f}));
  // A fog range reaches the pixel shader as its constant 10.
  ASSERT_EQ(SetFogStartEndState(10.0f, 20.0f), 0);
  const std::array<float, 4> fog = DeviceConstant(true, 10);
  EXPECT_FLOAT_EQ(fog[0], 2.0f);
  EXPECT_FLOAT_EQ(fog[1], -0.1f);
  EXPECT_FLOAT_EQ(fog[3], 2.71828f);
  // A range of no length has no such constant: the last one stays rather than infinities.
  ASSERT_EQ(SetFogStartEndState(5.0f, 5.0f), 0);
  EXPECT_EQ(DeviceConstant(true, 10), fog);

  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexDeclaration), kVertexDeclarationCount + 1);
  std::vector<D3DVERTEXELEMENT9> elements;
  // Skinning kind 1 with a normal map and three coordinate sets: 76 bytes, then 16 per set.
  ASSERT_TRUE(D3D9ReadVertexDeclaration(GetVertexDeclaration(3 * 9 + 3), &elements));
  ASSERT_GE(elements.size(), 2u);
  const D3DVERTEXELEMENT9& lastSet = elements[elements.size() - 2];
  EXPECT_EQ(lastSet.Offset, 76 + 32);
  EXPECT_EQ(lastSet.Usage, D3DDECLUSAGE_TEXCOORD);
  EXPECT_EQ(lastSet.UsageIndex, 2);
  EXPECT_EQ(elements.back().Stream, 0xFF);

  // Only the default-pool volume stays; the system-memory source was released after the copy.
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VolumeTexture), 1);
  struct Texel {
    UINT x, y, z;
    DWORD argb;
  };
  static constexpr Texel kTexels[] = {
      {0, 0, 0, 0xFFFFFFFF},   {7, 7, 7, 0xFFFFFFFF},     {7, 3, 0, 0xFFFFFFFF},
      {64, 0, 0, 0xFFFF0000},  {8, 8, 8, 0xFFFFFFFF},     {50, 25, 0, 0xFFFF7F00},
      {0, 20, 10, 0xFF00FF7F}, {127, 127, 0, 0xFFFFFF00},
  };
  for (const Texel& t : kTexels) {
    SCOPED_TRACE(testing::Message() << t.x << ", " << t.y << ", " << t.z);
    DWORD texel = 0;
    ASSERT_TRUE(D3D9ReadVolumeTexel(GetBrightnessVolumeTexture(), t.x, t.y, t.z, &texel));
    EXPECT_EQ(texel, t.argb);
  }

  ShutdownEngine();
  for (auto kind :
       {D3D9ObjectKind::Device, D3D9ObjectKind::VertexShader, D3D9ObjectKind::PixelShader,
        D3D9ObjectKind::VertexDeclaration, D3D9ObjectKind::VolumeTexture})
    EXPECT_EQ(D3D9GetLiveObjectCount(kind), 0);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  EXPECT_EQ(GetShaderPackCode(1, kBaseVertexShaderSlot, nullptr), nullptr);
}

TEST_F(ShaderPackTest, BuiltinSlotsFollowLightingLightsAndFog) {
  StartWithPack(MakeStoredShaderPack(MakeShaderPackFile(BaseShaderPackSlots())));
  ASSERT_EQ(AreShadersInUse(), 1);
  struct Case {
    int lighting;
    D3DLIGHTTYPE types[3];  // 0: light off
    int fogMode;            // 0: fog off
    int vertexSlot, pixelSlot;
  };
  const auto none = static_cast<D3DLIGHTTYPE>(0);
  const Case kCases[] = {
      {0, {none, none, none}, 0, 0, 0},
      {1, {none, none, none}, 0, 24576, 1728},
      {1, {D3DLIGHT_DIRECTIONAL, none, none}, 0, 29056, 2304},
      {1, {D3DLIGHT_POINT, D3DLIGHT_SPOT, D3DLIGHT_DIRECTIONAL}, 0, 28888, 2272},
      {0, {D3DLIGHT_POINT, none, none}, D3DFOG_LINEAR, 1536, 0},
      {1, {none, D3DLIGHT_SPOT, none}, D3DFOG_EXP, 24576 + 4096 + 512 + 64, 1728 + 432 + 24},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "lighting " << c.lighting << ", fog " << c.fogMode);
    for (int i = 0; i < 3; ++i) {
      if (c.types[i] != none) {
        D3DLIGHT9 light{};
        light.Type = c.types[i];
        light.Direction = {0.0f, 0.0f, 1.0f};
        ASSERT_EQ(SetLightRecord(i, &light), 0);
      }
      ASSERT_EQ(SetLightEnableState(i, c.types[i] != none), 0);
    }
    SetLightingState(c.lighting);
    SetFogModeState(c.fogMode);
    SetFogEnableState(c.fogMode != 0);
    int vertexSlot = -1;
    int pixelSlot = -1;
    GetBuiltinShaderSlots(&vertexSlot, &pixelSlot);
    EXPECT_EQ(vertexSlot, c.vertexSlot);
    EXPECT_EQ(pixelSlot, c.pixelSlot);
  }
}

TEST_F(ShaderPackTest, AMissingBaseSlotOrADamagedPackTurnsShadersOff) {
  std::vector<ShaderPackSlotCode> withoutBase = BaseShaderPackSlots();
  withoutBase.erase(withoutBase.begin() + 1);
  std::vector<ShaderPackSlotCode> unterminated = BaseShaderPackSlots();
  unterminated[2].code = {0xFFFF0200u, 0x12345678u};
  std::vector<uint8_t> cutBlock = MakeStoredShaderPack(MakeShaderPackFile(BaseShaderPackSlots()));
  cutBlock.resize(cutBlock.size() / 2);
  struct Case {
    const char* name;
    std::vector<uint8_t> stored;
    bool unpackFails;
  };
  const Case kCases[] = {
      {"no base vertex shader", MakeStoredShaderPack(MakeShaderPackFile(withoutBase)), false},
      {"base pixel shader without its end", MakeStoredShaderPack(MakeShaderPackFile(unterminated)),
       false},
      {"file shorter than its sizes",
       MakeStoredShaderPack(MakeShaderPackFile(BaseShaderPackSlots(), 4)), true},
      {"file shorter than its size table",
       MakeStoredShaderPack(std::vector<uint8_t>(kShaderPackCodeOffset - 2, 0)), true},
      {"stored block cut short", cutBlock, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    StartWithPack(c.stored);
    const std::string log = ReadLog();
    EXPECT_TRUE(Contains(log, "プログラマブルシェーダーを使用しません\r\n"));
    EXPECT_EQ(Contains(log, "シェーダーコードを展開するメモリ領域の確保に失敗しました\r\n"),
              c.unpackFails);
    EXPECT_EQ(AreShadersInUse(), 0);
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexDeclaration), 0);
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VolumeTexture), 0);
    ShutdownEngine();
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexShader), 0);
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::PixelShader), 0);
    std::filesystem::remove(directory_ + "/Log.txt");
  }
}

}  // namespace
