// The game in a real X window (Xvfb, started by the test) playing stage 1-1's stage-clear replay
// on the generated data in real time. Each present is checked as it happens: exactly one per
// game frame (the stage frame counter moves by one between presents), never an all-black frame,
// and never faster than 45 frames per second by the engine's own millisecond clock. How close
// to 45 it stays depends on the machine's load, so the rate is printed, not asserted: the
// benchmark measures the cost per frame. No software OpenGL thread may run.
// Then, in a process of its own on a second server, the program's window carries the icon drawn
// in content/, and with the configuration's window mode at full screen the 640 x 480 picture
// fills the 1024 x 768 screen, and is a 640 x 480 window again once back in window mode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine.h"
#include "game/data_files.h"
#include "game/game_entry.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "generator.h"
#include "host/window_system.h"
#include "platform/d3d9/d3d9_controls.h"
#include "platform/win32/user.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "sprite_sheets.h"
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

// The screenshot at (x, y) is the frame's pixel under it, scaled by `scale` from `origin`
// (give or take one source pixel at the edges the scaler rounds differently).
bool ShowsFrameAt(const std::vector<std::uint8_t>& shot, const D3D9Image& frame, int x, int y,
                  int originX, int originY, double scale) {
  const std::uint8_t* p = &shot[(static_cast<std::size_t>(y) * 1024 + x) * 3];
  const std::uint32_t seen = p[0] << 16 | p[1] << 8 | p[2];
  const int sx = static_cast<int>((x - originX) / scale);
  const int sy = static_cast<int>((y - originY) / scale);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int fx = std::clamp(sx + dx, 0, frame.width - 1);
      const int fy = std::clamp(sy + dy, 0, frame.height - 1);
      if ((frame.pixels[fy * frame.width + fx] & 0xFFFFFF) == seen) return true;
    }
  return false;
}

// Runs frames until a screenshot shows the last presented frame over the area (bounded wait);
// the number of sample points that did not match the last time.
int WaitForFrameOnScreen(const std::string& display, int left, int top, int width, int height,
                         double scale) {
  int misses = -1;
  for (int attempt = 0; attempt < 40 && misses != 0; ++attempt) {
    RunGameFrame();
    usleep(100000);
    D3D9Image frame;
    const std::vector<std::uint8_t> shot = xvfb::ScreenshotRoot(display);
    if (!D3D9GetLastPresentedImage(&frame) || shot.size() != 1024u * 768u * 3u) continue;
    misses = 0;
    for (int y = top; y < top + height; y += 7)
      for (int x = left; x < left + width; x += 7)
        if (!ShowsFrameAt(shot, frame, x, y, left, top, scale)) ++misses;
  }
  return misses;
}

TEST(GameXvfbWindowTest, CarriesTheContentIconAndFillsTheScreenInFullScreenMode) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xprop") && xvfb::IsOnPath("import"))
      << "xprop (x11-utils) and import (imagemagick) are needed beside Xvfb";
  pid_t server = 0;
  const std::string display = xvfb::StartServer(&server);
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  std::string output;
  const bool passed = xvfb::RunChildOnDisplay(display, "GameXvfbWindowSide.*", &output);
  xvfb::StopServer(server);
  EXPECT_TRUE(passed) << output;
}

TEST(GameXvfbWindowSide, IconAndFullScreen) {
  if (!std::getenv("XVFB_CHILD")) GTEST_SKIP() << "run on Xvfb by GameXvfbWindowTest";
  const std::string display = std::getenv("DISPLAY");
  const TempFolder folder("mub_xvfb_window", TempFolder::kEnter);
  ASSERT_TRUE(WriteGameData(folder.string()));
  game.config = GameConfig{};
  game.config.windowMode = 0;
  SaveConfig();

  ASSERT_EQ(StartGame(), 0);
  const std::string id = xvfb::FindWindow(display, "mub ver1.02");
  ASSERT_FALSE(id.empty()) << "the window never appeared";

  // The icon: the content's 32 x 32 picture, its colour key transparent.
  const mubgen::Image icon =
      mubgen::ReadSpriteSheets(MUB_CONTENT_DIR, MUB_CONTENT_DIR,
                               mubgen::ReadTypeTables(MUB_CONTENT_DIR, MUB_CONTENT_DIR))
          .images.at("icon");
  std::vector<std::uint32_t> expected{32, 32};
  for (const mubgen::Rgb& c : icon.pixels)
    expected.push_back(c == mubgen::Rgb{} ? 0u : 0xFF000000u | c.r << 16 | c.g << 8 | c.b);
  std::vector<std::uint32_t> property;
  for (int attempt = 0; attempt < 40 && property != expected; ++attempt) {
    RunGameFrame();
    property = xvfb::WindowIconProperty(display, std::stoul(id));
    usleep(50000);
  }
  EXPECT_EQ(property, expected);

  // Full screen: the whole 1024 x 768 screen is the frame scaled by 1.6.
  EXPECT_EQ(IsWindowedMode(), 0);
  EXPECT_EQ(WaitForFrameOnScreen(display, 0, 0, 1024, 768, 1.6), 0);

  // Back in window mode: a 640 x 480 window centred on the screen shows the frame 1:1.
  ASSERT_EQ(ChangeWindowMode(1), 0);
  EXPECT_EQ(WaitForFrameOnScreen(display, 192, 144, 640, 480, 1.0), 0);
  EXPECT_NE(xvfb::RunCommand("DISPLAY=" + display + " xdotool getwindowgeometry " + id)
                .find("Geometry: 640x480"),
            std::string::npos);

  ShutdownEngine();
}

}  // namespace
