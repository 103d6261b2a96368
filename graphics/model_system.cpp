// The model system's tables, its start and end, the vertex and index buffers of model bases in
// their layout lists and the dynamic buffers of instances, their release and re-creation around a
// device rebuild, and the deletion of bases and instances.
#include "graphics/model_system.h"

#include <cmath>
#include <cstring>

#include "graphics/device_state_cache.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/model_records.h"
#include "graphics/shader_pack.h"
#include "system/engine_handle.h"
#include "system/tracked_memory.h"

namespace {

ModelSystemState model;

// Base handles carry the graph type and the slot, without a check number.
constexpr int kBaseHandleBits = 0x8000000;
constexpr int kBaseSlotMask = 0x1FFFF;

ModelBase* const kReservedBase = reinterpret_cast<ModelBase*>(uintptr_t{1});
ModelInstance* const kReservedInstance = reinterpret_cast<ModelInstance*>(uintptr_t{1});

bool IsRecord(const void* slot) { return slot != nullptr && slot != reinterpret_cast<void*>(1); }

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// The slot of a base handle, checked against the table: a handle past the slots in use is
// refused rather than read outside the table.
int BaseSlot(int handle) {
  if (handle < 0 || ((handle >> 27) & 0xF) != 1 || (handle & ~(kBaseHandleBits | kBaseSlotMask)))
    return -1;
  const int slot = handle & kBaseSlotMask;
  return slot < model.baseSlotCount ? slot : -1;
}

ModelBase* FindBase(int handle) {
  const int slot = BaseSlot(handle);
  return slot >= 0 && IsRecord(model.bases[slot]) ? model.bases[slot] : nullptr;
}

ModelInstance* FindInstance(int handle) {
  if (handle < 0 || GetEngineHandleTypeCode(handle) != kModelInstanceHandle) return nullptr;
  const int slot = GetEngineHandleSlot(handle);
  if (slot >= model.instanceSlotCount || slot >= 65536) return nullptr;
  ModelInstance* instance = model.instances[slot];
  if (!IsRecord(instance) || (instance->check & 0x7FF) != GetEngineHandleCheck(handle))
    return nullptr;
  return instance;
}

bool HardwareVertexProcessing() {
  return IsDirect3DMode() && GraphicsCore().hardwareVertexProcessing != 0;
}

// Grows a table of pointers to hold one more slot; false when memory is short.
template <class T>
bool GrowTable(T**& table, int& count, int& capacity) {
  if (count < capacity) return true;
  const int wanted = capacity == 0 ? 16 : capacity * 2;
  auto* grown = static_cast<T**>(TrackedAllocZeroed(int64_t{wanted} * sizeof(T*)));
  if (grown == nullptr) return false;
  if (table != nullptr) std::memcpy(grown, table, sizeof(T*) * static_cast<size_t>(count));
  TrackedFree(table);
  table = grown;
  capacity = wanted;
  return true;
}

void FreeBlock(ModelBufferBlock* block) {
  ReleaseObject(block->vertexBuffer);
  ReleaseObject(block->indexBuffer);
  TrackedFree(block);
}

void ClearBaseBuffers(ModelBase* base) {
  for (int list = 0; list < kModelBufferListCount; ++list) {
    for (ModelBufferBlock* block = base->listFirst[list]; block != nullptr;) {
      ModelBufferBlock* next = block->next;
      FreeBlock(block);
      block = next;
    }
    base->listFirst[list] = nullptr;
    base->listCurrent[list] = nullptr;
    base->listCount[list] = 0;
  }
  base->blockTotal = 0;
  for (int m = 0; m < base->meshCount; ++m) {
    base->meshes[m].block = nullptr;
    base->meshes[m].vertexStart = 0;
    base->meshes[m].indexStart = 0;
  }
}

int MeshList(const ModelMesh& mesh) {
  if (mesh.skinningKind < 0 || mesh.skinningKind > 2) return -1;
  if (mesh.texCoordSets < 0 || mesh.texCoordSets > kModelTexCoordSetLimit) return -1;
  const int layout = mesh.skinningKind * 2 + (mesh.normalMap ? 1 : 0);
  return layout * (kModelTexCoordSetLimit + 1) + mesh.texCoordSets;
}

void UnlinkBlock(ModelBase* base, int list, ModelBufferBlock* block) {
  if (block->previous != nullptr) block->previous->next = block->next;
  if (block->next != nullptr) block->next->previous = block->previous;
  if (base->listFirst[list] == block) base->listFirst[list] = block->next;
  if (base->listCurrent[list] == block) base->listCurrent[list] = block->previous;
  for (int m = 0; m < base->meshCount; ++m)
    if (base->meshes[m].block == block) base->meshes[m].block = nullptr;
  --base->listCount[list];
  --base->blockTotal;
  FreeBlock(block);
}

// Gives each mesh a place in the current block of its list, chaining a new block when the
// current one would pass the vertex or index limit.
bool AssignMeshesToBlocks(ModelBase* base) {
  for (int m = 0; m < base->meshCount; ++m) {
    ModelMesh& mesh = base->meshes[m];
    const int list = MeshList(mesh);
    if (list < 0) continue;
    const int indices = mesh.indexCounts[0] + mesh.indexCounts[1];
    ModelBufferBlock* block = base->listCurrent[list];
    if (block != nullptr && block->vertexCount > 0 &&
        (block->vertexCount + mesh.vertexCount > kModelBlockVertexLimit ||
         block->indexCount + indices > kModelBlockIndexLimit)) {
      auto* chained = static_cast<ModelBufferBlock*>(TrackedAllocZeroed(sizeof(ModelBufferBlock)));
      if (chained == nullptr) return false;
      chained->previous = block;
      block->next = chained;
      base->listCurrent[list] = chained;
      ++base->listCount[list];
      ++base->blockTotal;
      block = chained;
    }
    if (block == nullptr) {
      block = static_cast<ModelBufferBlock*>(TrackedAllocZeroed(sizeof(ModelBufferBlock)));
      if (block == nullptr) return false;
      base->listFirst[list] = block;
      base->listCurrent[list] = block;
      base->listCount[list] = 1;
      ++base->blockTotal;
    }
    mesh.block = block;
    mesh.vertexStart = block->vertexCount;
    mesh.indexStart = block->indexCount;
    block->vertexCount += mesh.vertexCount;
    block->indexCount += indices;
  }
  return true;
}

bool CreateBlockBuffers(ModelBufferBlock* block, int list) {
  block->stride = GetModelListStride(list);
  block->fvf = static_cast<int32_t>(GetModelListFVF(list));
  if (block->vertexCount <= 0 || block->indexCount <= 0) return false;
  const int64_t vertexBytes = int64_t{block->vertexCount} * block->stride;
  if (FAILED(CreateVertexBufferRaw(static_cast<UINT>(vertexBytes), D3DUSAGE_WRITEONLY,
                                   static_cast<DWORD>(block->fvf), D3DPOOL_DEFAULT,
                                   &block->vertexBuffer)) ||
      FAILED(block->vertexBuffer->Lock(0, 0, &block->lockedVertices, 0))) {
    return false;
  }
  if (FAILED(CreateIndexBufferRaw(static_cast<UINT>(block->indexCount) * 2, D3DUSAGE_WRITEONLY,
                                  D3DFMT_INDEX16, D3DPOOL_DEFAULT, &block->indexBuffer)) ||
      FAILED(block->indexBuffer->Lock(0, 0, &block->lockedIndices, 0))) {
    return false;
  }
  return true;
}

void UnlockBlock(ModelBufferBlock* block) {
  if (block->lockedVertices != nullptr) block->vertexBuffer->Unlock();
  if (block->lockedIndices != nullptr) block->indexBuffer->Unlock();
  block->lockedVertices = nullptr;
  block->lockedIndices = nullptr;
}

void UnlinkInstance(ModelInstance* instance) {
  ModelBase* base = instance->base;
  if (base == nullptr) return;
  if (instance->previous != nullptr) instance->previous->next = instance->next;
  if (instance->next != nullptr) instance->next->previous = instance->previous;
  if (base->firstInstance == instance) base->firstInstance = instance->next;
  if (base->lastInstance == instance) base->lastInstance = instance->previous;
  --base->instanceCount;
}

ModelFrameData* InstanceFrame(ModelInstance* instance, int frame) {
  if (frame == -1) return &instance->own;
  if (frame < 0 || frame >= instance->frameCount) return nullptr;
  return &instance->frames[frame];
}

void FreeTextureEntryFiles(ModelTextureEntry& entry) {
  if (entry.colorOwned) TrackedFree(entry.colorFile);
  if (entry.alphaOwned) TrackedFree(entry.alphaFile);
  entry.colorFile = nullptr;
  entry.alphaFile = nullptr;
}

}  // namespace

ModelSystemState& GetModelSystemState() { return model; }

int IsModelSystemStarted() { return model.started; }

float GetModelSine(int index) {
  if (!model.started || index < 0 || index >= kModelSineTableSize) return 0.0f;
  return model.sineTable[index];
}

int GetModelListStride(int list) {
  if (list < 0 || list >= kModelBufferListCount) return -1;
  const int layout = list / (kModelTexCoordSetLimit + 1);
  return GetModelLayoutBaseSize(layout) + 16 * (list % (kModelTexCoordSetLimit + 1));
}

DWORD GetModelListFVF(int list) {
  if (list < 0 || list >= kModelBufferListCount || list / (kModelTexCoordSetLimit + 1) != 0)
    return 0;
  const int sets = list % (kModelTexCoordSetLimit + 1);
  DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
              (static_cast<DWORD>(sets) << D3DFVF_TEXCOUNT_SHIFT);
  for (int set = 0; set < sets; ++set) fvf |= D3DFVF_TEXCOORDSIZE4(set);
  return fvf;
}

int StartModelSystem() {
  if (model.started || !IsDirect3DMode()) return 0;
  const float pi = 3.14159265358979323846f;
  for (int i = 0; i < kModelSineTableSize; ++i) {
    const float angle = static_cast<float>(i) * pi * 2.0f / static_cast<float>(kModelSineTableSize);
    model.sineTable[i] = static_cast<float>(std::sin(static_cast<double>(angle)));
  }
  model.bases = nullptr;
  model.baseSlotCount = model.baseCapacity = model.baseLiveCount = 0;
  model.instances = nullptr;
  model.instanceSlotCount = model.instanceCapacity = model.instanceLiveCount = 0;
  model.spare = nullptr;
  model.spareCount = model.spareCapacity = 0;
  model.started = 1;
  return 0;
}

int EndModelSystem() {
  if (!model.started) return 0;
  for (int slot = 0; slot < model.instanceSlotCount; ++slot) {
    ModelInstance* instance = model.instances[slot];
    if (instance == nullptr) continue;
    const int check = IsRecord(instance) ? instance->check : 0;
    if (IsRecord(instance)) {
      DeleteModelInstance(MakeEngineHandle(kModelInstanceHandle, check, slot));
    } else {
      model.instances[slot] = nullptr;
    }
  }
  for (int slot = 0; slot < model.baseSlotCount; ++slot) {
    // A base still referenced by its owner and nothing else goes with one deletion; the loop
    // repeats for a base someone else still held.
    while (model.bases[slot] != nullptr)
      if (DeleteModelBase(slot | kBaseHandleBits) == -1) break;
  }
  TrackedFree(model.bases);
  TrackedFree(model.instances);
  TrackedFree(model.spare);
  model.bases = nullptr;
  model.instances = nullptr;
  model.spare = nullptr;
  model.baseSlotCount = model.baseCapacity = model.baseLiveCount = 0;
  model.instanceSlotCount = model.instanceCapacity = model.instanceLiveCount = 0;
  model.spareCount = model.spareCapacity = 0;
  model.started = 0;
  return 0;
}

int SetUpModelBaseBuffers(int handle, int storedFlag) {
  if (!HardwareVertexProcessing()) return 0;
  ModelBase* base = FindBase(handle);
  if (base == nullptr) return -1;
  if (base->buffersBuilt) return 0;
  base->storedFlag = storedFlag;
  ClearBaseBuffers(base);
  bool ok = AssignMeshesToBlocks(base);
  for (int list = 0; ok && list < kModelBufferListCount; ++list) {
    ModelBufferBlock* last = base->listCurrent[list];
    if (last != nullptr && last->indexCount == 0) UnlinkBlock(base, list, last);
  }
  const bool shaders = AreShadersInUse() != 0;
  for (int list = 0; ok && list < kModelBufferListCount; ++list) {
    const bool needsShaders = list / (kModelTexCoordSetLimit + 1) != 0;
    if (needsShaders && !shaders) continue;
    for (ModelBufferBlock* block = base->listFirst[list]; ok && block != nullptr;
         block = block->next)
      ok = CreateBlockBuffers(block, list);
  }
  if (!ok) {
    for (int list = 0; list < kModelBufferListCount; ++list)
      for (ModelBufferBlock* block = base->listFirst[list]; block != nullptr; block = block->next)
        UnlockBlock(block);
    ClearBaseBuffers(base);
    return -1;
  }
  for (int m = 0; m < base->meshCount; ++m) {
    const ModelMesh& mesh = base->meshes[m];
    const ModelBufferBlock* block = mesh.block;
    if (block == nullptr || block->lockedVertices == nullptr) continue;
    const size_t stride = static_cast<size_t>(block->stride);
    std::memcpy(static_cast<uint8_t*>(block->lockedVertices) + mesh.vertexStart * stride,
                mesh.vertices, stride * static_cast<size_t>(mesh.vertexCount));
    std::memcpy(static_cast<uint16_t*>(block->lockedIndices) + mesh.indexStart, mesh.indices,
                2 * static_cast<size_t>(mesh.indexCounts[0] + mesh.indexCounts[1]));
  }
  for (int list = 0; list < kModelBufferListCount; ++list) {
    for (ModelBufferBlock* block = base->listFirst[list]; block != nullptr;) {
      ModelBufferBlock* next = block->next;
      UnlockBlock(block);
      if (block->vertexBuffer == nullptr) UnlinkBlock(base, list, block);
      block = next;
    }
  }
  base->buffersBuilt = 1;
  for (ModelInstance* instance = base->firstInstance; instance != nullptr;
       instance = instance->next) {
    SetUpModelInstanceBuffers(
        MakeEngineHandle(kModelInstanceHandle, instance->check, instance->slot));
  }
  return 0;
}

int SetUpModelInstanceBuffers(int handle) {
  ModelInstance* instance = FindInstance(handle);
  if (instance == nullptr || !model.started) return -1;
  const bool hardware = HardwareVertexProcessing();
  const bool shaders = AreShadersInUse() != 0;
  if (!hardware && !shaders) return 0;
  ModelBase* base = instance->base;
  for (int m = 0; m < base->meshCount; ++m) {
    const ModelMesh& mesh = base->meshes[m];
    if (!mesh.dynamicBuffers || mesh.vertexCount <= 0 || instance->dynamicBuffers[m] != nullptr)
      continue;
    const int list = MeshList(mesh);
    if (list < 0 || !(mesh.skinningKind == 0 ? hardware : shaders)) continue;
    const UINT bytes = static_cast<UINT>(GetModelListStride(list) * mesh.vertexCount);
    if (FAILED(CreateVertexBufferRaw(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                     GetModelListFVF(list), D3DPOOL_DEFAULT,
                                     &instance->dynamicBuffers[m]))) {
      instance->dynamicBuffers[m] = nullptr;
      continue;
    }
    instance->hasDynamicBuffers = 1;
    instance->own.hasDynamicBuffers = 1;
  }
  return 0;
}

int RecreateAllModelBuffers() {
  for (int slot = 0; slot < model.baseSlotCount; ++slot)
    if (IsRecord(model.bases[slot])) SetUpModelBaseBuffers(slot | kBaseHandleBits, 1);
  return 0;
}

int ReleaseModelBaseBuffers(int handle) {
  ModelBase* base = FindBase(handle);
  if (base == nullptr) return -1;
  if (!base->buffersBuilt) return 0;
  ClearBaseBuffers(base);
  base->buffersBuilt = 0;
  for (ModelInstance* instance = base->firstInstance; instance != nullptr;
       instance = instance->next) {
    ReleaseModelInstanceBuffers(
        MakeEngineHandle(kModelInstanceHandle, instance->check, instance->slot));
  }
  return 0;
}

int ReleaseModelInstanceBuffers(int handle) {
  ModelInstance* instance = FindInstance(handle);
  if (instance == nullptr) return -1;
  for (int m = 0; m < instance->dynamicBufferCount; ++m) ReleaseObject(instance->dynamicBuffers[m]);
  instance->hasDynamicBuffers = 0;
  instance->own.hasDynamicBuffers = 0;
  return 0;
}

int ReleaseAllModelBuffers() {
  for (int slot = 0; slot < model.baseSlotCount; ++slot)
    if (IsRecord(model.bases[slot])) ReleaseModelBaseBuffers(slot | kBaseHandleBits);
  for (int slot = 0; slot < model.instanceSlotCount; ++slot) {
    ModelInstance* instance = model.instances[slot];
    if (IsRecord(instance))
      ReleaseModelInstanceBuffers(MakeEngineHandle(kModelInstanceHandle, instance->check, slot));
  }
  return 0;
}

int DeleteModelBase(int handle) {
  const int slot = BaseSlot(handle);
  if (slot < 0 || model.bases[slot] == nullptr) return -1;
  if (model.bases[slot] == kReservedBase) {
    model.bases[slot] = nullptr;
    return 0;
  }
  ModelBase* base = model.bases[slot];
  if (--base->referenceCount > 0) return 0;
  ReleaseModelBaseBuffers(handle);
  for (int t = 0; t < base->textureCount; ++t) {
    FreeTextureEntryFiles(base->textures[t]);
    if (base->textures[t].graph > 0) DeleteGraphHandle(base->textures[t].graph);
  }
  TrackedFree(base->textures);
  for (int m = 0; m < base->meshCount; ++m) {
    TrackedFree(base->meshes[m].vertices);
    TrackedFree(base->meshes[m].indices);
  }
  TrackedFree(base->meshes);
  TrackedFree(base);
  model.bases[slot] = nullptr;
  --model.baseLiveCount;
  return 0;
}

int DeleteModelInstance(int handle) {
  if (handle >= 0 && GetEngineHandleTypeCode(handle) == kModelInstanceHandle) {
    const int slot = GetEngineHandleSlot(handle);
    if (slot < model.instanceSlotCount && model.instances[slot] == kReservedInstance) {
      model.instances[slot] = nullptr;
      return 0;
    }
  }
  ModelInstance* instance = FindInstance(handle);
  if (instance == nullptr) return -1;
  for (int e = 0; e < instance->entryCapacity; ++e)
    if (instance->entries[e] != nullptr) ClearModelInstanceEntry(handle, e);
  ReleaseModelInstanceBuffers(handle);
  TrackedFree(instance->dynamicBuffers);
  TrackedFree(instance->entries);
  FreeModelFrameBlock(handle, -1, 0);
  FreeModelFrameBlock(handle, -1, 1);
  FreeModelFrameList(handle, -1);
  for (int f = 0; f < instance->frameCount; ++f) {
    FreeModelFrameBlock(handle, f, 0);
    FreeModelFrameBlock(handle, f, 1);
    FreeModelFrameList(handle, f);
  }
  TrackedFree(instance->frames);
  for (int t = 0; t < instance->textureCount; ++t) {
    ModelTextureEntry& entry = instance->textures[t];
    if (!entry.inUse) continue;
    FreeTextureEntryFiles(entry);
    if (entry.graph > 0) DeleteGraphHandle(entry.graph);
    entry.graph = -1;
  }
  if (instance->texturesOwned) TrackedFree(instance->textures);
  UnlinkInstance(instance);
  DeleteModelBase(instance->baseHandle);
  model.instances[instance->slot] = nullptr;
  TrackedFree(instance);
  --model.instanceLiveCount;
  return 0;
}

int ClearModelInstanceEntry(int handle, int entry) {
  ModelInstance* instance = FindInstance(handle);
  if (instance == nullptr || entry < 0 || entry >= instance->entryCapacity ||
      instance->entries[entry] == nullptr)
    return -1;
  TrackedFree(instance->entries[entry]);
  instance->entries[entry] = nullptr;
  --instance->entryCount;
  return 0;
}

int FreeModelFrameList(int handle, int frame) {
  ModelInstance* instance = FindInstance(handle);
  ModelFrameData* data = instance != nullptr ? InstanceFrame(instance, frame) : nullptr;
  if (data == nullptr) return -1;
  TrackedFree(data->list);
  data->list = nullptr;
  return 0;
}

int FreeModelFrameBlock(int handle, int frame, int which) {
  ModelInstance* instance = FindInstance(handle);
  ModelFrameData* data = instance != nullptr ? InstanceFrame(instance, frame) : nullptr;
  if (data == nullptr || which < 0 || which > 1) return -1;
  TrackedFree(data->blocks[which]);
  data->blocks[which] = nullptr;
  return 0;
}

int GetModelBaseCount() { return model.baseLiveCount; }
int GetModelInstanceCount() { return model.instanceLiveCount; }

const ModelBufferBlock* GetModelBaseBlock(int handle, int list, int index) {
  ModelBase* base = FindBase(handle);
  if (base == nullptr || list < 0 || list >= kModelBufferListCount) return nullptr;
  const ModelBufferBlock* block = base->listFirst[list];
  for (int i = 0; i < index && block != nullptr; ++i) block = block->next;
  return block;
}

int GetModelBaseBlockTotal(int handle) {
  ModelBase* base = FindBase(handle);
  return base != nullptr ? base->blockTotal : -1;
}

int GetModelBaseTextureGraph(int handle, int entry) {
  ModelBase* base = FindBase(handle);
  if (base == nullptr || entry < 0 || entry >= base->textureCount) return -1;
  return base->textures[entry].graph;
}

IDirect3DVertexBuffer9* GetModelInstanceDynamicBuffer(int handle, int mesh) {
  ModelInstance* instance = FindInstance(handle);
  if (instance == nullptr || mesh < 0 || mesh >= instance->dynamicBufferCount) return nullptr;
  return instance->dynamicBuffers[mesh];
}

int AddModelBaseRecord(ModelBase* base) {
  if (!model.started || !GrowTable(model.bases, model.baseSlotCount, model.baseCapacity)) return -1;
  const int slot = model.baseSlotCount++;
  model.bases[slot] = base;
  ++model.baseLiveCount;
  base->referenceCount = 1;
  return slot | kBaseHandleBits;
}

int CreateModelInstanceForTest(int baseHandle) {
  ModelBase* base = FindBase(baseHandle);
  if (base == nullptr ||
      !GrowTable(model.instances, model.instanceSlotCount, model.instanceCapacity) ||
      model.instanceSlotCount >= 65536)
    return -1;
  auto* instance = static_cast<ModelInstance*>(TrackedAllocZeroed(sizeof(ModelInstance)));
  if (instance == nullptr) return -1;
  instance->dynamicBufferCount = base->meshCount;
  instance->dynamicBuffers = static_cast<IDirect3DVertexBuffer9**>(
      TrackedAllocZeroed(int64_t{base->meshCount > 0 ? base->meshCount : 1} * sizeof(void*)));
  instance->frameCount = 1;
  instance->frames = static_cast<ModelFrameData*>(TrackedAllocZeroed(sizeof(ModelFrameData)));
  instance->entryCapacity = 4;
  instance->entries = static_cast<void**>(TrackedAllocZeroed(4 * sizeof(void*)));
  if (instance->dynamicBuffers == nullptr || instance->frames == nullptr ||
      instance->entries == nullptr) {
    TrackedFree(instance->dynamicBuffers);
    TrackedFree(instance->frames);
    TrackedFree(instance->entries);
    TrackedFree(instance);
    return -1;
  }
  instance->slot = model.instanceSlotCount++;
  instance->check = model.nextInstanceCheck;
  model.nextInstanceCheck = (model.nextInstanceCheck + 1) & 0x7FF;
  instance->baseHandle = baseHandle;
  instance->base = base;
  instance->previous = base->lastInstance;
  if (base->lastInstance != nullptr) base->lastInstance->next = instance;
  if (base->firstInstance == nullptr) base->firstInstance = instance;
  base->lastInstance = instance;
  ++base->instanceCount;
  ++base->referenceCount;
  model.instances[instance->slot] = instance;
  ++model.instanceLiveCount;
  const int handle = MakeEngineHandle(kModelInstanceHandle, instance->check, instance->slot);
  if (base->buffersBuilt) SetUpModelInstanceBuffers(handle);
  return handle;
}
