// The graph handle table: allocation and checking of graph handles, the file name a graph reloads
// from, deletion (with the shared image record released by its last user), the questions the
// device layer asks about a graph, and the release and re-creation of every graph's textures
// around a device rebuild.
#include <array>
#include <cstring>

#include "files/win32_file.h"
#include "graphics/buffer_handles.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "media/movie.h"
#include "system/engine_handle.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

struct GraphHandleTable {
  EngineHandleKind kind = MakeEngineHandleKind(kGraphHandle);
  std::array<GraphRecord*, kGraphHandleSlotCount> slots{};
};

GraphHandleTable table;

int CheckOf(const GraphRecord& record) { return record.check; }

void DropFileName(GraphRecord* record) {
  GraphFileNameRecord* name = record->fileName;
  record->fileName = nullptr;
  if (name != nullptr && --name->referenceCount <= 0) TrackedFree(name);
}

// Releases the image record's pixels when its last graph lets go of it.
void ReleaseImageReference(GraphRecord* record) {
  GraphImageRecord* image = record->image;
  record->image = nullptr;
  if (image == nullptr || --image->referenceCount > 0) return;
  ReleaseGraphImageExtras(image);
  if (image->textureBacked) {
    ReleaseGraphImageTextures(image);
  } else if (IsMEMIMGValid(&image->image)) {
    ReleaseMEMIMG(&image->image);
  }
  TrackedFree(image);
}

}  // namespace

int ResetGraphHandleCounters() {
  table.kind.liveCount = 0;
  table.kind.highWater = 0;
  return 0;
}

int AllocateGraphHandle() {
  if (table.kind.liveCount >= kGraphHandleSlotCount)
    FatalErrorExit("グラフィックの数が許容量を越えました終了します");
  const int slot = FindFreeEngineHandleSlot(table.kind, table.slots.data(), true);
  if (slot < 0) FatalErrorExit("グラフィックの数が許容量を越えました終了します");
  auto* record =
      static_cast<GraphRecord*>(TrackedAllocZeroed(sizeof(GraphRecord), __FILE__, __LINE__));
  if (record == nullptr) FatalErrorExit("メモリの確保に失敗しました");
  int check = 0;
  record->handle = IssueEngineHandle(table.kind, slot, &check);
  record->check = check;
  record->movie = -1;
  table.slots[static_cast<size_t>(slot)] = record;
  return record->handle;
}

GraphRecord* GetGraphRecord(int graph) {
  return FindEngineHandleRecord(graph, table.kind, table.slots.data(), CheckOf);
}

int IsGraphHandleValid(int graph) { return GetGraphRecord(graph) != nullptr ? 1 : 0; }

int IsGraphHandleLive(int graph) { return IsGraphHandleValid(graph); }

int GetGraphHandleCount() { return table.kind.liveCount; }

int GetGraphHandleHighMark() { return table.kind.highWater; }

GraphRecord* GetGraphRecordAtSlot(int slot) {
  if (slot < 0 || slot >= kGraphHandleSlotCount) return nullptr;
  return table.slots[static_cast<size_t>(slot)];
}

int GetGraphOrScreenSize(int graph, int* width, int* height) {
  if (graph <= -2 && graph >= -5) {
    int screenWidth = 0;
    int screenHeight = 0;
    GetScreenModeSize(&screenWidth, &screenHeight);
    if (width != nullptr) *width = screenWidth;
    if (height != nullptr) *height = screenHeight;
    return 0;
  }
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  if (width != nullptr) *width = record->width;
  if (height != nullptr) *height = record->height;
  return 0;
}

int SetGraphHandleDeletedFlag(int graph, int* flag) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  record->deletedFlag = flag;
  if (flag != nullptr) *flag = 0;
  return 0;
}

int SetGraphFileNameRecord(int graph, const char* path, int sourceGraph) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  DropFileName(record);
  if (path == nullptr) {
    if (sourceGraph == -1) return 0;
    GraphRecord* source = GetGraphRecord(sourceGraph);
    if (source == nullptr) return -1;
    record->fileName = source->fileName;
    if (record->fileName != nullptr) ++record->fileName->referenceCount;
    return 0;
  }
  char absolute[kFilePathBufferSize];
  if (BuildFullPath(path, absolute, nullptr, static_cast<int>(sizeof absolute)) != 0) {
    std::strncpy(absolute, path, sizeof absolute - 1);
    absolute[sizeof absolute - 1] = '\0';
  }
  const size_t length = std::strlen(absolute);
  auto* name = static_cast<GraphFileNameRecord*>(TrackedAlloc(
      static_cast<int64_t>(sizeof(GraphFileNameRecord) + length + 1), __FILE__, __LINE__));
  if (name == nullptr) {
    LogWriteText("転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました\n");
    return -1;
  }
  name->referenceCount = 1;
  name->path = reinterpret_cast<char*>(name + 1);
  std::memcpy(name->path, absolute, length + 1);
  record->fileName = name;
  return 0;
}

int DeleteGraphHandle(int graph) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  // Queued vertices may still name this graph's textures.
  if (record->image != nullptr && record->image->textureBacked &&
      record->image->referenceCount == 1)
    FlushVertexBatch();
  if (record->movie != -1) DeleteMovieHandle(record->movie);
  record->movie = -1;
  if (IsMEMIMGValid(&record->memimg)) ReleaseMEMIMG(&record->memimg);
  ReleaseImageReference(record);
  TrackedFree(record->ownedBlock1);
  TrackedFree(record->ownedBlock2);
  record->ownedBlock1 = nullptr;
  record->ownedBlock2 = nullptr;
  DropFileName(record);
  TrackedFree(record->tiles);
  record->tiles = nullptr;

  const int slot = GetEngineHandleSlot(graph);
  RetireEngineHandle(table.kind);
  table.slots[static_cast<size_t>(slot)] = nullptr;
  if (slot == table.kind.highWater - 1) {
    int mark = slot;
    if (table.kind.liveCount == 0) {
      mark = 0;
    } else {
      while (mark > 0 && table.slots[static_cast<size_t>(mark - 1)] == nullptr) --mark;
    }
    table.kind.highWater = mark;
  }
  if (record->deletedFlag != nullptr) *record->deletedFlag = 1;
  TrackedFree(record);
  return 0;
}

int DeleteAllGraphHandles() {
  if (!GraphicsCore().initialised) return 0;
  for (int slot = 0; slot < table.kind.highWater; ++slot) {
    const GraphRecord* record = table.slots[static_cast<size_t>(slot)];
    if (record != nullptr) DeleteGraphHandle(record->handle);
  }
  return 0;
}

int IsGraphDrawValid(int graph) {
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  return record->image != nullptr && record->image->drawValid ? 1 : 0;
}

IDirect3DSurface9* GetGraphRenderTargetSurface(int graph) {
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr || !record->image->textureBacked ||
      !record->image->drawValid || record->image->tileCount < 1)
    return nullptr;
  return record->image->tiles[0].surface;
}

IDirect3DTexture9* GetGraphFirstTexture(int graph, int* textureWidth, int* textureHeight) {
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr || !record->image->textureBacked ||
      record->image->tileCount < 1)
    return nullptr;
  const GraphImageTile& tile = record->image->tiles[0];
  if (textureWidth != nullptr) *textureWidth = tile.textureWidth;
  if (textureHeight != nullptr) *textureHeight = tile.textureHeight;
  return tile.texture;
}

MEMIMG* GetGraphMEMIMG(int graph) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr || record->image->textureBacked) return nullptr;
  return IsMEMIMGValid(&record->memimg) ? &record->memimg : nullptr;
}

// A shared record is visited once per graph: released pointers are cleared, so later visits do
// nothing, and re-creation skips tiles whose texture exists.
int ReleaseAllDeviceResources() {
  for (int slot = 0; slot < table.kind.highWater; ++slot) {
    GraphRecord* record = table.slots[static_cast<size_t>(slot)];
    if (record == nullptr || record->image == nullptr || !record->image->textureBacked) continue;
    ReleaseGraphImageExtras(record->image);
    ReleaseGraphImageTextures(record->image);
  }
  return ReleaseAllBufferHandleObjects();
}

int RecreateAllDeviceResources() {
  for (int slot = 0; slot < table.kind.highWater; ++slot) {
    GraphRecord* record = table.slots[static_cast<size_t>(slot)];
    if (record == nullptr || record->image == nullptr || !record->image->textureBacked) continue;
    CreateGraphImageTextures(record->image);
  }
  return RecreateAllBufferHandleObjects();
}
