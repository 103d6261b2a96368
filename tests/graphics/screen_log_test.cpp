// The on-screen log drawn: text written to it shows in the presented frame, white with a black
// edge, on the Direct3D path and the software path, and in a real window under Xvfb; its font
// survives a device loss without a second font being made.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/font.h"
#include "graphics/screen_log.h"
#include "platform/win32/kernel.h"
#include "system/log.h"
#include "system/system.h"
#include "tests/graphics/graph_test_support.h"
#include "tests/xvfb_support.h"

namespace {

constexpr uint32_t kBackground = 0x2050A0;

// Pixels of the colour within the rectangle of a 640-wide frame.
int CountIn(const std::vector<uint32_t>& frame, int left, int top, int right, int bottom,
            uint32_t rgb, int width = 640) {
  int n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) n += (frame[y * width + x] & 0xFFFFFF) == rgb;
  return n;
}

using ScreenLogTest = GraphTest;

TEST_F(ScreenLogTest, WrittenTextShowsInThePresentedFrame) {
  for (bool software : {false, true}) {
    SCOPED_TRACE(software ? "software" : "Direct3D");
    Start(32, kBackground, software);
    ClearDrawTarget();
    std::vector<uint32_t> frame = PresentAndRead(software);
    ASSERT_EQ(frame.size(), 640u * 480u);
    EXPECT_EQ(CountIn(frame, 0, 0, 640, 480, 0xFFFFFF), 0);
    ASSERT_EQ(WriteScreenLogText("Log line one\n\x83\x8D\x83\x4F two"), 0);  // ログ
    EXPECT_EQ(GetScreenLogDrawState(), 1);
    frame = PresentAndRead(software);
    // The first line at the top, the second 16 pixels down, nothing below them.
    EXPECT_GT(CountIn(frame, 0, 0, 200, 16, 0xFFFFFF), 40);
    EXPECT_GT(CountIn(frame, 0, 0, 200, 16, 0x000000), 40);
    EXPECT_GT(CountIn(frame, 0, 16, 200, 34, 0xFFFFFF), 20);
    EXPECT_EQ(CountIn(frame, 0, 40, 640, 480, 0xFFFFFF), 0);
    // The log's font is its own, made with an edge.
    const FontRecord* record = nullptr;
    for (int slot = 0; slot < kFontHandleSlotCount && !record; ++slot)
      for (int check = 0; check < 2048 && !record; ++check)
        if (FontRecord* r = GetFontRecord((4 << 27) | (check << 16) | slot); r && r->type == 1)
          record = r;
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->size, 16);
    EXPECT_EQ(record->thickness, 4);
    ShutdownEngine();
  }
}

// The frame of a software screen of the size whose log holds the text, and nothing else.
std::vector<uint32_t> DrawnLog(int width, int height, const std::string& text) {
  EXPECT_EQ(ChangeScreenMode(width, height, 32, 0, -1), 0);
  EXPECT_EQ(SetUseHardwareGraphics(0), 0);
  EngineSettings().backgroundSet = 1;
  EXPECT_EQ(InitializeEngine(), 0);
  WriteScreenLogText(text.c_str());
  EXPECT_EQ(PresentFrame(), 0);
  int shownWidth = 0;
  int shownHeight = 0;
  std::vector<uint32_t> frame;
  EXPECT_TRUE(GetWindowPresentedImage(GetEngineWindowHandle(), &shownWidth, &shownHeight, &frame));
  for (uint32_t& pixel : frame) pixel &= 0xFFFFFF;
  ShutdownEngine();
  return frame;
}

std::string Repeated(const char* line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line;
  return text;
}

// The log keeps its last 80 lines: after 100, it shows what a log of the last 80 alone shows.
TEST_F(ScreenLogTest, LinesScrollAwayOldestFirst) {
  const std::vector<uint32_t> expected = DrawnLog(640, 480, Repeated("-\n", 79));
  ASSERT_GT(CountIn(expected, 0, 464, 16, 480, 0xFFFFFF), 0);
  EXPECT_TRUE(DrawnLog(640, 480, Repeated("#\n", 21) + Repeated("-\n", 79)) == expected);
}

// A line holds 254 bytes: a double-byte character that does not fit whole is dropped with the
// rest of its line, never cut in two or followed by what came after it. A screen wide enough to
// show the whole line compares it with one written to end exactly there.
TEST_F(ScreenLogTest, AFullLineDropsTheCharacterThatDoesNotFitAndTheRest) {
  constexpr int kWidth = 2560;
  const std::string full(253, 'a');
  const std::vector<uint32_t> expected = DrawnLog(kWidth, 32, full);
  ASSERT_EQ(expected.size(), size_t(kWidth) * 32);
  // The line's end shows on this screen.
  ASSERT_GT(CountIn(expected, kWidth / 2, 0, kWidth, 16, 0xFFFFFF, kWidth), 0);
  for (const char* rest : {"\x82\xA0tail", "\x82\xA0", "\x82\xA0\x82\xA0\nnext"}) {
    SCOPED_TRACE(std::strlen(rest));
    std::vector<uint32_t> frame = DrawnLog(kWidth, 32, full + rest);
    // Only the next line may differ, and it does when there is one.
    const bool next = std::strchr(rest, '\n') != nullptr;
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + kWidth * 16, frame.begin()));
    EXPECT_EQ(CountIn(frame, 0, 16, kWidth, 32, 0xFFFFFF, kWidth) > 0, next);
  }
}

// The engine's side of the real window test: writes the log and presents until it is ended.
TEST(ScreenLogXvfbTest, EngineSide) {
  const char* title = std::getenv("ENGINE_SCREEN_LOG_TITLE");
  if (!title) GTEST_SKIP() << "runs only as the engine side of the real window test";
  SetWindowTitle(title);
  SetLogOutput(0);
  SetRunWhileInactive(1);
  ChangeWindowMode(1);
  SetEngineSubsystemSwitches(0, 0, 1, 0);
  PreInitSettings& settings = EngineSettings();
  settings.backgroundSet = 1;
  settings.backgroundRed = 0x20;
  settings.backgroundGreen = 0x50;
  settings.backgroundBlue = 0xA0;
  ASSERT_EQ(InitializeEngine(), 0);
  WriteScreenLogText("Screen log under X");
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (clock_gettime(CLOCK_MONOTONIC, &now), now.tv_sec - start.tv_sec < 30) {
    if (ProcessWindowMessages() != 0) break;
    ClearDrawTarget();
    PresentFrame();
    Sleep(20);
  }
  ShutdownEngine();
  ExitProcess(0);
}

TEST(ScreenLogXvfbTest, TheLogShowsInARealWindow) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("import")) << "ImageMagick's import is needed (scripts/setup)";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool")) << "xdotool is needed (scripts/setup)";
  pid_t server = 0;
  const std::string display = xvfb::StartServer(&server);
  ASSERT_FALSE(display.empty());
  const std::string title = "mub screen log " + std::to_string(getpid());
  const pid_t engine = fork();
  ASSERT_GE(engine, 0);
  if (engine == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ENGINE_SCREEN_LOG_TITLE", title.c_str(), 1);
    execl("/proc/self/exe", "graphics_tests", "--gtest_filter=ScreenLogXvfbTest.EngineSide",
          nullptr);
    _exit(127);
  }
  const std::string id = xvfb::FindWindow(display, title);
  // The screenshot as plain PPM text: the window's pixels, retried until the log shows (at most
  // 40 tries a quarter of a second apart).
  int white = 0, black = 0;
  for (int attempt = 0; attempt < 40 && !id.empty() && (white < 40 || black < 40); ++attempt) {
    usleep(250000);
    const std::string ppm = xvfb::RunCommand("DISPLAY=" + display + " import -window " + id +
                                             " -crop 200x16+0+0 -depth 8 -compress none ppm:- "
                                             "2>/dev/null");
    int width = 0, height = 0, maximum = 0, consumed = 0;
    if (std::sscanf(ppm.c_str(), "P3 %d %d %d%n", &width, &height, &maximum, &consumed) != 3)
      continue;
    const char* p = ppm.c_str() + consumed;
    white = black = 0;
    for (int i = 0; i < width * height; ++i) {
      int r = 0, g = 0, b = 0, n = 0;
      if (std::sscanf(p, "%d %d %d%n", &r, &g, &b, &n) != 3) break;
      p += n;
      white += r == 255 && g == 255 && b == 255;
      black += r == 0 && g == 0 && b == 0;
    }
  }
  kill(engine, SIGTERM);
  int status = 0;
  waitpid(engine, &status, 0);
  xvfb::StopServer(server);
  ASSERT_FALSE(id.empty()) << "the window never appeared";
  EXPECT_GE(white, 40);
  EXPECT_GE(black, 40);
}

}  // namespace
