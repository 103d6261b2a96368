// Type tables: any six tables load, and a stage with every enemy type and boss runs on them.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "game/keys.h"
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const gamefuzz::FixtureFolder folder;
  // The input is cut into the six files in their order; a short input leaves later files short.
  static const struct {
    const char* path;
    std::size_t size;
  } files[] = {{"data/player.dat", 16}, {"data/block.dat", 64}, {"data/shot.dat", 112},
               {"data/enemy.dat", 368}, {"data/boss.dat", 64},  {"data/item.dat", 96}};
  std::size_t at = 0;
  for (const auto& file : files) {
    const std::size_t take = at < size ? std::min(file.size, size - at) : 0;
    gamefuzz::WriteBytes(file.path, data + (take ? at : 0), take);
    at += take;
  }
  gamefuzz::ResetFixtureGame();
  try {
    StartStage(3);
    for (int frame = 0; frame < 400 && game.sceneNumber == ScenePlay; ++frame) {
      char keys[256] = {};
      keys[KeyRight] = frame % 100 < 70;
      keys[KeyX] = 1;
      keys[KeyZ] = frame % 40 < 20;
      keys[KeyDown] = frame % 50 == 0;
      keys[KeySpace] = frame % 200 == 199;
      ApplyKeyStates(keys);
      RunPlaySceneFrame();
    }
  } catch (error_) {
  }
  return 0;
}
