// For tests that run the engine under a real X server: Xvfb on a display of its own, and the
// xdotool commands that look at its windows and press its keys.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

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
inline std::string StartServer(pid_t* server) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    int ready[2];
    if (pipe(ready) != 0) return "";
    *server = fork();
    if (*server == 0) {
      close(ready[0]);
      const std::string fd = std::to_string(ready[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "-noreset", nullptr);
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
