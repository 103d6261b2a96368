// For tests that run the engine under a real X server: Xvfb on a display of its own, and the
// xdotool commands that look at its windows and press its keys.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Starts Xvfb on a free display (it writes the number it took to the descriptor it is given);
// the display's name (":N"), or "" when it did not start. The server writes its number again
// when it resets, and dies if nobody reads it, so the reading end stays open (one descriptor per
// server) and the server does not reset when its last client leaves.
inline std::string StartServer(pid_t* server) {
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
  char number[32] = {};
  const ssize_t got = read(ready[0], number, sizeof number - 1);
  return got > 0 ? ":" + std::to_string(std::atoi(number)) : "";
}

inline void StopServer(pid_t server) {
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
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

}  // namespace xvfb
