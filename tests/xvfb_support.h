// For tests that run the engine under a real X server: Xvfb on a display of its own, and the
// xdotool commands that look at its windows and press its keys.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace xvfb {

// What a shell command printed on its standard output.
inline std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

inline bool IsOnPath(const char* program) {
  return RunCommand(std::string("command -v ") + program + " 2>/dev/null").find(program) !=
         std::string::npos;
}

inline void StopServer(pid_t server) {
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}

// Starts Xvfb on a free display (it writes the number it took to the descriptor it is given);
// the display's name (":N"), or "" when it did not start. Servers started at once by parallel
// tests can race for one display, and the loser exits: it is started again, a few times. A
// server also writes its number again when it resets and dies if nobody reads it, so it does not
// reset when its last client leaves, and the reading end of a started server stays open.
inline std::string StartServer(pid_t* server, const char* screen = "1024x768x24") {
  for (int attempt = 0; attempt < 5; ++attempt) {
    int ready[2];
    if (pipe(ready) != 0) return "";
    *server = fork();
    if (*server == 0) {
      close(ready[0]);
      const std::string fd = std::to_string(ready[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp",
             "-noreset", nullptr);
      _exit(127);
    }
    close(ready[1]);
    // The number ends with a new line; wait up to 60 seconds for it, whatever the load.
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    for (int waited = 0; waited < 600 && number.find('\n') == std::string::npos; ++waited) {
      const int readyCount = poll(&wait, 1, 100);
      if (readyCount < 0 && errno == EINTR) continue;
      if (readyCount <= 0) continue;
      char buffer[32];
      const ssize_t got = read(ready[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // the server exited without a display
      number.append(buffer, static_cast<std::size_t>(got));
    }
    if (number.find('\n') != std::string::npos)
      return ":" + std::to_string(std::atoi(number.c_str()));
    close(ready[0]);
    StopServer(*server);
    *server = 0;
  }
  return "";
}

// The X id of the window with this exact title on the display, waiting up to 15 seconds for it
// to appear; "" when it never does.
inline std::string FindWindow(const std::string& display, const std::string& title) {
  for (int i = 0; i < 300; ++i) {
    std::string id =
        RunCommand("DISPLAY=" + display + " xdotool search --name '^" + title + "$' 2>/dev/null");
    if (!id.empty()) return id.substr(0, id.find('\n'));
    usleep(50000);
  }
  return "";
}

// The root window's pixels as 8-bit R, G, B triples (ImageMagick's import), or empty.
inline std::vector<std::uint8_t> ScreenshotRoot(const std::string& display) {
  char name[] = "/tmp/xvfb_shot_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return {};
  close(fd);
  RunCommand("DISPLAY=" + display + " import -window root -depth 8 rgb:" + name + " 2>/dev/null");
  std::vector<std::uint8_t> bytes;
  if (FILE* file = std::fopen(name, "rb")) {
    std::uint8_t buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(file);
  }
  std::remove(name);
  return bytes;
}

// A window's _NET_WM_ICON as xprop reads it: width, height, then 0xAARRGGBB pixels; empty when
// the window has none.
inline std::vector<std::uint32_t> WindowIconProperty(const std::string& display,
                                                     unsigned long window) {
  const std::string text =
      RunCommand("DISPLAY=" + display + " xprop -id " + std::to_string(window) +
                 " -notype -f _NET_WM_ICON 32c ' = $0+' _NET_WM_ICON");
  std::vector<std::uint32_t> values;
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) return values;
  const char* p = text.c_str() + equals + 1;
  char* end = nullptr;
  for (unsigned long value = std::strtoul(p, &end, 10); end != p;
       value = std::strtoul(p, &end, 10)) {
    values.push_back(static_cast<std::uint32_t>(value));
    p = end;
    while (*p == ',' || *p == ' ') ++p;
  }
  return values;
}

// Runs this test program again with a gtest filter, on the display, with SDL's X11 driver and
// XVFB_CHILD set (the child's tests skip without it). True when the child passed its one test
// within two minutes; its output goes to `output`.
inline bool RunChildOnDisplay(const std::string& display, const std::string& filter,
                              std::string* output) {
  char name[] = "/tmp/xvfb_child_XXXXXX";
  const int log = mkstemp(name);
  if (log < 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    dup2(log, 1);
    dup2(log, 2);
    setenv("DISPLAY", display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("XVFB_CHILD", "1", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the X11 and D-Bus libraries keep their own
    const std::string argument = "--gtest_filter=" + filter;
    execl("/proc/self/exe", "xvfb_child", argument.c_str(), nullptr);
    _exit(127);
  }
  int status = -1;
  bool ended = false;
  for (int wait = 0; wait < 1200 && child > 0 && !ended; ++wait) {
    ended = waitpid(child, &status, WNOHANG) == child;
    if (!ended) usleep(100000);
  }
  if (child > 0 && !ended) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  close(log);
  std::string text = RunCommand(std::string("cat ") + name);
  std::remove(name);
  const bool passed = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                      text.find("[  PASSED  ] 1 test") != std::string::npos;
  if (output) *output = text;
  return passed;
}

// How a run of an engine under Xvfb with input from xdotool ended.
struct InputRun {
  bool windowSeen = false;
  bool ended = false;  // the engine side ended by itself
  int status = -1;     // its wait status when it did
};

// Runs this test program again as the engine side (`engineSide`, a gtest filter) on a display of
// its own, its window titled by `title` through the environment variable `titleVariable`; then
// focuses the window and sends `input` (xdotool arguments, or a shell line given the display's
// environment prefix) until the engine side ends: at most 40 attempts of half a second each.
inline InputRun RunEngineSideWithInput(const char* engineSide, const char* titleVariable,
                                       const std::string& title,
                                       std::string (*input)(const std::string& env)) {
  InputRun run;
  pid_t server = 0;
  const std::string displayName = StartServer(&server);
  if (displayName.empty()) return run;
  const pid_t engine = fork();
  if (engine == 0) {
    setenv("DISPLAY", displayName.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv(titleVariable, title.c_str(), 1);
    const std::string filter = std::string("--gtest_filter=") + engineSide;
    execl("/proc/self/exe", "engine_side", filter.c_str(), nullptr);
    _exit(127);
  }
  const std::string env = "DISPLAY=" + displayName + " ";
  const std::string id = FindWindow(displayName, title);
  run.windowSeen = !id.empty();
  for (int attempt = 0; run.windowSeen && attempt < 40 && !run.ended; ++attempt) {
    RunCommand(env + "xdotool windowfocus --sync " + id + " 2>/dev/null");
    RunCommand(input(env));
    for (int wait = 0; wait < 10 && !run.ended; ++wait) {
      usleep(50000);
      run.ended = waitpid(engine, &run.status, WNOHANG) == engine;
    }
  }
  if (!run.ended) {
    kill(engine, SIGKILL);
    waitpid(engine, nullptr, 0);
  }
  StopServer(server);
  return run;
}

}  // namespace xvfb
