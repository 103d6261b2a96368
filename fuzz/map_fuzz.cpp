// Stage maps: any map file starts a stage that then runs, scrolls and streams its columns.
#include <cstddef>
#include <cstdint>

#include "game/keys.h"
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const gamefuzz::FixtureFolder folder;
  gamefuzz::ResetFixtureGame();
  gamefuzz::WriteBytes("data/map/07.mdt", data, size);
  try {
    StartStage(7);
    for (int frame = 0; frame < 300 && game.sceneNumber == ScenePlay; ++frame) {
      char keys[256] = {};
      keys[KeyRight] = frame % 90 < 60;
      keys[KeyX] = 1;
      keys[KeyZ] = frame % 30 < 12;
      ApplyKeyStates(keys);
      RunPlaySceneFrame();
    }
  } catch (error_) {
  }
  return 0;
}
