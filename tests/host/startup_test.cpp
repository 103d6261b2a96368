// Start-up and shutdown of the engine, headless: the whole life cycle with its log, the
// idempotent calls, settings that survive the clearing, the second-copy test, the failures of the
// start-up and the fatal exit.
#include <SDL.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/winmm/winmm.h"
#include "system/call_lock.h"
#include "tests/host/engine_fixture.h"

namespace {

using StartupTest = EngineFixture;

// Each expected line must appear in this order; a line ending in '*' is a prefix. Lines of other
// subsystems may come between.
void ExpectLinesInOrder(const std::vector<std::string>& lines,
                        const std::vector<std::string>& expected) {
  std::size_t at = 0;
  for (const std::string& want : expected) {
    bool prefix = !want.empty() && want.back() == '*';
    std::string text = prefix ? want.substr(0, want.size() - 1) : want;
    auto matches = [&](const std::string& line) {
      return prefix ? line.rfind(text, 0) == 0 : line == text;
    };
    auto it = std::find_if(lines.begin() + static_cast<std::ptrdiff_t>(at), lines.end(), matches);
    ASSERT_NE(it, lines.end()) << "missing, or out of order: " << want;
    at = static_cast<std::size_t>(it - lines.begin()) + 1;
  }
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST_F(StartupTest, LifeCycleEndsOnACloseEventWithAnEmptyLeakReportAndThePartsLog) {
  SetPlatformVirtualTime(true);
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  ASSERT_NE(window, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
  POINT corner{0, 0};
  ClientToScreen(window, &corner);
  EXPECT_EQ(corner.x, (GetSystemMetrics(SM_CXSCREEN) - 640) / 2);
  EXPECT_EQ(corner.y, (GetSystemMetrics(SM_CYSCREEN) - 480) / 2);
  EXPECT_EQ(FindWindowA(title_.c_str(), nullptr), window);  // the class is the title
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ProcessWindowMessages(), 0);
  ASSERT_EQ(InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_CLOSE, 0, 0), 0);
  int result = 0;
  for (int i = 0; i < 10 && result == 0; ++i) result = ProcessWindowMessages();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_EQ(ShutdownEngine(), 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(FindWindowA(title_.c_str(), nullptr), nullptr);
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  EXPECT_EQ(GetTimerPeriodBalance(), 0);
  ExpectLinesInOrder(LogLines(),
                     {
                         "システムの情報を出力します",
                         "\tＫＶライブラリ Ver3.05",
                         "\t論理プロセッサの数 : *",
                         "\tＯＳ  Windows ( Build 9200  )",
                         "ＣＯＭの初期化... 成功しました",
                         "メモリ総量:*",
                         "タイマーの精度を検査します",
                         "精度結果 更新回数 マルチメディアタイマー：*",
                         " パフォーマンスカウンターを使用します タイマー精度 : 10000.000000 KHz ",
                         " ソフトの二重起動検査... 二重起動はされていませんでした",
                         "ウインドウクラスを登録します... 登録に成功しました",
                         "ウインドウモード起動用のウインドウを作成します",
                         "ウインドウの作成に成功しました",
                         "ＩＭＥを無効にしました",
                         "ウインドウスタイルをウインドウモード用に変更します... 完了",
                         "ウインドウを閉じようとしています",
                         "ウインドウが破棄されようとしています",
                         "ソフトを終了する準備が整いました",
                         "ＣＯＭを終了... 完了",
                         "Alloc memory dump",
                         "\tTotal size:0(0.000kb)  Alloc num:0",
                     });
}

TEST_F(StartupTest, SecondStartReturnsZeroAndChangesNothing) {
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  PostMessageA(window, WM_USER, 0, 0);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(GetEngineWindowHandle(), window);
  MSG message;
  EXPECT_TRUE(
      PeekMessageA(&message, window, WM_USER, WM_USER, PM_NOREMOVE));  // nothing was cleared
  EXPECT_EQ(Count(LogLines(), "システムの情報を出力します"), 1);
}

TEST_F(StartupTest, ShutdownWithoutStartReturnsZeroAndLeavesTheLockAlone) {
  EXPECT_EQ(ShutdownEngine(), 0);
  EXPECT_EQ(IsEngineCallLockHeldByCaller(), 0);
  EXPECT_FALSE(std::filesystem::exists(directory_ + "/Log.txt"));
}

TEST_F(StartupTest, SettingsMadeBeforeTheStartSurviveTheClear) {
  SetWindowIconResource(101);
  ChangeWindowMode(1);
  SetRunWhileInactive(1);
  SetLogOutput(0);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_STREQ(SDL_GetWindowTitle(GetPlatformSDLWindow(GetEngineWindowHandle())), title_.c_str());
  EXPECT_EQ(IsWindowedMode(), 1);
  EXPECT_EQ(GetRunWhileInactive(), 1);
  EXPECT_FALSE(std::filesystem::exists(directory_ + "/Log.txt"));
  ShutdownEngine();
  SetLogOutput(1);
  ASSERT_EQ(InitializeEngine(), 0);  // a start after an end
  EXPECT_EQ(GetRunWhileInactive(), 1);
  EXPECT_TRUE(std::filesystem::exists(directory_ + "/Log.txt"));
}

TEST_F(StartupTest, WindowModeByteIsStoredAsZeroOrOne) {
  ChangeWindowMode(2);
  EXPECT_EQ(IsWindowedMode(), 1);
  ChangeWindowMode(0);
  EXPECT_EQ(IsWindowedMode(), 0);
  ChangeWindowMode(-7);
  EXPECT_EQ(IsWindowedMode(), 1);
}

// Holds a top-level window of the class named by the environment for a while: the other copy.
TEST_F(StartupTest, SecondCopyHelper) {
  const char* className = std::getenv("ENGINE_SECOND_COPY_CLASS");
  if (!className) GTEST_SKIP() << "runs only as the helper of the second-copy test";
  SetPlatformWindowsSeenAcrossProcesses(1);
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = DefWindowProcA;
  c.lpszClassName = className;
  ASSERT_NE(RegisterClassExA(&c), 0);
  HWND w = CreateWindowExA(0, className, className, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  // The window stays until the test closes its end of the pipe, however slow the machine.
  pollfd release{std::atoi(std::getenv("ENGINE_SECOND_COPY_RELEASE")), POLLIN, 0};
  EXPECT_EQ(poll(&release, 1, 120000), 1) << "the test did not release the window within 120 s";
  DestroyWindow(w);
}

TEST_F(StartupTest, SecondCopyWithTheSameTitleIsRefusedUnlessDoubleStartIsAllowed) {
  SetPlatformWindowsSeenAcrossProcesses(1);  // headless windows are not seen otherwise
  int release[2];
  ASSERT_EQ(pipe(release), 0);
  pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    close(release[1]);
    setenv("ENGINE_SECOND_COPY_CLASS", title_.c_str(), 1);
    setenv("ENGINE_SECOND_COPY_RELEASE", std::to_string(release[0]).c_str(), 1);
    execl("/proc/self/exe", "system_tests", "--gtest_filter=StartupTest.SecondCopyHelper", nullptr);
    _exit(127);
  }
  close(release[0]);
  // Closing the pipe lets the other copy end, also when an assertion below ends the test early.
  std::unique_ptr<int, void (*)(int*)> releaseOnReturn(&release[1], [](int* fd) { close(*fd); });
  bool seen = false;
  for (int i = 0; i < 6000 && !seen; ++i) {
    seen = FindWindowA(title_.c_str(), nullptr) != nullptr;
    if (!seen) usleep(10000);
  }
  ASSERT_TRUE(seen) << "the other copy's window did not appear within 60 s";
  EXPECT_EQ(InitializeEngine(), -1);
  EXPECT_EQ(IsQuitRequested(), 1);
  EXPECT_EQ(GetEngineWindowHandle(), nullptr);
  ExpectLinesInOrder(LogLines(),
                     {" ソフトの二重起動検査... 二重起動されています、ソフトを終了します"});
  SetDoubleStartAllowed(1);
  EXPECT_EQ(InitializeEngine(), 0);
  SetDoubleStartAllowed(0);
  releaseOnReturn.reset();
  int status = 0;
  waitpid(other, &status, 0);
  SetPlatformWindowsSeenAcrossProcesses(-1);
  ExpectLinesInOrder(LogLines(), {" ソフトの二重起動検査... 二重起動されていますが続行します"});
}

struct FailedStep {
  const char* step;
  void (*fail)(EngineSubsystemCalls&);
};
constexpr FailedStep kFailedSteps[] = {
    {"input", [](EngineSubsystemCalls& c) { c.initializeInputDevices = [] { return -1; }; }},
    {"graphics", [](EngineSubsystemCalls& c) { c.startGraphicsSystem = [] { return -1; }; }},
};

// A failed start ends what it started: the sound output (SDL's dummy audio driver runs here) and
// the window are gone when it returns.
TEST_F(StartupTest, AFailedStartReturnsMinusOneAndEndsWhatItStarted) {
  for (const FailedStep& c : kFailedSteps) {
    SCOPED_TRACE(c.step);
    c.fail(GetEngineSubsystemCalls());
    EXPECT_EQ(InitializeEngine(), -1);
    EXPECT_EQ(IsEngineRunning(), 0);
    EXPECT_EQ(FindWindowA(title_.c_str(), nullptr), nullptr);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    EXPECT_EQ(ShutdownEngine(), 0);
    ResetEngineSubsystemCalls();
  }
  SetEngineSubsystemSwitches(0, 0, 0, 0);
}

// The program's exit after a failed start: nothing the audio thread touches is destroyed under
// it (AddressSanitizer in the child would end it with a non-zero status).
TEST_F(StartupTest, TheProgramExitsCleanlyAfterAFailedStart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const FailedStep& c : kFailedSteps) {
    SCOPED_TRACE(c.step);
    EXPECT_EXIT(
        {
          c.fail(GetEngineSubsystemCalls());
          std::exit(InitializeEngine() == -1 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
  }
}

TEST_F(StartupTest, FatalErrorExitEndsWithStatus255AfterTheShutdownCoreRanOnce) {
  EXPECT_EXIT(
      {
        InitializeEngine();
        FatalErrorExit("fatal for the test");
      },
      ::testing::ExitedWithCode(255), "");
  auto lines = LogLines();
  ExpectLinesInOrder(lines, {"fatal for the test", "ＣＯＭを終了... 完了", "Alloc memory dump"});
  EXPECT_EQ(Count(lines, "ＣＯＭを終了... 完了"), 1);
  EXPECT_EQ(Count(lines, "Alloc memory dump"), 1);
}

TEST_F(StartupTest, FatalErrorExitDuringTheShutdownDoesNotRunTheCoreAgain) {
  EXPECT_EXIT(
      {
        InitializeEngine();
        GetEngineSubsystemCalls().endGraphicsSystem = [] {
          FatalErrorExit("fatal inside the end");
          return 0;
        };
        ShutdownEngine();
      },
      ::testing::ExitedWithCode(255), "");
  auto lines = LogLines();
  EXPECT_EQ(Count(lines, "fatal inside the end"), 1);
  EXPECT_EQ(Count(lines, "ＣＯＭを終了... 完了"), 0);
  EXPECT_EQ(Count(lines, "Alloc memory dump"), 0);
}

TEST_F(StartupTest, NoWindowSwitchStartsWithoutAWindowAndEndsWithoutPumping) {
  SetEngineSubsystemSwitches(1, 1, 0, 1);  // input devices and graphics need a window
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(GetEngineWindowHandle(), nullptr);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(ShutdownEngine(), 0);
  EXPECT_EQ(IsQuitRequested(), 1);
  SetEngineSubsystemSwitches(0, 0, 0, 0);
  EXPECT_EQ(Count(LogLines(), "ウインドウの作成に成功しました"), 0);
}

}  // namespace
