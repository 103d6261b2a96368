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

#include "engine_fixture.h"

namespace {

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

bool OnPath(const char* program) {
  return RunCommand(std::string("command -v ") + program + " 2>/dev/null").find(program) != std::string::npos;
}

// Starts Xvfb on a free display; the display number, or -1.
int StartXvfb(pid_t* server) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  *server = fork();
  if (*server == 0) {
    close(ready[0]);
    std::string fd = std::to_string(ready[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr);
    _exit(127);
  }
  close(ready[1]);
  char number[32] = {};
  ssize_t got = read(ready[0], number, sizeof number - 1);
  close(ready[0]);
  return got > 0 ? std::atoi(number) : -1;
}

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
  auto internAtom = reinterpret_cast<unsigned long (*)(void*, const char*, int)>(dlsym(x11, "XInternAtom"));
  auto sendEvent = reinterpret_cast<int (*)(void*, unsigned long, int, long, AnyEvent*)>(dlsym(x11, "XSendEvent"));
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
  std::filesystem::current_path(previous_);
  std::filesystem::remove_all(directory_);
  ExitProcess(result == -1 ? 0 : 3);
}

TEST_F(RealWindowTest, ShowsTitleAnd640x480ClientAndEndsOnACloseFromOutside) {
  if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(OnPath("xdotool")) << "xdotool is needed beside Xvfb (scripts/setup installs both)";
  pid_t server = 0;
  int display = StartXvfb(&server);
  ASSERT_GE(display, 0);
  std::string displayName = ":" + std::to_string(display);
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

  std::string env = "DISPLAY=" + displayName + " ";
  std::string id;
  for (int i = 0; i < 300 && id.empty(); ++i) {
    id = RunCommand(env + "xdotool search --name '^" + title + "$' 2>/dev/null");
    if (id.empty()) usleep(50000);
  }
  ASSERT_FALSE(id.empty()) << "the window never appeared";
  id = id.substr(0, id.find('\n'));
  EXPECT_EQ(RunCommand(env + "xdotool getwindowname " + id), title + "\n");
  std::string geometry;
  for (int i = 0; i < 100; ++i) {
    geometry = RunCommand(env + "xdotool getwindowgeometry " + id);
    if (geometry.find("Geometry: 640x480") != std::string::npos) break;
    usleep(50000);
  }
  EXPECT_NE(geometry.find("Geometry: 640x480"), std::string::npos) << geometry;

  EXPECT_TRUE(SendDeleteWindow(displayName, std::stoul(id)));
  int status = -1;
  waitpid(engine, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the pump did not end on the close request";
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}

}  // namespace
