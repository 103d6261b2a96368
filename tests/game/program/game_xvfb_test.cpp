// The game in a real X window (Xvfb, started by the test) playing stage 1-1's stage-clear replay
// on the generated data in real time. Each present is checked as it happens: exactly one per
// game frame (the stage frame counter moves by one between presents), never an all-black frame,
// and never faster than 45 frames per second by the engine's own millisecond clock. How close
// to 45 it stays depends on the machine's load, so the rate is printed, not asserted: the
// benchmark measures the cost per frame. No software OpenGL thread may run.
// Then, in a process of its own on a second server, the program's window carries the icon drawn
// in content/, and with the configuration's window mode at full screen the 640 x 480 picture
// fills the 1024 x 768 screen, and is a 640 x 480 window again once back in window mode.
// And taps of a real key, down and up again between two frames, that the game sees for one
// frame each.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
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
#include "game/keys.h"
#include "game/menu_scenes.h"
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

// A new data folder, stage replays and all.
bool WriteGameData(const std::string& folder) {
  std::string message;
  std::vector<std::string> warnings;
  return mubgen::GenerateContent(MUB_CONTENT_DIR, folder, message, warnings) == 0;
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

// The game's side of the tap test, started by the test below in the data folder on an X server
// of its own: the configuration screen, focused by xdotool, then five taps of Down, each pressed
// and released by xdotool between two frames. Exits 0 when each was down in exactly one frame
// and moved the cursor once, else the number of the first tap that was not.
TEST(GameXvfbTest, TapEngineSide) {
  if (!std::getenv("MUB_TAP_SIDE")) GTEST_SKIP() << "runs only as the game's side of the tap test";
  ASSERT_EQ(StartGame(), 0);
  game.sceneNumber = SceneConfig;
  game.configCursor = ConfigArcadeMode;
  // Focus comes with a re-acquired keyboard: a few frames let it settle before the taps.
  xvfb::RunCommand("xdotool search --sync --name '^mub ver1.02$' windowfocus --sync 2>&1");
  for (int frame = 0; frame < 10; ++frame) RunGameFrame();
  int failed = 0;
  for (int tap = 1; tap <= 5 && !failed; ++tap) {
    xvfb::RunCommand("xdotool keydown --delay 0 Down keyup --delay 0 Down 2>&1");
    usleep(50000);  // the X server's events reach the game's connection before its next look
    RunGameFrame();
    const int down = KeyHoldCounters[KeyDown];
    const int cursor = game.configCursor;
    RunGameFrame();
    if (down != 1 || cursor != tap || KeyHoldCounters[KeyDown] != 0) {
      std::fprintf(stderr, "tap %d: Down counted %d, then %d; cursor %d\n", tap, down,
                   KeyHoldCounters[KeyDown], cursor);
      failed = tap;
    }
  }
  ShutdownEngine();
  std::_Exit(failed);
}

// Real key events from xdotool (XTEST), each press and release between two frames of the game.
TEST(GameXvfbTest, AKeyTappedBetweenTwoFramesIsSeenForExactlyOneFrame) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool"))
      << "xdotool is needed beside Xvfb (scripts/setup installs both)";
  const TempFolder folder("mub_taps");
  ASSERT_TRUE(WriteGameData(folder.string()));
  pid_t server = 0;
  const std::string display = xvfb::StartServer(&server);
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  const std::string where = folder.string();
  const pid_t side = fork();
  if (side == 0) {
    if (chdir(where.c_str()) != 0) _exit(126);
    setenv("DISPLAY", display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("MUB_TAP_SIDE", "1", 1);
    execl("/proc/self/exe", "tap_side", "--gtest_filter=GameXvfbTest.TapEngineSide", nullptr);
    _exit(127);
  }
  // A minute for the game to start, take the focus and see five taps, however loaded the machine.
  int status = -1;
  bool ended = false;
  for (int wait = 0; wait < 600 && !ended; ++wait) {
    usleep(100000);
    ended = waitpid(side, &status, WNOHANG) == side;
  }
  if (!ended) {
    kill(side, SIGKILL);
    waitpid(side, nullptr, 0);
  }
  xvfb::StopServer(server);
  ASSERT_TRUE(ended) << "the game's side did not end within a minute";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the first tap not seen for exactly one frame";
}

}  // namespace
