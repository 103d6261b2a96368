// An engine started headless in a temporary directory of its own (the log goes there), with a
// window title unique to the test so that parallel test processes are not second copies.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/window_system.h"
#include "platform/clock.h"
#include "system/log.h"
#include "system/system.h"
#include "temp_folder.h"

class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() { setenv(kParentFolder, directory_.c_str(), 1); }
  void SetUp() override {
    SetLogDirectory("");
    SetLogOutput(1);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    title_ = std::string("engine test ") + info->name() + " " + std::to_string(getpid());
    SetWindowTitle(title_.c_str());
    ChangeWindowMode(1);
  }
  void TearDown() override {
    ShutdownEngine();
    // A test that stopped part way may leave a window; the next test must not find it.
    while (HWND left = FindWindowA(title_.c_str(), nullptr)) {
      if (!DestroyWindow(left)) break;
    }
    UnregisterClassA(title_.c_str(), nullptr);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    ResetEngineSubsystemCalls();
    SetPlatformVirtualTime(false);
  }
  std::string ReadLog() const {
    std::ifstream file(directory_ + "/Log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  // The log's lines without their time stamps ("123:") and line ends.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::string log = ReadLog();
    std::size_t start = 0;
    while (start < log.size()) {
      std::size_t end = log.find("\r\n", start);
      if (end == std::string::npos) end = log.size();
      std::string line = log.substr(start, end - start);
      std::size_t colon = line.find(':');
      if (colon != std::string::npos && colon > 0 && line.find_first_not_of("0123456789") == colon)
        line.erase(0, colon + 1);
      lines.push_back(line);
      start = end + 2;
    }
    return lines;
  }
  // A death test of the "threadsafe" style runs the test again in a new process, which builds
  // this fixture again and may end by _exit, removing nothing: its folder goes inside the
  // parent's (an absolute prefix), which the parent removes.
  static constexpr const char* kParentFolder = "ENGINE_TEST_PARENT_FOLDER";
  static std::string FolderPrefix() {
    const char* parent = getenv(kParentFolder);
    if (parent != nullptr && !GTEST_FLAG_GET(internal_run_death_test).empty())
      return std::string(parent) + "/h2engine";
    return "h2engine";
  }
  TempFolder folder_{FolderPrefix(), TempFolder::kEnter};
  const std::string directory_ = folder_.string();
  std::string title_;
};
