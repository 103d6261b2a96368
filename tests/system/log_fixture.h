// A log in a temporary directory of its own, with virtual time, read back as bytes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/clock.h"
#include "platform/win32/file_path.h"
#include "system/log.h"
#include "system/text_helpers.h"
#include "temp_folder.h"

class LogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string enginePath;
    ASSERT_TRUE(MapPosixToEnginePath(directory_, enginePath));
    SetPlatformVirtualTime(true);
    SetCodePageKind(kCodePageKindShiftJis, 932);
    SetLogOutput(1);
    SetLogTimeStampOff(0);
    SetLogDatedFileName(0);
    SetLogDirectory(enginePath.c_str());
    InitializeLogFile();
  }
  void TearDown() override {
    SetLogDirectory("");
    SetPlatformVirtualTime(false);
    SetCodePageKind(0, 0);
  }
  std::string ReadLog(const std::string& name = "Log.txt") const {
    std::ifstream file(directory_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  bool LogExists(const std::string& name = "Log.txt") const {
    return std::filesystem::exists(directory_ + "/" + name);
  }
  TempFolder folder_{"h1log"};
  const std::string directory_ = folder_.string();
};
