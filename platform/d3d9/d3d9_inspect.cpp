// Read-back of what the CPU device stores but never shows: buffer memory, shader code and
// constants, declarations and volume texels. Only tests call these.
#include <cstring>

#include "platform/d3d9/d3d9_internal.h"

namespace {

template <class Buffer, class Interface>
bool ReadBytes(Interface* buffer, std::vector<std::uint8_t>* bytes) {
  auto* cpu = dynamic_cast<Buffer*>(buffer);
  if (cpu == nullptr || bytes == nullptr) return false;
  *bytes = cpu->bytes;
  return true;
}

}  // namespace

bool D3D9ReadBufferBytes(IDirect3DVertexBuffer9* buffer, std::vector<std::uint8_t>* bytes) {
  return ReadBytes<CpuVertexBuffer>(buffer, bytes);
}

bool D3D9ReadBufferBytes(IDirect3DIndexBuffer9* buffer, std::vector<std::uint8_t>* bytes) {
  return ReadBytes<CpuIndexBuffer>(buffer, bytes);
}

bool D3D9ReadShaderCode(IUnknown* shader, std::vector<DWORD>* code) {
  if (shader == nullptr || code == nullptr) return false;
  if (auto* vertex = dynamic_cast<CpuVertexShader*>(shader)) {
    *code = vertex->code;
    return true;
  }
  if (auto* pixel = dynamic_cast<CpuPixelShader*>(shader)) {
    *code = pixel->code;
    return true;
  }
  return false;
}

bool D3D9ReadVertexDeclaration(IDirect3DVertexDeclaration9* declaration,
                               std::vector<D3DVERTEXELEMENT9>* elements) {
  auto* cpu = dynamic_cast<CpuVertexDeclaration*>(declaration);
  if (cpu == nullptr || elements == nullptr) return false;
  *elements = cpu->elements;
  return true;
}

bool D3D9ReadVolumeTexel(IDirect3DVolumeTexture9* texture, UINT x, UINT y, UINT z, DWORD* texel) {
  auto* cpu = dynamic_cast<CpuVolumeTexture*>(texture);
  if (cpu == nullptr || texel == nullptr || cpu->levels.empty()) return false;
  if (cpu->format != D3DFMT_X8R8G8B8 && cpu->format != D3DFMT_A8R8G8B8) return false;
  const VolumeLevel& level = cpu->levels[0];
  if (x >= level.width || y >= level.height || z >= level.depth) return false;
  std::memcpy(texel,
              level.bits.data() + static_cast<std::size_t>(z) * level.slicePitch +
                  static_cast<std::size_t>(y) * level.rowPitch + 4 * static_cast<std::size_t>(x),
              4);
  return true;
}

bool D3D9ReadShaderConstantF(IDirect3DDevice9* device, bool pixel, UINT registerIndex,
                             float value[4]) {
  auto* cpu = dynamic_cast<CpuDevice*>(device);
  if (cpu == nullptr || value == nullptr) return false;
  const std::vector<float>& store = pixel ? cpu->pixelConstantsF : cpu->vertexConstantsF;
  if ((static_cast<std::size_t>(registerIndex) + 1) * 4 > store.size()) return false;
  std::memcpy(value, store.data() + static_cast<std::size_t>(registerIndex) * 4, 4 * sizeof(float));
  return true;
}
