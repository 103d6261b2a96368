// The game's records and its two global blocks: `tables` (type tables and the handles of loaded
// graphs and sounds, filled once at start) and `game` (everything that changes while it runs:
// scene, keys, configuration, save data, the stage's pools, the player and the scores).
#pragma once

#include <array>
#include <cstdint>

#include "engine.h"

enum SceneNumberValue : int {
  SceneQuit = -1,
  SceneTitle = 0,
  ScenePlay = 1,
  SceneReplay = 2,
  SceneFinalResults = 3,
  SceneConfig = 4,
};

// Thrown when one of the game's files cannot be read; every throw throws 0.
enum error_ : int { LoadFailed = 0 };

// Throws LoadFailed after keeping the path that could not be read, so the report can name it.
[[noreturn]] void ThrowLoadFailed(const char* path);
// The path of the last load that failed, "" before any.
const char* FailedLoadPath();

// `ControlByte` bits: one frame of player input, what a replay stores.
enum ControlBit : std::uint8_t {
  ControlLeft = 1,
  ControlRight = 2,
  ControlDrop = 4,
  ControlJump = 8,
  ControlFire = 16,
};

enum PlayStateValue : int { PlayRunning = 0, PlayPaused = 1, PlayMissed = 2, PlayStageEnd = 3 };

enum StreakIndex : int {
  StreakEnemyComp = 0,
  StreakItemComp = 1,
  StreakNoDamage = 2,
  StreakNoItem = 3,
  StreakNoFly = 4,
  StreakNonStop = 5,
  StreakNoShot = 6,
  StreakNoMiss = 7,
};

constexpr std::uint8_t kFreeKind = 255;
constexpr std::uint8_t kNoItem = 255;
constexpr std::uint8_t kGameOverLives = 255;
constexpr std::uint8_t kNoMusic = 255;
constexpr int kStageCount = 16;
constexpr int kBossTypeFirst = 23;
constexpr int kEnemyTypeCount = 27;

// Enemy type flag bits.
enum EnemyFlag : std::uint8_t {
  EnemyDriftMask = 3,
  EnemyGravity = 4,
  EnemyShotProof = 8,
  EnemyStaysDestroyed = 16,
  EnemyCompExempt = 32,
  EnemyLeavesStep = 64,
};

// Shot type flag bits.
enum ShotFlag : std::uint8_t {
  ShotPassesBlocks = 1,
  ShotBounces = 2,
  ShotGravity = 4,
  ShotBouncesOffEdges = 8,
};

// Everything that moves in a stage. Positions in 1/16 pixel, screen coordinates; the box in
// whole pixels relative to the centre.
struct GameBody {
  std::int16_t x = 0;
  std::int16_t y = 0;
  std::int16_t vx = 0;
  std::int16_t vy = 0;
  std::int16_t left = 0;
  std::int16_t right = 0;
  std::int16_t top = 0;
  std::int16_t bottom = 0;
  std::uint16_t extra = 0;  // damage (shots), contact damage (enemies), cell size (items)
  std::uint8_t kind = kFreeKind;
  std::uint8_t last = 0;  // animation counter (items, shots) or pose (enemies)
};

struct HitBox {
  std::int16_t left = 0;
  std::int16_t right = 0;
  std::int16_t top = 0;
  std::int16_t bottom = 0;
};

struct EnemyRecord {
  GameBody body;
  std::uint8_t carriedItem = kNoItem;
  std::uint8_t hits = 0;
  std::uint8_t phase = 255;
  std::int16_t hp = 0;
  std::int16_t timer = 0;
  std::uint8_t animation = 0;
  double angle = 0.0;
  std::uint8_t flash = 0;
};

struct StageBlock {
  std::int16_t column = 0;
  std::int16_t topRow = 0;
  std::int16_t width = 0;
  std::int16_t height = 0;
  std::uint8_t type = kFreeKind;
};

struct ScorePopup {
  std::int16_t x = 0;
  std::int16_t y = 0;
  std::int32_t timer = -1;
  std::int32_t value = 0;
};

struct PlayerRecord {
  GameBody body;
  std::int32_t jumpState = 0;  // 0 on the ground, 1 hovering, 2 in the air
  std::int16_t hp = 0;
  std::int16_t hover = 0;
  std::int16_t power = 0;
  std::int16_t barrier = 0;
  std::uint8_t blink = 0;
  std::uint8_t animation = 0;
  std::uint8_t control = 0;
};

// The image of "data/config.dat".
struct GameConfig {
  std::uint8_t arcadeMode = 0;  // 0 on, 1 off
  std::uint8_t windowMode = 1;
  std::uint8_t effectVolume = 255;
  std::uint8_t musicVolume = 255;
  std::uint8_t saveReplays = 1;
  std::uint8_t playReplays = 1;
};

// The image of "data/save.sdt".
struct SaveData {
  std::array<std::int32_t, 10> highScores{};
  std::uint8_t stagesReached = 0;
  std::array<std::uint8_t, 3> padding{};
};

struct PlayerType {
  HitBox box;
  std::uint8_t maxHp = 0;
  std::uint8_t walkSpeed = 0;
  std::uint8_t jumpImpulse = 0;
  std::uint8_t hoverLift = 0;
  std::uint8_t hoverRiseLimit = 0;
  std::uint8_t hoverMax = 0;
  std::uint8_t hoverCost = 0;
  std::uint8_t hoverRegeneration = 0;
  int cellWidth = 32;
  int cellHeight = 32;
  std::uint8_t animationFrames = 0;
  std::uint8_t framesPerStep = 0;
  int graph = -1;
};

struct BlockType {
  std::uint8_t flags = 0;  // bit 0: solid, the player cannot drop through it
  std::array<int, 9> tiles{-1, -1, -1, -1, -1, -1, -1, -1, -1};
};

struct ShotType {
  HitBox box;
  std::uint8_t damage = 0;
  std::uint8_t flags = 0;
  std::uint8_t speed = 0;
  int cellWidth = 32;
  int cellHeight = 32;
  std::uint8_t animationFrames = 0;
  std::uint8_t framesPerStep = 0;
  int graph = -1;
};

struct EnemyType {
  HitBox box;
  std::uint8_t contactDamage = 0;
  std::uint8_t flags = 0;
  std::uint8_t hp = 0;
  std::uint8_t speed = 0;
  std::uint8_t paramA = 0;
  std::uint8_t paramB = 0;
  std::uint8_t bulletType = 0;
  std::uint32_t score = 0;
  int cellWidth = 32;
  int cellHeight = 32;
  std::uint8_t animationFrames = 0;
  std::uint8_t framesPerStep = 0;
  int graph = -1;
};

struct ItemType {
  HitBox box{-16, 16, -16, 16};
  int cellWidth = 32;
  int cellHeight = 32;
  std::uint8_t animationFrames = 0;
  std::uint8_t framesPerStep = 0;
  int graph = -1;
};

constexpr int kBlockTypeCount = 4;
constexpr int kShotTypeCount = 7;
constexpr int kItemKindCount = 6;

struct GameTables {
  PlayerType player;
  std::array<BlockType, kBlockTypeCount> blocks{};
  std::array<ShotType, kShotTypeCount> shots{};
  std::array<EnemyType, kEnemyTypeCount> enemies{};
  std::array<ItemType, kItemKindCount> items{};
  std::array<int, kStageCount> stepGraphs{};
  std::array<int, 10> digitGraphs{};
  std::array<int, 2> hpGaugeGraphs{};
  std::array<int, 3> hoverGaugeGraphs{};
  int goalGraph = -1;
  int titleGraph = -1;
  std::array<int, 60> glyphGraphs{};
  int musicSound = -1;
  std::array<int, 7> effectSounds{-1, -1, -1, -1, -1, -1, -1};
};

constexpr int kBlockSlots = 32;
constexpr int kEnemySlots = 64;
constexpr int kBulletSlots = 128;
constexpr int kShotSlots = 64;
constexpr int kItemSlots = 16;
constexpr int kStepSlots = 32;
constexpr int kPopupSlots = 32;

struct GameState {
  int sceneNumber = SceneTitle;

  GameConfig config;
  SaveData save;

  // Stage map and scroll.
  std::int32_t mapLength = 0;
  std::int32_t goalColumn = 0;
  std::uint8_t scrollSpeed = 0;
  std::int32_t scrollPosition = 0;   // world x of the screen's left edge, whole pixels
  std::uint8_t scrollRemainder = 0;  // 1/16 pixel, 0-15

  std::array<StageBlock, kBlockSlots> blocks{};
  PlayerRecord player;
  std::array<EnemyRecord, kEnemySlots> enemies{};
  std::array<GameBody, kBulletSlots> bullets{};
  std::array<GameBody, kShotSlots> shots{};
  std::array<GameBody, kItemSlots> items{};
  std::array<GameBody, kStepSlots> steps{};
  std::array<ScorePopup, kPopupSlots> popups{};

  // Play scene.
  std::int32_t playState = PlayRunning;
  std::int32_t stateTimer = 0;
  std::uint8_t stage = 0;
  std::uint8_t lives = 0;
  std::int16_t restartColumn = 0;
  std::uint8_t restartRow = 0;
  std::uint8_t musicIndex = kNoMusic;
  std::int32_t stageFrame = 0;
  std::int32_t bossCounter = -1;

  // Scores.
  std::int32_t score = 0;
  std::int32_t stageScore = 0;
  std::array<std::uint8_t, 8> streaks{};
  std::array<std::uint8_t, 8> streakCopy{};
  std::int32_t finalRank = 10;

  // Menus.
  std::uint8_t titleCursor = 255;
  std::uint8_t configCursor = 0;

  // The replay file in use: "replay/tm.rp" while recording, the played file during playback.
  std::array<char, 64> replayPath{};
};

extern GameTables tables;
extern GameState game;

// Puts `game` back to its state at program start (tests use it between runs).
void ResetGameState();
