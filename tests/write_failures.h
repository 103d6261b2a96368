// For tests of what a program does when a file cannot be written: a file size limit stands in
// for a full disk (writes past it fail with EFBIG), and works for any user, root included.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace writefail {

// While alive, no file this process writes may grow past `bytes`.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  sighandler_t previousHandler_;
};

// What the process writes to standard error while alive, through a pipe: a file, as gtest's own
// capture uses, would meet the file size limit too.
class StderrPipe {
 public:
  StderrPipe() {
    if (pipe(pipe_) != 0) return;
    std::fflush(stderr);
    saved_ = dup(2);
    dup2(pipe_[1], 2);
  }
  ~StderrPipe() { Take(); }
  StderrPipe(const StderrPipe&) = delete;
  StderrPipe& operator=(const StderrPipe&) = delete;

  // Ends the capture; what was written (up to a pipe's buffer, ample for a few messages).
  std::string Take() {
    std::string text;
    if (saved_ < 0) return text;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    close(pipe_[1]);
    saved_ = -1;
    char buffer[512];
    for (ssize_t n; (n = read(pipe_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(pipe_[0]);
    return text;
  }

 private:
  int pipe_[2] = {-1, -1};
  int saved_ = -1;
};

}  // namespace writefail
