// The main of every test program: tests run headless (SDL's dummy video and audio drivers unless a
// test's environment names others, as the Xvfb tests' child processes do), and leaks in system
// libraries that SDL loads are not ours to report.
#include <gtest/gtest.h>

#include <cstdlib>

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
