// The whole generation: reads the content sources, checks them, and writes the folders the game
// reads (data/, image/, sound/, replay/). Nothing is written when any source is refused. The
// stage-clear replays become the stored best replays of a folder that has none yet: a replay
// already there (the player's own) is never replaced.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mubgen {

struct GeneratedContent {
  std::map<std::string, std::vector<uint8_t>> files;  // relative path ("data/map/00.mdt") -> bytes
  std::map<std::string, std::vector<uint8_t>> replays;  // "replay/00.rp" -> bytes, where none is
  std::vector<std::string> warnings;
};

// Builds every output in memory; throws ContentError for a refused source.
GeneratedContent BuildContent(const std::string& sourceDir);

// Builds and writes; returns 0, or -1 with the message (file:line: reason) in `message`.
int GenerateContent(const std::string& sourceDir, const std::string& outputDir,
                    std::string& message, std::vector<std::string>& warnings);

}  // namespace mubgen
