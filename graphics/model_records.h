// The model system's records as its two source files share them (buffers and handles in
// model_system.cpp, textures and the test-made bases in model_textures.cpp).
#pragma once

#include <cstdint>

#include "graphics/model_system.h"

struct ModelTextureEntry {
  uint8_t* colorFile;
  int32_t colorFileSize;
  int32_t colorOwned;
  uint8_t* alphaFile;
  int32_t alphaFileSize;
  int32_t alphaOwned;
  int32_t normalMap;
  float bumpScale;
  int32_t graph;
  int32_t inUse;  // instance entries only
};

struct ModelMesh {
  int32_t skinningKind;
  int32_t normalMap;
  int32_t texCoordSets;
  int32_t vertexCount;
  int32_t indexCounts[2];
  uint8_t* vertices;
  uint16_t* indices;
  int32_t dynamicBuffers;
  ModelBufferBlock* block;
  int32_t vertexStart;
  int32_t indexStart;
};

struct ModelInstance;

struct ModelBase {
  int32_t referenceCount;  // its owner and every instance of it
  ModelTextureEntry* textures;
  int32_t textureCount;
  ModelMesh* meshes;
  int32_t meshCount;
  ModelBufferBlock* listFirst[kModelBufferListCount];
  ModelBufferBlock* listCurrent[kModelBufferListCount];
  int32_t listCount[kModelBufferListCount];
  int32_t blockTotal;
  int32_t buffersBuilt;
  int32_t storedFlag;
  ModelInstance* firstInstance;
  ModelInstance* lastInstance;
  int32_t instanceCount;
};

struct ModelFrameData {
  void* list;
  void* blocks[2];
  int32_t hasDynamicBuffers;
};

struct ModelInstance {
  int32_t check;
  int32_t slot;
  int32_t baseHandle;
  ModelBase* base;
  ModelInstance* previous;
  ModelInstance* next;
  ModelFrameData own;
  ModelFrameData* frames;
  int32_t frameCount;
  IDirect3DVertexBuffer9** dynamicBuffers;  // one per mesh of the base
  int32_t dynamicBufferCount;
  int32_t hasDynamicBuffers;
  ModelTextureEntry* textures;
  int32_t textureCount;
  int32_t texturesOwned;
  void** entries;  // attached entries
  int32_t entryCount;
  int32_t entryCapacity;
};

struct ModelSystemState {
  int32_t started;
  float sineTable[kModelSineTableSize];
  ModelBase** bases;  // a slot holds a record, null (free) or 1 (reserved)
  int32_t baseSlotCount;
  int32_t baseCapacity;
  int32_t baseLiveCount;
  ModelInstance** instances;
  int32_t instanceSlotCount;
  int32_t instanceCapacity;
  int32_t instanceLiveCount;
  int32_t nextInstanceCheck;
  void* spare;
  int32_t spareCount;
  int32_t spareCapacity;
  int32_t builtinGraphs[3];  // white, four-step ramp, grey ramp; 0 (no live graph) in the program
};

ModelSystemState& GetModelSystemState();
// Puts a made base into the table with its owner's reference; its handle, or -1.
int AddModelBaseRecord(ModelBase* base);
