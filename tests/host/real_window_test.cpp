// The engine's window under a real X server (Xvfb on a display of its own): it shows the title
// and a 640 x 480 client area, and a close request from outside (WM_DELETE_WINDOW, as a window
// manager sends it) ends the message pump. The engine runs in a child process started with
// SDL's X11 driver; this process is the outside.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/host/engine_fixture.h"
#include "xvfb_support.h"

namespace {

// Xlib's client message event, as the protocol lays it out, inside its 24-long event union.
struct ClientMessageEvent {
  int type;
  unsigned long serial;
  int sendEvent;
  void* display;
  unsigned long window;
  unsigned long messageType;
  int format;
  long data[5];
};
union AnyEvent {
  ClientMessageEvent client;
  long pad[24];
};
constexpr int kClientMessage = 33;

// Sends WM_DELETE_WINDOW to a window through Xlib, loaded at run time.
bool SendDeleteWindow(const std::string& display, unsigned long window) {
  void* x11 = dlopen("libX11.so.6", RTLD_NOW);
  if (!x11) return false;
  auto openDisplay = reinterpret_cast<void* (*)(const char*)>(dlsym(x11, "XOpenDisplay"));
  auto internAtom =
      reinterpret_cast<unsigned long (*)(void*, const char*, int)>(dlsym(x11, "XInternAtom"));
  auto sendEvent = reinterpret_cast<int (*)(void*, unsigned long, int, long, AnyEvent*)>(
      dlsym(x11, "XSendEvent"));
  auto flush = reinterpret_cast<int (*)(void*)>(dlsym(x11, "XFlush"));
  auto closeDisplay = reinterpret_cast<int (*)(void*)>(dlsym(x11, "XCloseDisplay"));
  bool sent = false;
  if (openDisplay && internAtom && sendEvent && flush && closeDisplay) {
    if (void* connection = openDisplay(display.c_str())) {
      AnyEvent event{};
      event.client.type = kClientMessage;
      event.client.window = window;
      event.client.messageType = internAtom(connection, "WM_PROTOCOLS", 0);
      event.client.format = 32;
      event.client.data[0] = static_cast<long>(internAtom(connection, "WM_DELETE_WINDOW", 0));
      event.client.data[1] = 0;  // CurrentTime
      sent = sendEvent(connection, window, 0, 0, &event) != 0;
      flush(connection);
      closeDisplay(connection);
    }
  }
  dlclose(x11);
  return sent;
}

using RealWindowTest = EngineFixture;

// The engine's side, run in the child: start, pump until the pump says -1, end. Exit status 0
// when the pump ended by the close request within 30 seconds.
TEST_F(RealWindowTest, EngineSide) {
  const char* title = std::getenv("ENGINE_REAL_WINDOW_TITLE");
  if (!title) GTEST_SKIP() << "runs only as the engine side of the real window test";
  SetWindowTitle(title);
  SetRunWhileInactive(1);
  if (InitializeEngine() != 0) {
    for (const std::string& line : LogLines()) std::fprintf(stderr, "%s\n", line.c_str());
    FAIL() << "the engine did not start";
  }
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  int result = 0;
  while (result == 0 && (clock_gettime(CLOCK_MONOTONIC, &now), now.tv_sec - start.tv_sec < 30)) {
    result = ProcessWindowMessages();
    Sleep(10);
  }
  ShutdownEngine();
  std::filesystem::remove_all(directory_);  // ExitProcess skips the fixture's own clean-up
  ExitProcess(result == -1 ? 0 : 3);
}

TEST_F(RealWindowTest, ShowsTitleAnd640x480ClientAndEndsOnACloseFromOutside) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool"))
      << "xdotool is needed beside Xvfb (scripts/setup installs both)";
  pid_t server = 0;
  const std::string displayName = xvfb::StartServer(&server);
  ASSERT_FALSE(displayName.empty());
  std::string title = "mub real window " + std::to_string(getpid());

  pid_t engine = fork();
  ASSERT_GE(engine, 0);
  if (engine == 0) {
    setenv("DISPLAY", displayName.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ENGINE_REAL_WINDOW_TITLE", title.c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the X11 and D-Bus libraries keep their own
    execl("/proc/self/exe", "system_tests", "--gtest_filter=RealWindowTest.EngineSide", nullptr);
    _exit(127);
  }

  const std::string env = "DISPLAY=" + displayName + " ";
  const std::string id = xvfb::FindWindow(displayName, title);
  ASSERT_FALSE(id.empty()) << "the window never appeared";
  EXPECT_EQ(xvfb::RunCommand(env + "xdotool getwindowname " + id), title + "\n");
  std::string geometry;
  for (int i = 0; i < 100; ++i) {
    geometry = xvfb::RunCommand(env + "xdotool getwindowgeometry " + id);
    if (geometry.find("Geometry: 640x480") != std::string::npos) break;
    usleep(50000);
  }
  EXPECT_NE(geometry.find("Geometry: 640x480"), std::string::npos) << geometry;

  EXPECT_TRUE(SendDeleteWindow(displayName, std::stoul(id)));
  int status = -1;
  waitpid(engine, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the pump did not end on the close request";
  xvfb::StopServer(server);
}

}  // namespace
