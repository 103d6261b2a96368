// The 3D model system's resource glue: model bases (shared geometry and textures) and model
// instances (engine handles of type 10), their vertex and index buffers in 54 layout lists, their
// texture graphs refilled from the kept file images, and their deletion. The program loads no
// model, so in it every walk finds empty tables.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "platform/d3d9/d3d9.h"

constexpr int kModelBufferListCount = 54;
constexpr int kModelBlockVertexLimit = 0x5FFFF;
constexpr int kModelBlockIndexLimit = 0xBFFFF;
constexpr int kModelSineTableSize = 65536;

// One block of a layout list: a vertex and an index buffer shared by the meshes given to it.
struct ModelBufferBlock {
  IDirect3DVertexBuffer9* vertexBuffer;
  IDirect3DIndexBuffer9* indexBuffer;
  int32_t vertexCount;
  int32_t indexCount;
  void* lockedVertices;
  void* lockedIndices;
  int32_t fvf;
  int32_t stride;
  ModelBufferBlock* next;
  ModelBufferBlock* previous;
};

int StartModelSystem();
int EndModelSystem();
int RestoreModelTextures();
int RestoreGrayRampGraph(int graph);
int PrepareModelTexture(StandardImage* colorImage, StandardImage* alphaImage, const void* colorFile,
                        int colorFileSize, const void* alphaFile, int alphaFileSize, int normalMap,
                        float bumpScale, int turn);
int SetUpModelBaseBuffers(int base, int storedFlag);
int SetUpModelInstanceBuffers(int instance);
int RecreateAllModelBuffers();
int ReleaseModelBaseBuffers(int base);
int ReleaseModelInstanceBuffers(int instance);
int ReleaseAllModelBuffers();
int DeleteModelBase(int base);
int DeleteModelInstance(int instance);
int ClearModelInstanceEntry(int instance, int entry);
int FreeModelFrameList(int instance, int frame);
int FreeModelFrameBlock(int instance, int frame, int which);

int StartModelSystem();
int EndModelSystem();

// What the rest of the engine may ask.
int IsModelSystemStarted();
float GetModelSine(int index);
// The vertex stride and FVF of a layout list (layout * 9 + texture-coordinate sets); -1 outside.
int GetModelListStride(int list);
DWORD GetModelListFVF(int list);
// The two TGA images held in the program: 0 the 8 x 8 white texture, 1 the four-step ramp.
const uint8_t* GetBuiltinModelImage(int which, int* size);
// The smooth grey ramp (256 x 8, X8R8G8B8, red = green = blue = x); 0 or -1.
int MakeGrayRampImage(StandardImage* image);

// Test hooks: the program has no model loader. A mesh in the layout of its skinning kind (0-2),
// normal-map variant and texture-coordinate sets, with its vertices already in that layout.
struct ModelMeshDescription {
  int skinningKind;
  int normalMap;
  int texCoordSets;
  int vertexCount;
  int indexCounts[2];
  const uint8_t* vertices;  // stride x vertexCount bytes, or null for zeros
  const uint16_t* indices;  // indexCounts[0] + indexCounts[1] indices, or null for zeros
  int dynamicBuffers;       // instances get a dynamic vertex buffer of their own for it
};
struct ModelTextureDescription {
  const uint8_t* colorFile;
  int colorFileSize;
  const uint8_t* alphaFile;
  int alphaFileSize;
  int normalMap;
  float bumpScale;
};
// A base handle, or -1; its meshes and file images are copied.
int CreateModelBaseForTest(const ModelMeshDescription* meshes, int meshCount,
                           const ModelTextureDescription* textures, int textureCount);
int CreateModelInstanceForTest(int base);
int GetModelBaseCount();
int GetModelInstanceCount();
// The block of a list (0 = first) of a base, null past the end.
const ModelBufferBlock* GetModelBaseBlock(int base, int list, int index);
int GetModelBaseBlockTotal(int base);
int GetModelBaseTextureGraph(int base, int entry);
IDirect3DVertexBuffer9* GetModelInstanceDynamicBuffer(int instance, int mesh);
void SetModelBuiltinGraphs(int white, int ramp, int gray);
