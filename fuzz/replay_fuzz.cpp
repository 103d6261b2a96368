// Replays: any stored replay file is refused or played back to its end.
#include <cstddef>
#include <cstdint>

#include "game/replay.h"
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const gamefuzz::FixtureFolder folder;
  gamefuzz::ResetFixtureGame();
  gamefuzz::WriteBytes("replay/05.rp", data, size);
  const bool started = StartReplayPlayback("replay/05.rp");
  if (started != (game.sceneNumber == SceneReplay)) __builtin_trap();
  if (started && game.stage > 15) __builtin_trap();
  for (int frame = 0; frame < 3000 && game.sceneNumber == SceneReplay; ++frame) RunPlaySceneFrame();
  return 0;
}
