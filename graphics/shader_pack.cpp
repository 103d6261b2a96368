// The built-in shader pack and the programmable-shader set-up: the pack (an LZ block holding an
// in-memory archive whose "KvShaderPack.bin" is an LZ block again) with its size table and code
// pointers, the shader objects, the vertex declarations, the brightness volume texture, the
// constant sets and the built-in slot numbers.
#include "graphics/shader_pack.h"

#include <algorithm>
#include <cstring>

#include "files/archive.h"
#include "files/lz_decoder.h"
#include "graphics/device_state_cache.h"
#include "graphics/graphics_state.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

constexpr int kVolumeSize = 128;
constexpr DWORD kShaderEndToken = 0x0000FFFF;

struct ShaderPackState {
  const uint8_t* storedBlock;
  std::size_t storedSize;
  uint8_t* archiveImage;  // the unpacked outer block, the in-memory archive
  uint32_t archiveSize;
  ArchiveRecord archive;
  uint8_t* file;  // the unpacked "KvShaderPack.bin"
  std::size_t fileSize;
  int loaded;
  // Offsets into `file`, 0 for an empty slot (no code starts inside the size table).
  uint32_t vertexCode[kVertexShaderSlotCount];
  uint32_t pixelCode[kPixelShaderSlotCount];
  IDirect3DVertexShader9* vertexShaders[kVertexShaderSlotCount];
  IDirect3DPixelShader9* pixelShaders[kPixelShaderSlotCount];
  IDirect3DVertexDeclaration9* declarations[kVertexDeclarationCount + 1];
  IDirect3DVolumeTexture9* brightnessVolume;
  int vertexSlot;
  int pixelSlot;
  // The user constant set, with the register range each kind has recorded.
  float userVertexF[kVertexShaderConstantCount][4];
  float userPixelF[kPixelShaderConstantCount][4];
  int userVertexI[16][4];
  int userPixelI[16][4];
  BOOL userVertexB[16];
  BOOL userPixelB[16];
  int userRange[6][2];  // vertex F, I, B, pixel F, I, B: first register and count
};

ShaderPackState state;

// The stored pack: empty, since the device in use offers no shader model 2.0.
const uint8_t kStoredPack[1] = {0};

IDirect3DDevice9* Device() { return GraphicsCore().device; }

uint16_t ReadSize(const uint8_t* table, std::size_t index) {
  return static_cast<uint16_t>(table[2 * index] | (table[2 * index + 1] << 8));
}

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// A shader's code must end with its end token inside its block, or the device would read on.
bool IsCodeComplete(const uint8_t* code, int size) {
  if (code == nullptr || size < 8 || size % 4 != 0) return false;
  for (int offset = 4; offset + 4 <= size; offset += 4) {
    DWORD token;
    std::memcpy(&token, code + offset, 4);
    if (token == kShaderEndToken) return true;
  }
  return false;
}

// The code as DWORDs in a buffer of its own, aligned for the device.
bool CopyCode(const uint8_t* code, int size, DWORD* out) {
  std::memcpy(out, code, static_cast<std::size_t>(size));
  return true;
}

int CreateVertexShaderOfSlot(int slot) {
  if (state.vertexShaders[slot] != nullptr) return 0;
  int size = 0;
  const uint8_t* code = GetShaderPackCode(1, slot, &size);
  if (!IsCodeComplete(code, size) || Device() == nullptr) return -1;
  DWORD* words = static_cast<DWORD*>(TrackedAlloc(size));
  if (words == nullptr) return -1;
  CopyCode(code, size, words);
  HRESULT result = Device()->CreateVertexShader(words, &state.vertexShaders[slot]);
  TrackedFree(words);
  if (FAILED(result)) state.vertexShaders[slot] = nullptr;
  return FAILED(result) ? -1 : 0;
}

int CreatePixelShaderOfSlot(int slot) {
  if (state.pixelShaders[slot] != nullptr) return 0;
  int size = 0;
  const uint8_t* code = GetShaderPackCode(0, slot, &size);
  if (!IsCodeComplete(code, size) || Device() == nullptr) return -1;
  DWORD* words = static_cast<DWORD*>(TrackedAlloc(size));
  if (words == nullptr) return -1;
  CopyCode(code, size, words);
  HRESULT result = Device()->CreatePixelShader(words, &state.pixelShaders[slot]);
  TrackedFree(words);
  if (FAILED(result)) state.pixelShaders[slot] = nullptr;
  return FAILED(result) ? -1 : 0;
}

void FreeUnpackedBlocks() {
  ReleaseArchiveRecord(&state.archive);
  TrackedFree(state.archiveImage);
  TrackedFree(state.file);
  state.archiveImage = nullptr;
  state.archiveSize = 0;
  state.file = nullptr;
  state.fileSize = 0;
  state.loaded = 0;
  std::memset(state.vertexCode, 0, sizeof state.vertexCode);
  std::memset(state.pixelCode, 0, sizeof state.pixelCode);
}

// Unpacks an LZ block into a new tracked block; null when it is damaged or memory is short.
uint8_t* UnpackBlock(const uint8_t* block, std::size_t size, std::size_t* unpackedSize) {
  const std::int64_t wanted = UnpackLZBlock(block, size, nullptr, 0);
  if (wanted < 0) return nullptr;
  auto* out = static_cast<uint8_t*>(TrackedAlloc(wanted > 0 ? wanted : 1));
  if (out == nullptr) return nullptr;
  if (UnpackLZBlock(block, size, out, static_cast<std::size_t>(wanted)) != wanted) {
    TrackedFree(out);
    return nullptr;
  }
  *unpackedSize = static_cast<std::size_t>(wanted);
  return out;
}

// Walks the size table: every slot with code gets its offset, and the code must lie inside the
// file (a short or damaged pack is refused rather than read past its end).
bool IndexShaderCode() {
  if (state.fileSize < kShaderPackCodeOffset) return false;
  std::size_t offset = kShaderPackCodeOffset;
  const int total = kVertexShaderSlotCount + kPixelShaderSlotCount;
  for (int index = 0; index < total; ++index) {
    const uint16_t size = ReadSize(state.file, static_cast<std::size_t>(index));
    if (size == 0) continue;
    if (offset + size > state.fileSize) return false;
    if (index < kVertexShaderSlotCount) {
      state.vertexCode[index] = static_cast<uint32_t>(offset);
    } else {
      state.pixelCode[index - kVertexShaderSlotCount] = static_cast<uint32_t>(offset);
    }
    offset += size;
  }
  return true;
}

void SendEngineConstants() {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return;
  DeviceStateCache& cache = GetDeviceStateCache();
  device->SetVertexShaderConstantF(0, &cache.vertexShaderConstants[0][0],
                                   kVertexShaderConstantCount);
  device->SetPixelShaderConstantF(0, &cache.pixelShaderConstants[0][0], kPixelShaderConstantCount);
}

void SendUserConstants() {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return;
  const auto& r = state.userRange;
  if (r[0][1] > 0) device->SetVertexShaderConstantF(r[0][0], state.userVertexF[r[0][0]], r[0][1]);
  if (r[1][1] > 0) device->SetVertexShaderConstantI(r[1][0], state.userVertexI[r[1][0]], r[1][1]);
  if (r[2][1] > 0) device->SetVertexShaderConstantB(r[2][0], &state.userVertexB[r[2][0]], r[2][1]);
  if (r[3][1] > 0) device->SetPixelShaderConstantF(r[3][0], state.userPixelF[r[3][0]], r[3][1]);
  if (r[4][1] > 0) device->SetPixelShaderConstantI(r[4][0], state.userPixelI[r[4][0]], r[4][1]);
  if (r[5][1] > 0) device->SetPixelShaderConstantB(r[5][0], &state.userPixelB[r[5][0]], r[5][1]);
}

// The base layouts of the model vertices, by skinning kind and normal-map variant: position,
// normal and two colours, then blend weights and indices for skinned kinds, then tangent and
// binormal for the normal-map variant.
struct LayoutElement {
  BYTE type;
  BYTE usage;
  BYTE usageIndex;
};

int BuildBaseLayout(int layout, D3DVERTEXELEMENT9* out) {
  const int kind = layout / 2;
  const int variant = layout % 2;
  LayoutElement elements[12];
  int count = 0;
  elements[count++] = {D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0};
  elements[count++] = {D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0};
  elements[count++] = {D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0};
  elements[count++] = {D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1};
  for (int set = 0; set < kind; ++set) {
    elements[count++] = {D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, static_cast<BYTE>(set)};
    elements[count++] = {D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, static_cast<BYTE>(set)};
  }
  if (variant) {
    elements[count++] = {D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT, 0};
    elements[count++] = {D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BINORMAL, 0};
  }
  WORD offset = 0;
  for (int i = 0; i < count; ++i) {
    out[i] = {0,
              offset,
              elements[i].type,
              D3DDECLMETHOD_DEFAULT,
              elements[i].usage,
              elements[i].usageIndex};
    static constexpr WORD kTypeSize[6] = {4, 8, 12, 16, 4, 4};
    offset = static_cast<WORD>(offset + kTypeSize[elements[i].type]);
  }
  return count;
}

}  // namespace

int GetModelLayoutBaseSize(int layout) {
  if (layout < 0 || layout >= kModelLayoutCount) return -1;
  D3DVERTEXELEMENT9 elements[12];
  const int count = BuildBaseLayout(layout, elements);
  static constexpr int kTypeSize[6] = {4, 8, 12, 16, 4, 4};
  return elements[count - 1].Offset + kTypeSize[elements[count - 1].Type];
}

void SetStoredShaderPack(const uint8_t* block, std::size_t size) {
  state.storedBlock = block;
  state.storedSize = block != nullptr ? size : 0;
}

int AreShadersInUse() { return GraphicsCore().shadersInUse; }

void GetBuiltinShaderSlots(int* vertexSlot, int* pixelSlot) {
  if (vertexSlot != nullptr) *vertexSlot = state.vertexSlot;
  if (pixelSlot != nullptr) *pixelSlot = state.pixelSlot;
}

const uint8_t* GetShaderPackCode(int kind, int slot, int* size) {
  if (size != nullptr) *size = 0;
  if (!state.loaded) return nullptr;
  const bool vertex = kind != 0;
  if (slot < 0 || slot >= (vertex ? kVertexShaderSlotCount : kPixelShaderSlotCount)) return nullptr;
  const uint32_t offset = vertex ? state.vertexCode[slot] : state.pixelCode[slot];
  if (offset == 0) return nullptr;
  const std::size_t index = vertex ? static_cast<std::size_t>(slot)
                                   : static_cast<std::size_t>(kVertexShaderSlotCount + slot);
  if (size != nullptr) *size = ReadSize(state.file, index);
  return state.file + offset;
}

IDirect3DVertexDeclaration9* GetVertexDeclaration(int index) {
  if (index < 0 || index > kVertexDeclarationCount) return nullptr;
  return state.declarations[index];
}

IDirect3DVolumeTexture9* GetBrightnessVolumeTexture() { return state.brightnessVolume; }
IDirect3DVertexShader9* GetBaseVertexShader() { return state.vertexShaders[kBaseVertexShaderSlot]; }
IDirect3DPixelShader9* GetBasePixelShader() { return state.pixelShaders[kBasePixelShaderSlot]; }

int LoadShaderPack() {
  if (state.loaded) return 1;
  FreeUnpackedBlocks();
  const uint8_t* block = state.storedBlock != nullptr ? state.storedBlock : kStoredPack;
  const std::size_t blockSize = state.storedBlock != nullptr ? state.storedSize : 0;
  std::size_t archiveSize = 0;
  state.archiveImage = UnpackBlock(block, blockSize, &archiveSize);
  if (state.archiveImage == nullptr || archiveSize > 0xFFFFFFFFu) {
    FreeUnpackedBlocks();
    return 0;
  }
  state.archiveSize = static_cast<uint32_t>(archiveSize);
  if (OpenArchiveImage(&state.archive, state.archiveImage, state.archiveSize, nullptr) != 0) {
    FreeUnpackedBlocks();
    return 0;
  }
  ArchiveEntryStream entry;
  if (OpenArchiveEntry(&entry, &state.archive, "KvShaderPack.bin", 0) != 0) {
    FreeUnpackedBlocks();
    return 0;
  }
  const uint32_t packedSize = entry.entry.dataSize;
  auto* packed = static_cast<uint8_t*>(TrackedAlloc(packedSize ? packedSize : 1));
  bool read = packed != nullptr && ReadArchiveEntry(&entry, packed, packedSize) == packedSize;
  CloseArchiveEntry(&entry);
  if (read) state.file = UnpackBlock(packed, packedSize, &state.fileSize);
  TrackedFree(packed);
  if (state.file == nullptr || !IndexShaderCode()) {
    FreeUnpackedBlocks();
    return 0;
  }
  state.loaded = 1;
  return 1;
}

int ReleaseShaderPack() {
  FreeUnpackedBlocks();
  return 0;
}

int ReleaseShaderObjects() {
  for (IDirect3DVertexShader9*& shader : state.vertexShaders) ReleaseObject(shader);
  for (IDirect3DPixelShader9*& shader : state.pixelShaders) ReleaseObject(shader);
  return 0;
}

int SetUpShaders() {
  GraphicsCoreState& core = GraphicsCore();
  ReleaseShaderObjects();
  core.shadersInUse = 0;
  if (core.vertexShader20 && core.pixelShader20 && core.hardwareVertexProcessing) {
    core.shadersInUse = 1;
    if (!state.loaded && LoadShaderPack() == 0) {
      LogWriteText("シェーダーコードを展開するメモリ領域の確保に失敗しました\n");
      core.shadersInUse = 0;
    }
  }
  if (core.shadersInUse && (CreateVertexShaderOfSlot(kBaseVertexShaderSlot) == -1 ||
                            CreatePixelShaderOfSlot(kBasePixelShaderSlot) == -1)) {
    core.shadersInUse = 0;
  }
  LogWriteText(core.shadersInUse ? "プログラマブルシェーダーを使用します\n"
                                 : "プログラマブルシェーダーを使用しません\n");
  static constexpr float kVertexZero[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  static constexpr float kPixelZero[4] = {0.0f, 0.5f, 1.0f, 2.0f};
  DeviceStateCache& cache = GetDeviceStateCache();
  std::memcpy(cache.vertexShaderConstants[0], kVertexZero, sizeof kVertexZero);
  std::memcpy(cache.pixelShaderConstants[0], kPixelZero, sizeof kPixelZero);
  if (core.shadersInUse) {
    SwitchShaderConstantSet(0);
    Device()->SetVertexShaderConstantF(0, kVertexZero, 1);
    Device()->SetPixelShaderConstantF(0, kPixelZero, 1);
  }
  return 0;
}

int SwitchShaderConstantSet(int set) {
  if (!GraphicsCore().shadersInUse) return 0;
  DeviceStateCache& cache = GetDeviceStateCache();
  const int user = set != 0 ? 1 : 0;
  if (cache.userConstantSetOn == user) return 0;
  if (user) {
    SendUserConstants();
  } else {
    SendEngineConstants();
  }
  cache.userConstantSetOn = user;
  return 0;
}

int UpdateBuiltinShaderSlots() {
  if (!GraphicsCore().shadersInUse) return 0;
  const DeviceStateCache& cache = GetDeviceStateCache();
  const int lighting = cache.lighting ? 1 : 0;
  int types[3] = {0, 0, 0};
  int anyLight = 0;
  for (int i = 0; i < 3 && lighting; ++i) {
    if (cache.lightUsed[i] && cache.lightEnabled[i]) {
      types[i] = static_cast<int>(cache.lights[i].Type);
      anyLight = 1;
    }
  }
  const int fog = cache.fogEnable ? cache.fogMode : 0;
  auto k = [](int type) { return type == 3 ? 2 : type == 0 ? 0 : 1; };
  state.vertexSlot = 24576 * lighting + 4096 * anyLight + 512 * fog + 128 * types[0] +
                     32 * types[1] + 8 * types[2];
  state.pixelSlot =
      1728 * lighting + 432 * anyLight + 72 * k(types[0]) + 24 * k(types[1]) + 8 * k(types[2]);
  return 0;
}

int ReleaseVertexDeclarations() {
  for (IDirect3DVertexDeclaration9*& declaration : state.declarations) ReleaseObject(declaration);
  return 0;
}

int CreateVertexDeclarations() {
  ReleaseVertexDeclarations();
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return -1;
  int result = 0;
  for (int layout = 0; layout < kModelLayoutCount; ++layout) {
    for (int sets = 0; sets <= kModelTexCoordSetLimit; ++sets) {
      D3DVERTEXELEMENT9 elements[24];
      const int base = BuildBaseLayout(layout, elements);
      const WORD size = static_cast<WORD>(GetModelLayoutBaseSize(layout));
      for (int set = 0; set < sets; ++set) {
        elements[base + set] = {0,
                                static_cast<WORD>(size + 16 * set),
                                D3DDECLTYPE_FLOAT4,
                                D3DDECLMETHOD_DEFAULT,
                                D3DDECLUSAGE_TEXCOORD,
                                static_cast<BYTE>(set)};
      }
      elements[base + sets] = D3DDECL_END();
      if (FAILED(device->CreateVertexDeclaration(
              elements, &state.declarations[layout * (kModelTexCoordSetLimit + 1) + sets])))
        result = -1;
    }
  }
  const D3DVERTEXELEMENT9 vertex3D[] = {
      {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
      {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
      {0, 24, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
      {0, 28, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 1},
      {0, 32, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
      {0, 40, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
      D3DDECL_END(),
  };
  if (FAILED(
          device->CreateVertexDeclaration(vertex3D, &state.declarations[kVertexDeclarationCount])))
    result = -1;
  return result;
}

void ScaleColorToFullBrightness(int red, int green, int blue, uint8_t* outRed, uint8_t* outGreen,
                                uint8_t* outBlue) {
  int c[3] = {std::clamp(red, 0, 255), std::clamp(green, 0, 255), std::clamp(blue, 0, 255)};
  int out[3] = {255, 255, 255};
  int largest = 0;
  for (int i = 1; i < 3; ++i)
    if (c[i] > c[largest]) largest = i;
  int smallest = largest == 0 ? 1 : 0;
  for (int i = 0; i < 3; ++i)
    if (i != largest && c[i] < c[smallest]) smallest = i;
  const int middle = 3 - largest - smallest;
  const int top = c[largest];
  const int bottom = c[smallest];
  if (top != bottom) {
    const int d = (top - bottom) * 255 / top;
    out[largest] = 255;
    out[smallest] = 255 - d;
    out[middle] = 255 - d * (255 - (c[middle] - bottom) * 255 / (top - bottom)) / 255;
  }
  *outRed = static_cast<uint8_t>(out[0]);
  *outGreen = static_cast<uint8_t>(out[1]);
  *outBlue = static_cast<uint8_t>(out[2]);
}

int ReleaseBrightnessVolumeTexture() {
  ReleaseObject(state.brightnessVolume);
  return 0;
}

int CreateBrightnessVolumeTexture() {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return -1;
  ReleaseBrightnessVolumeTexture();
  IDirect3DVolumeTexture9* source = nullptr;
  auto fail = [&](const char* message) {
    if (message != nullptr) LogWriteText(message);
    ReleaseObject(source);
    ReleaseObject(state.brightnessVolume);
    return -1;
  };
  if (FAILED(device->CreateVolumeTexture(kVolumeSize, kVolumeSize, kVolumeSize, 1, 0,
                                         D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &state.brightnessVolume,
                                         nullptr))) {
    state.brightnessVolume = nullptr;
    return fail(
        "RGBカラーを輝度を最大にしたRGB値に変換するためのボリュームテクスチャの作成に失敗しました"
        "\n");
  }
  if (FAILED(device->CreateVolumeTexture(kVolumeSize, kVolumeSize, kVolumeSize, 1, 0,
                                         D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &source, nullptr))) {
    source = nullptr;
    return fail(
        "RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャの作成に失敗"
        "しました\n");
  }
  D3DLOCKED_BOX box{};
  if (FAILED(source->LockBox(0, &box, nullptr, 0))) {
    return fail(
        "RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャのロックに失"
        "敗しました\n");
  }
  for (int z = 0; z < kVolumeSize; ++z) {
    for (int y = 0; y < kVolumeSize; ++y) {
      uint8_t* row = static_cast<uint8_t*>(box.pBits) +
                     static_cast<std::size_t>(z) * box.SlicePitch +
                     static_cast<std::size_t>(y) * box.RowPitch;
      for (int x = 0; x < kVolumeSize; ++x) {
        uint8_t r = 255;
        uint8_t g = 255;
        uint8_t b = 255;
        if (x >= 8 || y >= 8 || z >= 8) ScaleColorToFullBrightness(2 * x, 2 * y, 2 * z, &r, &g, &b);
        uint8_t* texel = row + 4 * x;
        texel[0] = b;
        texel[1] = g;
        texel[2] = r;
        texel[3] = 255;
      }
    }
  }
  source->UnlockBox(0);
  if (FAILED(device->UpdateTexture(source, state.brightnessVolume))) return fail(nullptr);
  ReleaseObject(source);
  return 0;
}
