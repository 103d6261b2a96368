// The configuration file: any file loads, and what is saved loads back the same.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "game/keys.h"
#include "game/menu_scenes.h"
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const gamefuzz::FixtureFolder folder;
  gamefuzz::ResetFixtureGame();
  gamefuzz::WriteBytes("data/config.dat", data, size);
  LoadConfig();
  const auto loaded = ConfigBytes(game.config);
  for (std::size_t i = 0; i < loaded.size() && i < size; ++i)
    if (loaded[i] != data[i]) __builtin_trap();
  // The bytes after the sixth steer the configuration screen.
  game.sceneNumber = SceneConfig;
  static const int keys[] = {KeyLeft, KeyUp, KeyRight, KeyDown, KeySpace, KeyZ, KeyX, KeyEsc};
  for (std::size_t i = 6; i < size && game.sceneNumber == SceneConfig; ++i) {
    char states[256] = {};
    states[keys[data[i] % 8]] = 1;
    ApplyKeyStates(states);
    ConfigSceneInput();
  }
  const auto before = ConfigBytes(game.config);
  SaveConfig();
  LoadConfig();
  if (ConfigBytes(game.config) != before) __builtin_trap();
  return 0;
}
