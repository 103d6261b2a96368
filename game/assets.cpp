// Type tables and bitmaps, the font and the sounds, loaded through the engine.
#include "game/assets.h"

#include <cstdio>

#include "engine.h"
#include "game/data_files.h"
#include "game/game_state.h"
#include "game/host_calls.h"
#include "game/play_scene.h"

namespace {

// The game plays on without a sound that does not load (missing, damaged, or sound that could not
// start at all), and says which one is silent; the engine's log, when on, holds the reason.
int LoadSoundOrReport(const char* path) {
  const int sound = LoadSoundDataFile(path, 3, -1);
  if (sound == -1) {
    std::fprintf(
        stderr,
        reinterpret_cast<const char*>(u8"mub: %s を読み込めませんでした（この音なしで続けます）\n"),
        path);
    LogPrintf("%s を読み込めませんでした", path);
  }
  return sound;
}

int LoadWhole(const char* path) {
  const int graph = LoadGraphFile(path);
  if (graph == -1) ThrowLoadFailed(path);
  return graph;
}

void LoadPieces(const char* path, int count, int across, int down, int width, int height,
                int* handles) {
  if (LoadDividedGraphFile(path, count, across, down, width, height, handles) == -1)
    ThrowLoadFailed(path);
}

// Tile h x 3 + v of block type t is the 32 x 32 cell at ((t x 3 + h) x 32, v x 32).
void LoadBlockTiles() {
  const int sheet = LoadWhole("image/block.bmp");
  for (int t = 0; t < kBlockTypeCount; ++t)
    for (int h = 0; h < 3; ++h)
      for (int v = 0; v < 3; ++v)
        tables.blocks[t].tiles[h * 3 + v] = DeriveGraph((t * 3 + h) * 32, v * 32, 32, 32, sheet);
  DeleteGraphHandle(sheet);
}

template <typename Type, std::size_t N>
void LoadSheets(const char* path, std::array<Type, N>& types, std::size_t first, std::size_t count,
                int width, int height) {
  std::array<int, 32> handles{};
  LoadPieces(path, static_cast<int>(count), 1, static_cast<int>(count), width, height,
             handles.data());
  for (std::size_t i = 0; i < count; ++i) types[first + i].graph = handles[i];
}

void OutputToDebugger(const char* text) { WriteDebuggerText(text); }

}  // namespace

void LoadGameAssets() {
  ReturnToTitle();
  LoadPlayerTable();
  tables.player.graph = LoadWhole("image/player.bmp");
  LoadBlockTable();
  LoadBlockTiles();
  LoadShotTable();
  LoadSheets("image/shot.bmp", tables.shots, 0, kShotTypeCount, 128, 32);
  LoadEnemyTable();
  LoadSheets("image/enemy.bmp", tables.enemies, 0, kBossTypeFirst, 512, 32);
  LoadBossTable();
  LoadSheets("image/boss.bmp", tables.enemies, kBossTypeFirst, kEnemyTypeCount - kBossTypeFirst,
             1024, 64);
  LoadPieces("image/step.bmp", kStageCount, kStageCount, 1, 32, 32, tables.stepGraphs.data());
  LoadItemTable();
  LoadSheets("image/item.bmp", tables.items, 0, kItemKindCount, 128, 32);
  LoadSaveData();
  LoadPieces("image/nmb.bmp", 10, 10, 1, 8, 12, tables.digitGraphs.data());
  LoadPieces("image/hgauge.bmp", 2, 1, 2, 320, 32, tables.hpGaugeGraphs.data());
  LoadPieces("image/jgauge.bmp", 3, 1, 3, 240, 24, tables.hoverGaugeGraphs.data());
  tables.goalGraph = LoadWhole("image/goal.bmp");
  tables.titleGraph = LoadWhole("image/title.bmp");
}

void LoadBitmapFont() {
  LoadPieces("image/txt.bmp", 60, 10, 10, 12, 16, tables.glyphGraphs.data());
}

void LoadGameSounds() {
  char path[32];
  std::snprintf(path, sizeof path, "sound/b%01x.ogg", 0);
  tables.musicSound = LoadSoundOrReport(path);
  for (int i = 0; i < 7; ++i) {
    std::snprintf(path, sizeof path, "sound/e%01x.ogg", i);
    tables.effectSounds[i] = LoadSoundOrReport(path);
  }
  game.musicIndex = kNoMusic;
}

void InstallEngineHostCalls() {
  hostCalls.playSound = PlaySoundData;
  hostCalls.stopSound = StopSoundData;
  hostCalls.setSoundVolume = SetSoundDataVolume;
  hostCalls.debugOutput = OutputToDebugger;
}
