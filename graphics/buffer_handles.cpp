// Vertex-buffer, index-buffer and shader handles: their tables, the ranged update that writes the
// device buffer and the system-memory copy, deletion, and the release and re-creation of their
// device objects around a device rebuild.
#include "graphics/buffer_handles.h"

#include <cstring>

#include "graphics/graphics_state.h"
#include "system/engine_handle.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

constexpr DWORD kVertexFormatKind0 =
    D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2;  // 0x2D2
constexpr int kVertexKind0Stride = 48;

struct VertexBufferRecord {
  int32_t check;
  int32_t handle;
  int32_t formatKind;
  int32_t bytesPerVertex;
  int32_t vertexCount;
  uint8_t* systemCopy;
  IDirect3DVertexBuffer9* buffer;
};

struct IndexBufferRecord {
  int32_t check;
  int32_t handle;
  int32_t formatKind;  // 0: 16-bit indices
  int32_t bytesPerIndex;
  int32_t indexCount;
  uint8_t* systemCopy;
  IDirect3DIndexBuffer9* buffer;
};

struct ShaderRecord {
  int32_t check;
  int32_t handle;
  int32_t kind;  // 0 pixel shader, otherwise vertex shader
  DWORD* byteCode;
  int32_t codeBytes;
  IUnknown* shader;
};

template <class Record, int Type>
struct HandleTable {
  EngineHandleKind kind = MakeEngineHandleKind(static_cast<EngineHandleType>(Type));
  Record* slots[kEngineHandleSlotLimit[Type]] = {};

  Record* Find(int handle) {
    return FindEngineHandleRecord(handle, kind, slots, [](const Record& r) { return r.check; });
  }
  int Issue(Record* record) {
    const int slot = FindFreeEngineHandleSlot(kind, slots, true);
    if (slot < 0) return -1;
    int check = 0;
    record->handle = IssueEngineHandle(kind, slot, &check);
    record->check = check;
    slots[slot] = record;
    return record->handle;
  }
  // Empties the slot and lowers the high mark past the empty slots below it.
  void Retire(int handle) {
    const int slot = GetEngineHandleSlot(handle);
    RetireEngineHandle(kind);
    slots[slot] = nullptr;
    if (slot == kind.highWater - 1) {
      int mark = slot;
      if (kind.liveCount == 0) {
        mark = 0;
      } else {
        while (mark > 0 && slots[mark - 1] == nullptr) --mark;
      }
      kind.highWater = mark;
    }
  }
};

HandleTable<VertexBufferRecord, kVertexBufferHandle> vertexBuffers;
HandleTable<IndexBufferRecord, kIndexBufferHandle> indexBuffers;
HandleTable<ShaderRecord, kShaderHandle> shaders;

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// Device buffers exist only while drawing goes through Direct3D.
IDirect3DDevice9* BufferDevice() {
  GraphicsCoreState& core = GraphicsCore();
  return core.direct3DActive ? core.device : nullptr;
}

// The range check in 64 bits, so that first + count cannot wrap.
bool RangeInside(int first, int count, int total) {
  return first >= 0 && count >= 0 && static_cast<int64_t>(first) + count <= total;
}

template <class Buffer>
int WriteBufferRange(Buffer* buffer, uint8_t* systemCopy, int first, const void* data, int count,
                     int stride, const char* lockFailure) {
  const size_t offset = static_cast<size_t>(first) * stride;
  const size_t bytes = static_cast<size_t>(count) * stride;
  if (bytes == 0) return 0;
  std::memcpy(systemCopy + offset, data, bytes);
  if (buffer == nullptr) return 0;
  void* locked = nullptr;
  if (FAILED(buffer->Lock(static_cast<UINT>(offset), static_cast<UINT>(bytes), &locked, 0))) {
    LogWriteText(lockFailure);
    return -1;
  }
  std::memcpy(locked, data, bytes);
  buffer->Unlock();
  return 0;
}

int CreateVertexBufferObject(VertexBufferRecord* record) {
  IDirect3DDevice9* device = BufferDevice();
  if (device == nullptr) return 0;
  const DWORD fvf = record->formatKind == 0 ? kVertexFormatKind0 : 0;
  if (FAILED(device->CreateVertexBuffer(
          static_cast<UINT>(record->vertexCount * record->bytesPerVertex), D3DUSAGE_WRITEONLY, fvf,
          D3DPOOL_DEFAULT, &record->buffer, nullptr))) {
    record->buffer = nullptr;
    LogWriteText("頂点バッファの作成に失敗しました\n");
    return -1;
  }
  return UpdateVertexBuffer(0, record->systemCopy, record->vertexCount, record->handle);
}

int CreateIndexBufferObject(IndexBufferRecord* record) {
  IDirect3DDevice9* device = BufferDevice();
  if (device == nullptr) return 0;
  const D3DFORMAT format = record->formatKind == 0 ? D3DFMT_INDEX16 : D3DFMT_INDEX32;
  if (FAILED(device->CreateIndexBuffer(
          static_cast<UINT>(record->indexCount * record->bytesPerIndex), D3DUSAGE_WRITEONLY, format,
          D3DPOOL_DEFAULT, &record->buffer, nullptr))) {
    record->buffer = nullptr;
    LogWriteText("インデックスバッファの作成に失敗しました\n");
    return -1;
  }
  return UpdateIndexBuffer(0, record->systemCopy, record->indexCount, record->handle);
}

int CreateShaderObject(ShaderRecord* record) {
  IDirect3DDevice9* device = BufferDevice();
  if (device == nullptr) return 0;
  HRESULT result;
  if (record->kind == 0) {
    IDirect3DPixelShader9* shader = nullptr;
    result = device->CreatePixelShader(record->byteCode, &shader);
    record->shader = shader;
  } else {
    IDirect3DVertexShader9* shader = nullptr;
    result = device->CreateVertexShader(record->byteCode, &shader);
    record->shader = shader;
  }
  if (FAILED(result)) record->shader = nullptr;
  return FAILED(result) ? -1 : 0;
}

template <class Table, class Delete>
int DeleteAll(Table& table, Delete deleteHandle) {
  if (!GraphicsCore().initialised) return 0;
  for (int slot = 0; slot < table.kind.highWater; ++slot)
    if (table.slots[slot] != nullptr) deleteHandle(table.slots[slot]->handle);
  return 0;
}

}  // namespace

int UpdateVertexBuffer(int firstVertex, const void* data, int vertexCount, int handle) {
  VertexBufferRecord* record = vertexBuffers.Find(handle);
  if (record == nullptr || (data == nullptr && vertexCount > 0) ||
      !RangeInside(firstVertex, vertexCount, record->vertexCount))
    return -1;
  return WriteBufferRange(record->buffer, record->systemCopy, firstVertex, data, vertexCount,
                          record->bytesPerVertex, "頂点バッファのロックに失敗しました\n");
}

int UpdateIndexBuffer(int firstIndex, const void* data, int indexCount, int handle) {
  IndexBufferRecord* record = indexBuffers.Find(handle);
  if (record == nullptr || (data == nullptr && indexCount > 0) ||
      !RangeInside(firstIndex, indexCount, record->indexCount))
    return -1;
  return WriteBufferRange(record->buffer, record->systemCopy, firstIndex, data, indexCount,
                          record->bytesPerIndex, "インデックスバッファのロックに失敗しました\n");
}

int DeleteVertexBufferHandle(int handle) {
  VertexBufferRecord* record = vertexBuffers.Find(handle);
  if (record == nullptr) return -1;
  ReleaseObject(record->buffer);
  vertexBuffers.Retire(handle);
  TrackedFree(record->systemCopy);
  TrackedFree(record);
  return 0;
}

int DeleteIndexBufferHandle(int handle) {
  IndexBufferRecord* record = indexBuffers.Find(handle);
  if (record == nullptr) return -1;
  ReleaseObject(record->buffer);
  indexBuffers.Retire(handle);
  TrackedFree(record->systemCopy);
  TrackedFree(record);
  return 0;
}

int DeleteShaderHandle(int handle) {
  ShaderRecord* record = shaders.Find(handle);
  if (record == nullptr) return -1;
  ReleaseObject(record->shader);
  shaders.Retire(handle);
  TrackedFree(record->byteCode);
  TrackedFree(record);
  return 0;
}

int DeleteAllVertexBufferHandles() { return DeleteAll(vertexBuffers, DeleteVertexBufferHandle); }
int DeleteAllIndexBufferHandles() { return DeleteAll(indexBuffers, DeleteIndexBufferHandle); }
int DeleteAllShaderHandles() { return DeleteAll(shaders, DeleteShaderHandle); }

int ReleaseAllBufferHandleObjects() {
  for (int slot = 0; slot < vertexBuffers.kind.highWater; ++slot)
    if (vertexBuffers.slots[slot] != nullptr) ReleaseObject(vertexBuffers.slots[slot]->buffer);
  for (int slot = 0; slot < indexBuffers.kind.highWater; ++slot)
    if (indexBuffers.slots[slot] != nullptr) ReleaseObject(indexBuffers.slots[slot]->buffer);
  for (int slot = 0; slot < shaders.kind.highWater; ++slot)
    if (shaders.slots[slot] != nullptr) ReleaseObject(shaders.slots[slot]->shader);
  return 0;
}

int RecreateAllBufferHandleObjects() {
  if (BufferDevice() == nullptr) return 0;
  for (int slot = 0; slot < vertexBuffers.kind.highWater; ++slot) {
    VertexBufferRecord* record = vertexBuffers.slots[slot];
    if (record != nullptr && record->buffer == nullptr) CreateVertexBufferObject(record);
  }
  for (int slot = 0; slot < indexBuffers.kind.highWater; ++slot) {
    IndexBufferRecord* record = indexBuffers.slots[slot];
    if (record != nullptr && record->buffer == nullptr) CreateIndexBufferObject(record);
  }
  for (int slot = 0; slot < shaders.kind.highWater; ++slot) {
    ShaderRecord* record = shaders.slots[slot];
    if (record != nullptr && record->shader == nullptr) CreateShaderObject(record);
  }
  return 0;
}

int CreateVertexBufferHandleForTest(int vertexCount) {
  if (vertexCount <= 0 || vertexCount > (1 << 24)) return -1;
  auto* record = static_cast<VertexBufferRecord*>(TrackedAllocZeroed(sizeof(VertexBufferRecord)));
  if (record == nullptr) return -1;
  record->bytesPerVertex = kVertexKind0Stride;
  record->vertexCount = vertexCount;
  record->systemCopy =
      static_cast<uint8_t*>(TrackedAllocZeroed(int64_t{vertexCount} * kVertexKind0Stride));
  if (record->systemCopy == nullptr || vertexBuffers.Issue(record) == -1 ||
      CreateVertexBufferObject(record) == -1) {
    if (record->handle != 0) return DeleteVertexBufferHandle(record->handle), -1;
    TrackedFree(record->systemCopy);
    TrackedFree(record);
    return -1;
  }
  return record->handle;
}

int CreateIndexBufferHandleForTest(int indexCount) {
  if (indexCount <= 0 || indexCount > (1 << 24)) return -1;
  auto* record = static_cast<IndexBufferRecord*>(TrackedAllocZeroed(sizeof(IndexBufferRecord)));
  if (record == nullptr) return -1;
  record->bytesPerIndex = 2;
  record->indexCount = indexCount;
  record->systemCopy = static_cast<uint8_t*>(TrackedAllocZeroed(int64_t{indexCount} * 2));
  if (record->systemCopy == nullptr || indexBuffers.Issue(record) == -1 ||
      CreateIndexBufferObject(record) == -1) {
    if (record->handle != 0) return DeleteIndexBufferHandle(record->handle), -1;
    TrackedFree(record->systemCopy);
    TrackedFree(record);
    return -1;
  }
  return record->handle;
}

int CreateShaderHandleForTest(int kind, const DWORD* code, int codeBytes) {
  if (code == nullptr || codeBytes < 4 || codeBytes % 4 != 0) return -1;
  auto* record = static_cast<ShaderRecord*>(TrackedAllocZeroed(sizeof(ShaderRecord)));
  if (record == nullptr) return -1;
  record->kind = kind;
  record->codeBytes = codeBytes;
  record->byteCode = static_cast<DWORD*>(TrackedAlloc(codeBytes));
  if (record->byteCode == nullptr || shaders.Issue(record) == -1) {
    TrackedFree(record->byteCode);
    TrackedFree(record);
    return -1;
  }
  std::memcpy(record->byteCode, code, static_cast<size_t>(codeBytes));
  if (CreateShaderObject(record) == -1) {
    DeleteShaderHandle(record->handle);
    return -1;
  }
  return record->handle;
}

IDirect3DVertexBuffer9* GetVertexBufferObject(int handle) {
  VertexBufferRecord* record = vertexBuffers.Find(handle);
  return record != nullptr ? record->buffer : nullptr;
}

IDirect3DIndexBuffer9* GetIndexBufferObject(int handle) {
  IndexBufferRecord* record = indexBuffers.Find(handle);
  return record != nullptr ? record->buffer : nullptr;
}

IUnknown* GetShaderObject(int handle) {
  ShaderRecord* record = shaders.Find(handle);
  return record != nullptr ? record->shader : nullptr;
}
