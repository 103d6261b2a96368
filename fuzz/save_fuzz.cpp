// The save file: any file loads, a final score enters the table, and what is written loads back.
#include <cstddef>
#include <cstdint>

#include "game/scoring.h"
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const gamefuzz::FixtureFolder folder;
  gamefuzz::ResetFixtureGame();
  gamefuzz::WriteBytes("data/save.sdt", data, size);
  LoadSaveData();
  const auto image = SaveDataBytes(game.save);
  for (std::size_t i = 0; i < image.size(); ++i)
    if (image[i] != (i < size ? data[i] : 0)) __builtin_trap();
  game.score = size >= 48 ? static_cast<std::int32_t>(data[44] | data[45] << 8 | data[46] << 16 |
                                                      static_cast<std::uint32_t>(data[47]) << 24)
                          : 0;
  game.stage = size > 48 ? data[48] % 16 : 0;
  RecordFinalScore();
  // A ranked score is written with the whole record; otherwise the file stays as it was.
  const auto expected = game.finalRank < 10 ? SaveDataBytes(game.save) : image;
  LoadSaveData();
  if (SaveDataBytes(game.save) != expected) __builtin_trap();
  std::remove("data/save.sdt");
  return 0;
}
