// The search runs frames exactly as the replay scene does, except that the control byte comes
// from the candidate instead of the file. Inputs are kept to what a person can press: jump, drop
// and fire need the key released on the frame before (a held jump key only keeps a hover going).
#include "stage_search.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "game/collisions.h"
#include "game/data_files.h"
#include "game/enemies.h"
#include "game/game_state.h"
#include "game/play_scene.h"
#include "game/player.h"
#include "game/replay.h"
#include "game/scoring.h"
#include "game/stage_map.h"
#include "game/stage_objects.h"

namespace {

constexpr int kMacroFrames = 8;
constexpr int kLookAheadFrames = 72;
constexpr const char* kStartPath = "replay/search.rp";

void WriteBytes(const char* path, const std::vector<std::uint8_t>& bytes) {
  if (FILE* f = std::fopen(path, "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// One frame of the replay scene with the control byte `wanted`; returns the byte a replay
// stores for it, or -1 when the frame was not a running frame (nothing is stored then).
int StepFrame(std::uint8_t wanted, std::uint8_t& previous) {
  int stored = -1;
  std::uint8_t control = 0;
  if (game.playState == PlayRunning) {
    control = wanted;
    bool hovering = game.player.jumpState == 1;
    if ((control & ControlJump) && !hovering && (previous & ControlJump)) control &= ~ControlJump;
    if ((control & ControlDrop) && (previous & ControlDrop)) control &= ~ControlDrop;
    if ((control & ControlFire) && (previous & ControlFire)) control &= ~ControlFire;
    previous = control;
    stored = control;
  }
  game.player.control = control;
  UpdatePlayWorld();
  PlaySceneStates();
  return stored;
}

// Input patterns of one step: direction, and the jump key per frame (1 pressed, 0 released).
struct Pattern {
  std::uint8_t direction;
  std::array<std::uint8_t, kMacroFrames> jump;
  bool drop;
};

const Pattern kPatterns[] = {
    {0, {0, 0, 0, 0, 0, 0, 0, 0}, false},
    {ControlRight, {0, 0, 0, 0, 0, 0, 0, 0}, false},
    {ControlLeft, {0, 0, 0, 0, 0, 0, 0, 0}, false},
    {ControlRight, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    {0, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    {ControlLeft, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    {ControlRight, {1, 0, 1, 1, 1, 1, 1, 1}, false},
    {0, {1, 0, 1, 1, 1, 1, 1, 1}, false},
    {ControlLeft, {1, 0, 1, 1, 1, 1, 1, 1}, false},
    {ControlRight, {1, 1, 1, 1, 1, 1, 1, 1}, false},
    {0, {1, 1, 1, 1, 1, 1, 1, 1}, false},
    {0, {0, 0, 0, 0, 0, 0, 0, 0}, true},
    {ControlRight, {0, 0, 0, 0, 0, 0, 0, 0}, true},
};

// Look-ahead policies, by frame: what the player could still do after a step. A hover is
// started at the jump's apex, where it lifts the player highest.
struct LookAhead {
  std::uint8_t direction;
  int jumpAt;   // frame of the jump press, -1 none
  int hoverAt;  // first frame of the held hover key, -1 none
};

const LookAhead kLookAhead[] = {
    {0, -1, -1}, {ControlRight, -1, -1}, {ControlRight, 0, 13},
    {0, 0, 13},  {ControlLeft, 0, 13},   {ControlRight, -1, 0},
    {0, -1, 0},
};

std::uint8_t LookAheadByte(const LookAhead& p, int frame, int runningFrame) {
  std::uint8_t c = p.direction;
  if (frame == p.jumpAt || (p.hoverAt >= 0 && frame >= p.hoverAt)) c |= ControlJump;
  if (runningFrame % 4 == 0) c |= ControlFire;
  return c;
}

bool Missed() {
  return game.playState == PlayMissed ||
         (game.playState == PlayStageEnd && game.lives == kGameOverLives);
}
bool Cleared() { return game.playState == PlayStageEnd && game.lives != kGameOverLives; }

std::uint8_t PatternByte(const Pattern& p, int frame, int runningFrame) {
  std::uint8_t c = p.direction;
  if (p.jump[size_t(frame % kMacroFrames)]) c |= ControlJump;
  if (p.drop && frame == 0) c |= ControlDrop;
  if (runningFrame % 4 == 0) c |= ControlFire;
  return c;
}

struct Record {
  int parent;
  std::array<std::uint8_t, kMacroFrames> bytes;
  int count;
};

struct Node {
  std::shared_ptr<GameState> state;
  int record = -1;
  std::uint8_t previous = 0;
  double value = 0;
  int running = 0;  // stored bytes so far
};

// How good a state is to continue from: alive with HP, near the screen's left third, with a
// way out for the next second.
double Evaluate(const Node& n) {
  if (Missed()) return -1e15;
  if (Cleared()) return 1e15 + game.score;
  double value = game.player.hp * 1e6 + game.stageScore * 0.01;
  double x = game.player.body.x / 16.0;
  value -= std::abs(x - 200.0) * 20.0;
  value += game.player.hover * 50.0;
  // No ground in any stage lies below row 12: a player lower than its standing height is in a
  // gap, where a hover climbs too slowly to be a plan.
  double y = game.player.body.y / 16.0;
  if (y > 376.0) value -= (y - 376.0) * 1e5;
  // Look ahead: does any simple continuation survive?
  GameState saved = game;
  double best = -1e12;
  for (const LookAhead& p : kLookAhead) {
    game = saved;
    std::uint8_t previous = n.previous;
    int running = n.running;
    bool dead = false;
    for (int f = 0; f < kLookAheadFrames; ++f) {
      if (StepFrame(LookAheadByte(p, f, running), previous) >= 0) ++running;
      if (Missed()) {
        dead = true;
        break;
      }
      if (Cleared()) break;
    }
    if (!dead) best = std::max(best, double(game.player.hp) * 1e6);
  }
  game = saved;
  return value + (best < -1e11 ? -1e12 : best * 0.5);
}

}  // namespace

std::vector<std::uint8_t> StageReplayBytes(int stage, const std::vector<std::uint8_t>& controls) {
  std::vector<std::uint8_t> b(32, 0);
  b[0] = std::uint8_t(stage);
  b[1] = 3;
  for (int i = 8; i < 16; ++i) b[size_t(i)] = 1;
  b[16] = tables.player.maxHp;
  b[18] = tables.player.hoverMax;
  std::uint32_t check = std::uint32_t(b[16]) | std::uint32_t(b[18]) << 16;
  for (int i = 0; i < 4; ++i) b[size_t(28 + i)] = std::uint8_t(check >> (8 * i));
  b.resize(32 + controls.size());
  std::copy(controls.begin(), controls.end(), b.begin() + 32);
  return b;
}

StageResult PlayReplayFile(const char* path) {
  ResetGameState();
  tables = GameTables{};
  LoadTypeTables();
  game.musicIndex = kNoMusic;
  ReturnToTitle();
  StageResult r;
  if (!StartReplayPlayback(path)) return r;
  std::uint8_t lives = game.lives;
  while (game.sceneNumber == SceneReplay && r.frames < 200000) {
    RunPlaySceneFrame();
    ++r.frames;
    if (game.lives < lives) ++r.misses;
    lives = game.lives;
  }
  r.goal = game.playState == PlayStageEnd && game.lives != kGameOverLives;
  r.score = game.score;
  r.stageScore = game.stageScore;
  return r;
}

std::vector<std::uint8_t> SearchStageClear(int stage, int beamWidth, bool trace,
                                           StageResult& result) {
  ResetGameState();
  tables = GameTables{};
  LoadTypeTables();
  game.musicIndex = kNoMusic;
  game.config.saveReplays = 0;
  ReturnToTitle();
  WriteBytes(kStartPath, StageReplayBytes(stage, {}));
  StartReplayPlayback(kStartPath);
  std::remove(kStartPath);

  std::vector<Record> records;
  std::vector<Node> beam(1);
  beam[0].state = std::make_shared<GameState>(game);
  Node best;
  bool found = false;
  int furthest = 0;
  for (int step = 0; step < 100000 && !beam.empty() && !found; ++step) {
    std::vector<Node> next;
    std::vector<std::string> misses;
    for (const Node& n : beam) furthest = std::max(furthest, n.state->scrollPosition / 32);
    if (trace && step % 25 == 0) {
      const GameState& g = *beam[0].state;
      std::fprintf(
          stderr, "step %d: scroll column %d, player x %d y %d, hp %d, hover %d, %zu in the beam\n",
          step, g.scrollPosition / 32, g.player.body.x / 16, g.player.body.y / 16, g.player.hp,
          g.player.hover, beam.size());
    }
    for (const Node& n : beam) {
      for (const Pattern& p : kPatterns) {
        game = *n.state;
        Node child;
        child.previous = n.previous;
        child.running = n.running;
        Record rec{n.record, {}, 0};
        for (int f = 0; f < kMacroFrames; ++f) {
          int stored = StepFrame(PatternByte(p, f, child.running), child.previous);
          if (stored >= 0) {
            rec.bytes[size_t(rec.count++)] = std::uint8_t(stored);
            ++child.running;
          }
          if (Missed() || Cleared()) break;
        }
        if (Missed()) {
          if (trace && misses.size() < 6) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "  missed at scroll column %d: player x %d y %d, hp %d\n",
                          game.scrollPosition / 32, game.player.body.x / 16,
                          game.player.body.y / 16, game.player.hp);
            misses.push_back(line);
          }
          continue;
        }
        records.push_back(rec);
        child.record = int(records.size()) - 1;
        child.value = Evaluate(child);
        child.state = std::make_shared<GameState>(game);
        if (Cleared()) {
          if (!found || child.value > best.value) best = child;
          found = true;
        }
        next.push_back(std::move(child));
      }
    }
    if (next.empty())
      for (const std::string& m : misses) std::fputs(m.c_str(), stderr);
    // Keep the best, but only one per rough position so the beam stays varied.
    std::sort(next.begin(), next.end(),
              [](const Node& a, const Node& b) { return a.value > b.value; });
    std::map<std::array<int, 4>, int> seen;
    beam.clear();
    for (Node& n : next) {
      const PlayerRecord& p = n.state->player;
      std::array<int, 4> key{p.body.x >> 7, p.body.y >> 7, p.jumpState, p.hp};
      if (seen[key]++ > 0) continue;
      beam.push_back(std::move(n));
      if (int(beam.size()) == beamWidth) break;
    }
  }
  if (!found) {
    result = StageResult{};
    result.frames = furthest;
    return {};
  }
  std::vector<std::uint8_t> controls;
  for (int r = best.record; r >= 0; r = records[size_t(r)].parent) {
    const Record& rec = records[size_t(r)];
    for (int i = rec.count - 1; i >= 0; --i) controls.push_back(rec.bytes[size_t(i)]);
  }
  std::reverse(controls.begin(), controls.end());
  game = *best.state;
  result.goal = true;
  result.score = game.score;
  result.frames = int(controls.size());
  return controls;
}
