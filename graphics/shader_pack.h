// The built-in shader pack and the programmable-shader bookkeeping: the pack unpacked from the
// program's own data, the base vertex and pixel shaders made from it, the vertex declarations of
// the model layouts, the brightness volume texture, the engine and user shader-constant sets and
// the built-in shader slot numbers. Nothing draws with any of them: the draw paths stay on the
// fixed-function pipeline.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3d9/d3d9.h"

constexpr int kVertexShaderSlotCount = 98304;
constexpr int kPixelShaderSlotCount = 41472;
constexpr std::size_t kShaderPackCodeOffset =
    2 * static_cast<std::size_t>(kVertexShaderSlotCount + kPixelShaderSlotCount);
constexpr int kBaseVertexShaderSlot = 32774;
constexpr int kBasePixelShaderSlot = 2454;
constexpr int kModelLayoutCount = 6;
constexpr int kModelTexCoordSetLimit = 8;
constexpr int kVertexDeclarationCount = kModelLayoutCount * (kModelTexCoordSetLimit + 1);

// Always 0; run by StartDirect3D once the depth buffer exists.
int SetUpShaders();
// 1 when the pack is (or already was) unpacked, 0 when it cannot be: the stored block, the
// archive in it or "KvShaderPack.bin" is missing, damaged or too short for its own size table.
int LoadShaderPack();
// Closes the pack's archive and frees both unpacked blocks (graphics end).
int ReleaseShaderPack();
int CreateVertexDeclarations();
int ReleaseVertexDeclarations();
// 0, or -1 without a device or when a texture cannot be made, locked or filled.
int CreateBrightnessVolumeTexture();
int ReleaseBrightnessVolumeTexture();
int ReleaseShaderObjects();
int UpdateBuiltinShaderSlots();
// 0 puts the engine set of constants on the device, 1 the user set.
int SwitchShaderConstantSet(int set);
// Red, green and blue scaled so that the largest is 255 and the hue is kept; grey and black give
// white.
void ScaleColorToFullBrightness(int red, int green, int blue, uint8_t* outRed, uint8_t* outGreen,
                                uint8_t* outBlue);

// 1 while programmable shaders are in use.
int AreShadersInUse();
void GetBuiltinShaderSlots(int* vertexSlot, int* pixelSlot);
// The byte code of a slot of the unpacked pack (kind 0 pixel, otherwise vertex) and its size in
// bytes; null for an empty slot or without a pack.
const uint8_t* GetShaderPackCode(int kind, int slot, int* size);
IDirect3DVertexDeclaration9* GetVertexDeclaration(int index);  // index 54: the 3D vertex
IDirect3DVolumeTexture9* GetBrightnessVolumeTexture();
IDirect3DVertexShader9* GetBaseVertexShader();
IDirect3DPixelShader9* GetBasePixelShader();

// Byte size of a model layout's vertex (layout = skinning kind * 2 + variant) without texture
// coordinates; -1 outside 0-5.
int GetModelLayoutBaseSize(int layout);

// The program's stored pack is an empty block, so shaders stay off; tests put a pack of their own
// (an LZ block holding an archive) in its place. Null restores the stored one. The bytes must
// outlive their use.
void SetStoredShaderPack(const uint8_t* block, std::size_t size);
