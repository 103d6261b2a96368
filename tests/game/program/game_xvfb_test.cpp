// The game in a real X window (Xvfb, started by the test) playing stage 1-1's stage-clear replay
// on the generated data in real time. Each present is checked as it happens: exactly one per
// game frame (the stage frame counter moves by one between presents), never an all-black frame,
// and never faster than 45 frames per second by the engine's own millisecond clock. How close
// to 45 it stays depends on the machine's load, so the rate is printed, not asserted: the
// benchmark measures the cost per frame. No software OpenGL thread may run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine.h"
#include "game/game_entry.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "generator.h"
#include "platform/d3d9/d3d9_controls.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "tests/temp_folder.h"
#include "tests/xvfb_support.h"
#include "type_tables.h"

namespace {

constexpr int kFrames = 270;  // six seconds of play

struct Seen {
  int stageFrame;
  int milliseconds;
  bool black;
};
std::vector<Seen> presents;

void RecordPresent() {
  if (game.sceneNumber != SceneReplay) return;
  D3D9Image image;
  bool black = D3D9GetLastPresentedImage(&image);
  for (std::uint32_t pixel : image.pixels) {
    if ((pixel & 0xFFFFFF) != 0) {
      black = false;
      break;
    }
  }
  presents.push_back({game.stageFrame, GetMillisecondCount(), black});
}

std::vector<std::string> ThreadNames() {
  std::vector<std::string> names;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
      std::string name;
      std::getline(comm, name);
      names.push_back(name);
    }
    closedir(tasks);
  }
  return names;
}

bool WriteGameData(const std::string& folder) {
  std::string message;
  std::vector<std::string> warnings;
  if (mubgen::GenerateContent(MUB_CONTENT_DIR, folder, message, warnings) != 0) return false;
  const std::string source = std::string(MUB_CONTENT_DIR) + "/replays/stage00.rpt";
  auto bytes = mubgen::CompileReplay(mubgen::ReadSourceFile(source, source),
                                     mubgen::ReadTypeTables(MUB_CONTENT_DIR, MUB_CONTENT_DIR));
  std::ofstream(folder + "/replay/00.rp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return true;
}

TEST(GameXvfbTest, AStoredReplayIsPresentedOncePerFrameAtMostFortyFivePerSecondNeverBlack) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  pid_t server = 0;
  const std::string display = xvfb::StartServer(&server);
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  setenv("DISPLAY", display.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  const TempFolder folder("mub_xvfb", TempFolder::kEnter);
  ASSERT_TRUE(WriteGameData(folder.string()));

  ASSERT_EQ(StartGame(), 0);
  ASSERT_TRUE(StartReplayPlayback("replay/00.rp"));
  presents.clear();
  D3D9SetPresentObserver(RecordPresent);
  for (int i = 0; i < kFrames && game.sceneNumber == SceneReplay; ++i) RunGameFrame();
  D3D9SetPresentObserver(nullptr);
  const std::vector<std::string> threads = ThreadNames();
  ShutdownEngine();
  xvfb::StopServer(server);

  ASSERT_EQ(presents.size(), static_cast<std::size_t>(kFrames));
  for (std::size_t i = 0; i < presents.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(presents[i].black);
    if (i > 0) {
      EXPECT_EQ(presents[i].stageFrame, presents[i - 1].stageFrame + 1);
    }
  }
  // The pacing waits out each second's 45 frames: however slow the machine, never more than
  // 45 frames a second plus the window the run began in.
  const int elapsed = presents.back().milliseconds - presents.front().milliseconds;
  EXPECT_LE(static_cast<int>(presents.size()) - 1, elapsed * 45 / 1000 + 45);
  std::printf("game_xvfb: %zu frames in %d ms of the engine's clock: %.2f frames per second\n",
              presents.size() - 1, elapsed, (presents.size() - 1) * 1000.0 / elapsed);
  for (const std::string& name : threads)
    EXPECT_EQ(name.find("llvmpipe"), std::string::npos) << "a software OpenGL thread: " << name;
}

}  // namespace
