// Vertex-buffer, index-buffer and shader handles: the update's range checks, deletion and deletion
// of all, and the device objects made again from the system-memory copies after a device loss.
#include <gtest/gtest.h>

#include <climits>

#include "graphics/buffer_handles.h"
#include "platform/win32/user.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class BufferHandleTest : public GraphicsEngineTest {
 protected:
  void Lose() {
    D3D9InjectDeviceLoss();
    ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
    ProcessWindowMessages();
  }
};

TEST_F(BufferHandleTest, UpdatesStayInsideTheBuffer) {
  ASSERT_EQ(InitializeEngine(), 0);
  const int vertices = CreateVertexBufferHandleForTest(4);
  const int indices = CreateIndexBufferHandleForTest(4);
  ASSERT_NE(vertices, -1);
  ASSERT_NE(indices, -1);
  std::vector<uint8_t> data(48 * 4, 0xAB);
  struct Case {
    int first;
    int count;
    int result;
  };
  static constexpr Case kCases[] = {
      {0, 4, 0},  {1, 3, 0},  {2, 0, 0},        {-1, 1, -1},      {0, -1, -1},
      {3, 2, -1}, {4, 1, -1}, {INT_MAX, 2, -1}, {1, INT_MAX, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.first << " + " << c.count);
    EXPECT_EQ(UpdateVertexBuffer(c.first, data.data(), c.count, vertices), c.result);
    EXPECT_EQ(UpdateIndexBuffer(c.first, data.data(), c.count, indices), c.result);
  }
  EXPECT_EQ(UpdateVertexBuffer(0, data.data(), 1, indices), -1);
  EXPECT_EQ(UpdateIndexBuffer(0, data.data(), 1, vertices), -1);
}

TEST_F(BufferHandleTest, DeviceLossRecreatesObjectsFromTheSystemCopies) {
  D3D9SetShaderModel2(true);
  ASSERT_EQ(InitializeEngine(), 0);
  const int vertices = CreateVertexBufferHandleForTest(3);
  const int indices = CreateIndexBufferHandleForTest(6);
  const DWORD code[] = {0xFFFE0200u, 0x01020304u, 0x0000FFFFu};
  const int shader = CreateShaderHandleForTest(1, code, sizeof code);
  ASSERT_NE(shader, -1);
  std::vector<uint8_t> vertexBytes(48 * 3);
  for (size_t i = 0; i < vertexBytes.size(); ++i) vertexBytes[i] = static_cast<uint8_t>(i * 7);
  const uint16_t indexValues[6] = {0, 1, 2, 2, 1, 0};
  ASSERT_EQ(UpdateVertexBuffer(0, vertexBytes.data(), 3, vertices), 0);
  ASSERT_EQ(UpdateIndexBuffer(0, indexValues, 6, indices), 0);

  // A lost device's buffers cannot be locked: the update says so, and the copy still takes it.
  D3D9InjectDeviceLoss();
  const uint8_t last[48] = {0x5A};
  EXPECT_EQ(UpdateVertexBuffer(2, last, 1, vertices), -1);
  EXPECT_TRUE(Contains(ReadLog(), "頂点バッファのロックに失敗しました\r\n"));
  std::copy(last, last + 48, vertexBytes.begin() + 96);
  ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
  ProcessWindowMessages();
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 2);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(D3D9ReadBufferBytes(GetVertexBufferObject(vertices), &bytes));
  EXPECT_EQ(bytes, vertexBytes);
  ASSERT_TRUE(D3D9ReadBufferBytes(GetIndexBufferObject(indices), &bytes));
  EXPECT_EQ(bytes, std::vector<uint8_t>({0, 0, 1, 0, 2, 0, 2, 0, 1, 0, 0, 0}));
  std::vector<DWORD> stored;
  ASSERT_TRUE(D3D9ReadShaderCode(GetShaderObject(shader), &stored));
  EXPECT_EQ(stored, std::vector<DWORD>(std::begin(code), std::end(code)));
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexBuffer), 1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::IndexBuffer), 1);
}

TEST_F(BufferHandleTest, DeleteAndDeleteAll) {
  EXPECT_EQ(DeleteAllVertexBufferHandles(), 0);
  EXPECT_EQ(DeleteAllIndexBufferHandles(), 0);
  EXPECT_EQ(DeleteAllShaderHandles(), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(DeleteAllVertexBufferHandles(), 0);

  const int first = CreateVertexBufferHandleForTest(2);
  const int second = CreateVertexBufferHandleForTest(2);
  const int third = CreateIndexBufferHandleForTest(2);
  ASSERT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexBuffer), 2);
  EXPECT_EQ(DeleteVertexBufferHandle(first), 0);
  EXPECT_EQ(DeleteVertexBufferHandle(first), -1);
  EXPECT_EQ(DeleteIndexBufferHandle(first), -1);
  EXPECT_EQ(DeleteShaderHandle(third), -1);
  const uint8_t data[48] = {};
  EXPECT_EQ(UpdateVertexBuffer(0, data, 1, first), -1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexBuffer), 1);

  EXPECT_EQ(DeleteAllVertexBufferHandles(), 0);
  EXPECT_EQ(DeleteAllIndexBufferHandles(), 0);
  EXPECT_EQ(DeleteVertexBufferHandle(second), -1);
  EXPECT_EQ(DeleteIndexBufferHandle(third), -1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexBuffer), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::IndexBuffer), 0);

  // The graphics end deletes whatever is left.
  CreateVertexBufferHandleForTest(1);
  ShutdownEngine();
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::VertexBuffer), 0);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
}

}  // namespace
