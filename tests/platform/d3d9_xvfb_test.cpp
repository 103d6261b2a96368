// A presented frame in a real window: the test starts Xvfb on a free display and runs this
// program again on it; the child draws and presents through the CPU device and compares a
// screenshot of its window's client area with the frame the device presented.
#include <SDL.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/user.h"
#include "tests/platform/d3d9_test_support.h"

extern char** environ;

namespace {

constexpr int FrameWidth = 160;
constexpr int FrameHeight = 120;

std::string FindProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

int FreeDisplay() {
  for (int n = 90; n < 400; ++n) {
    if (!Exists("/tmp/.X" + std::to_string(n) + "-lock") &&
        !Exists("/tmp/.X11-unix/X" + std::to_string(n)))
      return n;
  }
  return -1;
}

pid_t Spawn(const std::vector<std::string>& arguments, char** environment, int outputFd) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(D3D9XvfbTest, ScreenshotOfTheWindowEqualsThePresentedFrame) {
  if (std::getenv("D3D9_XVFB_CHILD")) GTEST_SKIP() << "the child runs only its own part";
  std::string xvfb = FindProgram("Xvfb");
  if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_FALSE(FindProgram("import").empty())
      << "ImageMagick's import is needed for the screenshot";
  int display = FreeDisplay();
  ASSERT_GE(display, 0);
  std::string name = ":" + std::to_string(display);
  int quiet = open("/dev/null", O_WRONLY);
  pid_t server =
      Spawn({xvfb, name, "-screen", "0", "320x240x24", "-nolisten", "tcp"}, environ, quiet);
  close(quiet);
  ASSERT_GT(server, 0);
  std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
  for (int i = 0; i < 200 && !Exists(socket); ++i) usleep(25000);
  if (!Exists(socket)) {
    kill(server, SIGTERM);
    WaitFor(server);
    FAIL() << "Xvfb did not start on " << name;
  }

  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("SDL_VIDEODRIVER=", 0) == 0 ||
        entry.rfind("LSAN_OPTIONS=", 0) == 0) {
      continue;
    }
    environment.push_back(entry);
  }
  // The X11 video driver brings up D-Bus, which keeps a block for the life of the process.
  char suppressionsName[] = "/tmp/d3d9_xvfb_lsan_XXXXXX";
  int suppressions = mkstemp(suppressionsName);
  ASSERT_GE(suppressions, 0);
  const char rule[] = "leak:libdbus-1.so\n";
  ASSERT_EQ(write(suppressions, rule, sizeof rule - 1), static_cast<ssize_t>(sizeof rule - 1));
  close(suppressions);
  environment.push_back(std::string("LSAN_OPTIONS=suppressions=") + suppressionsName);
  environment.push_back("DISPLAY=" + name);
  environment.push_back("SDL_VIDEODRIVER=x11");
  environment.push_back("D3D9_XVFB_CHILD=1");
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  char outputName[] = "/tmp/d3d9_xvfb_XXXXXX";
  int output = mkstemp(outputName);
  ASSERT_GE(output, 0);
  pid_t child = Spawn({"/proc/self/exe", "--gtest_filter=D3D9XvfbChild.*"}, envp.data(), output);
  int result = child > 0 ? WaitFor(child) : -1;
  close(output);
  kill(server, SIGTERM);
  WaitFor(server);
  std::ifstream file(outputName);
  std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(outputName);
  std::remove(suppressionsName);
  EXPECT_EQ(result, 0) << log;
  EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
}

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

std::vector<std::uint8_t> Screenshot(int x, int y) {
  char name[] = "/tmp/d3d9_shot_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) return {};
  close(fd);
  std::string geometry = std::to_string(FrameWidth) + "x" + std::to_string(FrameHeight) + "+" +
                         std::to_string(x) + "+" + std::to_string(y);
  int quiet = open("/dev/null", O_WRONLY);
  pid_t pid = Spawn({FindProgram("import"), "-window", "root", "-crop", geometry, "-depth", "8",
                     std::string("rgb:") + name},
                    environ, quiet);
  close(quiet);
  std::vector<std::uint8_t> bytes;
  if (pid > 0 && WaitFor(pid) == 0) {
    std::ifstream file(name, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::remove(name);
  return bytes;
}

TEST(D3D9XvfbChild, PresentedFrameAppearsInTheWindow) {
  if (!std::getenv("D3D9_XVFB_CHILD")) GTEST_SKIP() << "run under Xvfb by D3D9XvfbTest";
  ASSERT_FALSE(IsPlatformHeadless());
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = PlainProc;
  c.lpszClassName = "D3D9XvfbClass";
  ASSERT_NE(RegisterClassExA(&c), 0);
  HWND window = CreateWindowExA(0, "D3D9XvfbClass", "xvfb", WS_POPUP | WS_VISIBLE, 0, 0, FrameWidth,
                                FrameHeight, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = FrameWidth;
  p.BackBufferHeight = FrameHeight;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.Windowed = TRUE;
  p.hDeviceWindow = window;
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                              &device),
            D3D_OK);
  // A frame with something in every part: a clear colour, a gradient strip, a solid quad.
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF203040, 1.0f, 0);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device->SetFVF(ColorFvf);
  ColorVertex strip[4] = {{0, 10, 0, 1, 0xFFFF0000},
                          {160, 10, 0, 1, 0xFF00FF00},
                          {0, 60, 0, 1, 0xFF0000FF},
                          {160, 60, 0, 1, 0xFFFFFFFF}};
  ColorVertex box[3] = {
      {40, 70, 0, 1, 0xFFFFC000}, {120, 70, 0, 1, 0xFFFFC000}, {40, 118, 0, 1, 0xFFFFC000}};
  device->BeginScene();
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(ColorVertex));
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, box, sizeof(ColorVertex));
  device->EndScene();

  D3D9Image frame;
  std::vector<std::uint8_t> shot;
  bool same = false;
  int x = 0, y = 0;
  for (int attempt = 0; attempt < 40 && !same; ++attempt) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_TRUE(D3D9GetLastPresentedImage(&frame));
    ASSERT_EQ(frame.width, FrameWidth);
    ASSERT_EQ(frame.height, FrameHeight);
    SDL_GetWindowPosition(GetPlatformSDLWindow(window), &x, &y);
    usleep(50000);
    shot = Screenshot(x, y);
    if (shot.size() != static_cast<std::size_t>(FrameWidth * FrameHeight * 3)) continue;
    same = true;
    for (int i = 0; i < FrameWidth * FrameHeight && same; ++i) {
      std::uint32_t p = frame.pixels[i];
      same = shot[3 * i] == ((p >> 16) & 0xFF) && shot[3 * i + 1] == ((p >> 8) & 0xFF) &&
             shot[3 * i + 2] == (p & 0xFF);
    }
  }
  EXPECT_TRUE(same) << "window at " << x << "," << y << ", screenshot of " << shot.size()
                    << " bytes";
  device->Release();
  d3d->Release();
  DestroyWindow(window);
  UnregisterClassA("D3D9XvfbClass", nullptr);
}

}  // namespace
