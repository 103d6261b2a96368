// The 3D model glue: start and end with the sine table, the built-in images, and on bases made by
// the test hook the buffers per layout, the block limits, the release and re-creation around a
// device loss, the refill of model textures and the deletion by reference.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "files/image_loader.h"
#include "graphics/model_system.h"
#include "platform/win32/user.h"
#include "tests/graphics/graph_test_support.h"
#include "tests/graphics/shader_pack_fixture.h"

namespace {

class ModelSystemTest : public GraphTest {
 protected:
  void TearDown() override {
    GraphTest::TearDown();
    SetStoredShaderPack(nullptr, 0);
  }

  void Lose() {
    D3D9InjectDeviceLoss();
    ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
    ProcessWindowMessages();
  }

  std::vector<uint8_t> FileBytes(const std::string& name, const TestImage& image) {
    WriteFixture(name, image);
    std::ifstream file(directory_ + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }

  std::vector<uint8_t> pack_;
};

ModelMeshDescription Mesh(int kind, int normalMap, int sets, int vertices, int indices,
                          const uint8_t* vertexBytes = nullptr,
                          const uint16_t* indexValues = nullptr, int dynamic = 0) {
  return ModelMeshDescription{kind,         normalMap,   sets,        vertices,
                              {indices, 0}, vertexBytes, indexValues, dynamic};
}

TEST_F(ModelSystemTest, StartsWithItsSineTableInDirect3DModeOnly) {
  Start(32, 0);
  ASSERT_EQ(IsModelSystemStarted(), 1);
  EXPECT_EQ(GetModelSine(0), 0.0f);
  EXPECT_EQ(GetModelSine(16384), 1.0f);
  EXPECT_EQ(GetModelSine(49152), -1.0f);
  EXPECT_FLOAT_EQ(GetModelSine(32768), -8.742278e-08f);
  EXPECT_EQ(GetModelSine(32768), static_cast<float>(std::sin(static_cast<double>(3.14159265f))));
  EXPECT_EQ(StartModelSystem(), 0);
  EXPECT_EQ(GetModelSine(16384), 1.0f);
  // Empty tables: every walk finds nothing, and a handle past the table is refused.
  EXPECT_EQ(ReleaseAllModelBuffers(), 0);
  EXPECT_EQ(RecreateAllModelBuffers(), 0);
  EXPECT_EQ(RestoreModelTextures(), 0);
  EXPECT_EQ(DeleteModelBase(0x8000000), -1);
  EXPECT_EQ(DeleteModelBase(0x8000000 | 0x1FFFF), -1);
  EXPECT_EQ(SetUpModelBaseBuffers(0x8000000, 1), 0);  // no hardware vertex processing
  EXPECT_EQ(DeleteModelInstance(-1), -1);
  EXPECT_EQ(ClearModelInstanceEntry(0x50000000, 0), -1);
  ShutdownEngine();
  EXPECT_EQ(IsModelSystemStarted(), 0);
}

TEST_F(ModelSystemTest, SoftwareModeLeavesTheSystemUnstarted) {
  Start(32, 0, true);
  EXPECT_EQ(IsModelSystemStarted(), 0);
  EXPECT_EQ(CreateModelBaseForTest(nullptr, 0, nullptr, 0), -1);
}

TEST(ModelBuiltinImages, DecodeAsHeld) {
  struct Case {
    int which;
    int size;
    int width;
    int height;
  };
  for (const Case& c : {Case{0, 84, 8, 8}, Case{1, 172, 256, 8}}) {
    SCOPED_TRACE(c.which);
    int size = 0;
    const uint8_t* bytes = GetBuiltinModelImage(c.which, &size);
    ASSERT_EQ(size, c.size);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + size - 18, 17),
              "TRUEVISION-XFILE.");
    StandardImage image{};
    ASSERT_EQ(LoadStandardImagePlain(nullptr, bytes, size, 1, &image, 0), 0);
    ASSERT_EQ(image.width, c.width);
    ASSERT_EQ(image.height, c.height);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; x += 7) {
        const uint32_t grey = c.which == 0 ? 0xFF : 0x55u * static_cast<uint32_t>(x / 64);
        const uint32_t argb = GetStandardImagePixelARGB(&image, x, y);
        ASSERT_EQ(argb & 0xFFFFFF, grey << 16 | grey << 8 | grey) << x << ", " << y;
        if (c.which == 0) {
          ASSERT_EQ(argb >> 24, 0xFFu);
        }
      }
    }
    ReleaseStandardImage(&image);
  }
  StandardImage ramp{};
  ASSERT_EQ(MakeGrayRampImage(&ramp), 0);
  ASSERT_EQ(ramp.width, 256);
  ASSERT_EQ(ramp.height, 8);
  for (int x : {0, 1, 127, 255}) {
    const uint32_t grey = static_cast<uint32_t>(x);
    EXPECT_EQ(GetStandardImagePixelARGB(&ramp, x, 5) & 0xFFFFFF, grey << 16 | grey << 8 | grey);
  }
  ReleaseStandardImage(&ramp);
}

// Without programmable shaders only meshes of skinning kind 0 without a normal map get buffers;
// with them every layout does.
TEST_F(ModelSystemTest, BuffersPerLayout) {
  for (bool shaders : {false, true}) {
    SCOPED_TRACE(shaders ? "shaders" : "fixed function");
    D3D9SetShaderModel2(true);
    pack_ = MakeStoredShaderPack(MakeShaderPackFile(BaseShaderPackSlots()));
    SetStoredShaderPack(shaders ? pack_.data() : nullptr, pack_.size());
    Start(32, 0);
    ASSERT_EQ(IsModelSystemStarted(), 1);
    std::vector<uint8_t> plain(48 * 3);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i + 1);
    const uint16_t triangle[3] = {0, 2, 1};
    const ModelMeshDescription meshes[] = {Mesh(0, 0, 1, 3, 3, plain.data(), triangle),
                                           Mesh(1, 0, 0, 3, 3), Mesh(0, 1, 2, 4, 6),
                                           Mesh(0, 0, 1, 2, 3, nullptr, nullptr, 1)};
    const int base = CreateModelBaseForTest(meshes, 4, nullptr, 0);
    ASSERT_NE(base, -1);
    ASSERT_EQ(SetUpModelBaseBuffers(base, 0), 0);

    const ModelBufferBlock* block = GetModelBaseBlock(base, 1, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->stride, 48);
    EXPECT_EQ(block->vertexCount, 5);
    EXPECT_EQ(block->indexCount, 6);
    EXPECT_EQ(block->fvf,
              static_cast<int>(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
                               D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE4(0)));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(D3D9ReadBufferBytes(block->vertexBuffer, &bytes));
    ASSERT_EQ(bytes.size(), 48u * 5);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), bytes.begin()));
    ASSERT_TRUE(D3D9ReadBufferBytes(block->indexBuffer, &bytes));
    EXPECT_EQ(bytes[2], 2);
    const ModelBufferBlock* skinned = GetModelBaseBlock(base, 2 * 9 + 0, 0);
    const ModelBufferBlock* normalMapped = GetModelBaseBlock(base, 1 * 9 + 2, 0);
    EXPECT_EQ(skinned != nullptr, shaders);
    EXPECT_EQ(normalMapped != nullptr, shaders);
    if (normalMapped != nullptr) {
      EXPECT_EQ(normalMapped->stride, 56 + 32);
    }
    EXPECT_EQ(GetModelBaseBlockTotal(base), shaders ? 3 : 1);

    const int instance = CreateModelInstanceForTest(base);
    ASSERT_NE(instance, -1);
    EXPECT_NE(GetModelInstanceDynamicBuffer(instance, 3), nullptr);
    EXPECT_EQ(GetModelInstanceDynamicBuffer(instance, 0), nullptr);
    ShutdownEngine();
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexBuffer), 0);
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::IndexBuffer), 0);
    EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  }
}

TEST_F(ModelSystemTest, ALayoutPastTheVertexLimitChainsASecondBlock) {
  D3D9SetShaderModel2(true);
  Start(32, 0);
  const int many = 0x40000;
  const ModelMeshDescription meshes[] = {Mesh(0, 0, 0, many, 3), Mesh(0, 0, 0, many, 3),
                                         Mesh(0, 0, 0, 10, 3)};
  const int base = CreateModelBaseForTest(meshes, 3, nullptr, 0);
  ASSERT_EQ(SetUpModelBaseBuffers(base, 1), 0);
  const ModelBufferBlock* first = GetModelBaseBlock(base, 0, 0);
  const ModelBufferBlock* second = GetModelBaseBlock(base, 0, 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->vertexCount, many);
  EXPECT_EQ(second->vertexCount, many + 10);
  EXPECT_EQ(second->indexCount, 6);
  EXPECT_EQ(GetModelBaseBlock(base, 0, 2), nullptr);
  EXPECT_EQ(GetModelBaseBlockTotal(base), 2);
}

TEST_F(ModelSystemTest, BuffersAndTexturesComeBackAfterADeviceLoss) {
  D3D9SetShaderModel2(true);
  Start(32, 0);
  std::vector<uint8_t> vertices(32 * 3);
  for (size_t i = 0; i < vertices.size(); ++i) vertices[i] = static_cast<uint8_t>(200 - i);
  const ModelMeshDescription mesh = Mesh(0, 0, 0, 3, 3, vertices.data());
  TestImage picture = MakePatternImage(8, 4, 40);
  const std::vector<uint8_t> file = FileBytes("model.bmp", picture);
  const ModelTextureDescription texture{file.data(), static_cast<int>(file.size()), nullptr, 0, 0,
                                        1.0f};
  const int base = CreateModelBaseForTest(&mesh, 1, &texture, 1);
  ASSERT_NE(base, -1);
  const int graph = GetModelBaseTextureGraph(base, 0);
  ASSERT_NE(graph, -1);
  ASSERT_EQ(SetUpModelBaseBuffers(base, 1), 0);
  IDirect3DVertexBuffer9* before = GetModelBaseBlock(base, 0, 0)->vertexBuffer;

  Lose();
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 2);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  const ModelBufferBlock* block = GetModelBaseBlock(base, 0, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_NE(block->vertexBuffer, before);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(D3D9ReadBufferBytes(block->vertexBuffer, &bytes));
  EXPECT_EQ(bytes, vertices);

  // The texture graph was refilled from the kept file.
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(DrawGraphAtPoint(0, 0, graph, 0), 0);
  Canvas expected(0);
  expected.Draw(picture, 0, 0, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(ModelSystemTest, AnInstanceKeepsItsBaseUntilItGoes) {
  D3D9SetShaderModel2(true);
  Start(32, 0);
  const ModelMeshDescription mesh = Mesh(0, 0, 0, 3, 3);
  const int base = CreateModelBaseForTest(&mesh, 1, nullptr, 0);
  const int instance = CreateModelInstanceForTest(base);
  ASSERT_NE(instance, -1);
  EXPECT_EQ(FreeModelFrameList(instance, -1), 0);
  EXPECT_EQ(FreeModelFrameBlock(instance, 0, 1), 0);
  EXPECT_EQ(FreeModelFrameBlock(instance, 1, 0), -1);
  EXPECT_EQ(ClearModelInstanceEntry(instance, 0), -1);

  EXPECT_EQ(DeleteModelBase(base), 0);
  EXPECT_EQ(GetModelBaseCount(), 1);
  EXPECT_EQ(DeleteModelInstance(instance), 0);
  EXPECT_EQ(GetModelInstanceCount(), 0);
  EXPECT_EQ(GetModelBaseCount(), 0);
  EXPECT_EQ(DeleteModelInstance(instance), -1);
  EXPECT_EQ(DeleteModelBase(base), -1);
}

}  // namespace
