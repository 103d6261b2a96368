// Finding a replay that clears a stage: a beam search over short input patterns, run on the
// game's own simulation, with look-ahead runs that keep the player out of hopeless spots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StageResult {
  bool goal = false;
  std::int32_t score = 0;   // the banked score at the end
  std::int32_t frames = 0;  // search: control bytes; playback: frames until the title returns
  std::int32_t misses = 0;
  std::int32_t stageScore = 0;  // playback: the stage score a replay of this run is stored with
};

// The working folder must hold the generated game data (data/, replay/). Returns the control
// bytes of the best attempt found; `result` tells what it reached in the search.
// With `trace`, progress and the causes of the last failures go to stderr.
std::vector<std::uint8_t> SearchStageClear(int stage, int beamWidth, bool trace,
                                           StageResult& result);

// Plays a replay file through the game's playback path, as the title's R key would.
StageResult PlayReplayFile(const char* path);

// The 32-byte header of a stage start (3 lives, streaks 1, full gauges) with the check word,
// followed by the control bytes.
std::vector<std::uint8_t> StageReplayBytes(int stage, const std::vector<std::uint8_t>& controls);
