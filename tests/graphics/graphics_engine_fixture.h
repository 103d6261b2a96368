// An engine started headless in window mode on the CPU Direct3D device, without sound, with
// virtual time and a log of its own in a temporary directory; the device's test controls are reset
// around each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine.h"
#include "graphics/draw_settings.h"
#include "graphics/graphics_state.h"
#include "host/system_state.h"
#include "host/window_system.h"
#include "platform/clock.h"
#include "platform/d3d9/d3d9_controls.h"
#include "platform/ddraw/ddraw.h"
#include "platform/win32/file_path.h"
#include "platform/win32/gdi_present.h"
#include "system/log.h"
#include "temp_folder.h"

class GraphicsEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string enginePath;
    ASSERT_TRUE(MapPosixToEnginePath(directory_, enginePath));
    SetPlatformVirtualTime(true);
    D3D9ResetControls();
    DirectDrawResetControls();
    SetLogOutput(1);
    SetLogTimeStampOff(1);
    SetLogDatedFileName(0);
    SetLogDirectory(enginePath.c_str());
    ChangeWindowMode(1);
    SetUseHardwareGraphics(1);
    // No sound thread: its sleeps would move virtual time under the test's feet.
    SetEngineSubsystemSwitches(0, 0, 1, 0);
  }

  void TearDown() override {
    ShutdownEngine();
    SetEngineSubsystemSwitches(0, 0, 0, 0);
    SetUseHardwareGraphics(1);
    PreInitSettings& settings = EngineSettings();
    settings.backgroundSet = 0;
    settings.backgroundRed = settings.backgroundGreen = settings.backgroundBlue = 0;
    D3D9ResetControls();
    DirectDrawResetControls();
    SetLogDirectory("");
    SetPlatformVirtualTime(false);
  }

  // Runs the message pump through `milliseconds` of virtual time, one millisecond a step.
  void PumpFor(int milliseconds) {
    for (int i = 0; i < milliseconds; ++i) {
      AdvancePlatformTime(1);
      ProcessWindowMessages();
    }
  }

  std::string ReadLog() const {
    std::ifstream file(directory_ + "/Log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // The window's client area as the last present left it, 0xRRGGBB per pixel.
  static std::vector<uint32_t> PresentedPixels(int* width = nullptr, int* height = nullptr) {
    D3D9Image image;
    if (!D3D9GetLastPresentedImage(&image)) return {};
    if (width != nullptr) *width = image.width;
    if (height != nullptr) *height = image.height;
    for (uint32_t& pixel : image.pixels) pixel &= 0xFFFFFF;
    return image.pixels;
  }

  // The window's client area as GDI or the swap chain last left it, 0xRRGGBB per pixel.
  static std::vector<uint32_t> WindowPixels(int* width = nullptr, int* height = nullptr) {
    int w = 0;
    int h = 0;
    std::vector<uint32_t> pixels;
    if (!GetWindowPresentedImage(GetEngineWindowHandle(), &w, &h, &pixels)) return {};
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
  }

  TempFolder folder_{"g1graphics"};
  const std::string directory_ = folder_.string();
};
