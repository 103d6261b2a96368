// mubbot: searches a replay that clears a stage, on the game's own simulation, and writes it
// as a text replay; then plays it back through the game's replay path to confirm it.
//   mubbot [--trace] GAME-DATA-DIR STAGE OUT.rpt [BEAM-WIDTH]
// GAME-DATA-DIR is a folder written by mubgen. Prints "STAGE goal|fail FRAMES SCORE" (frames of the
// playback).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "replay_compiler.h"
#include "stage_search.h"

int main(int argc, char** argv) {
  bool trace = argc > 1 && std::string(argv[1]) == "--trace";
  if (trace) {
    --argc;
    ++argv;
  }
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: mubbot [--trace] GAME-DATA-DIR STAGE OUT.rpt [BEAM-WIDTH]\n");
    return 2;
  }
  std::string out = argv[3];
  if (!out.empty() && out[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) out = std::string(cwd) + "/" + out;
  }
  int stage = std::atoi(argv[2]);
  int beam = argc == 5 ? std::atoi(argv[4]) : 12;
  if (chdir(argv[1]) != 0 || stage < 0 || stage > 15 || beam < 1) {
    std::fprintf(stderr, "mubbot: bad folder, stage or beam width\n");
    return 2;
  }
  StageResult found;
  std::vector<std::uint8_t> controls;
  try {
    controls = SearchStageClear(stage, beam, trace, found);
  } catch (...) {
    std::fprintf(stderr, "mubbot: the game data could not be read\n");
    return 1;
  }
  if (!found.goal) {
    std::printf("%02d fail: no way on past column %d\n", stage, found.frames + 20);
    return 1;
  }
  std::vector<std::uint8_t> bytes = StageReplayBytes(stage, controls);
  const char* check = "replay/mubbot.rp";
  if (FILE* f = std::fopen(check, "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  StageResult played = PlayReplayFile(check);
  std::remove(check);
  // Stored with the stage score it makes, as the game stores a player's clear, so that only a
  // better run replaces it.
  for (int i = 0; i < 4; ++i) bytes[size_t(24 + i)] = std::uint8_t(played.stageScore >> (8 * i));
  const std::uint32_t word = mubgen::ReplayCheckWord(bytes);
  for (int i = 0; i < 4; ++i) bytes[size_t(28 + i)] = std::uint8_t(word >> (8 * i));
  std::ofstream(out, std::ios::binary | std::ios::trunc) << mubgen::DumpReplay(bytes);
  std::printf(
      "%02d %s %d %d%s\n", stage, played.goal ? "goal" : "fail", played.frames, played.score,
      played.goal == found.goal && played.score == found.score ? "" : " (differs from the search)");
  return played.goal ? 0 : 1;
}
