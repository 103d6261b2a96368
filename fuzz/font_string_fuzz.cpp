// Fuzz target: string drawing and measuring over arbitrary bytes (broken lead bytes, lone trail
// bytes, very long strings) with the installed fonts, on an engine started headless in software
// mode. The first byte picks the font, the direction and the blend; the next two a byte count.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/graphics_public.h"
#include "host/host.h"
#include "host/window_system.h"
#include "system/log.h"
#include "system/system.h"

// fontconfig keeps parts of its configuration that its own parser leaked; not ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

int fonts[4] = {-1, -1, -1, -1};

bool StartEngineOnce() {
  static bool started = false;
  if (started) return true;
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  SetLogOutput(0);
  ChangeWindowMode(1);
  SetUseHardwareGraphics(0);
  SetEngineSubsystemSwitches(0, 0, 1, 0);
  if (InitializeEngine() != 0) abort();
  // Plain, edged, anti-aliased and anti-aliased with a wide edge; the last in the Korean set.
  fonts[0] = CreateFontToHandle(nullptr, 14, -1, 0, -1, -1, 0);
  fonts[1] = CreateFontToHandle(nullptr, 16, 4, 1, -1, 1, 0);
  fonts[2] = CreateFontToHandle(nullptr, 12, -1, 2, -1, -1, 1);
  fonts[3] = CreateFontToHandle(nullptr, 20, -1, 3, 2, 3, 0);
  for (int font : fonts)
    if (font == -1) abort();
  started = true;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > (1u << 16)) return 0;
  StartEngineOnce();
  const int choice = data[0];
  const int font = fonts[choice & 3];
  const int vertical = (choice >> 2) & 1;
  const int16_t byteCount = static_cast<int16_t>(data[1] | data[2] << 8);
  std::vector<char> text(data + 3, data + size);
  text.push_back('\0');
  SetBlendModeAndParam((choice >> 3) & 3, (choice >> 5) * 36);
  const int x = (choice >> 4) * 40 - 100;
  int box[2] = {};
  DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, text.data(), 0, nullptr, nullptr, 1, font, 0, byteCount,
                     vertical, box);
  int count = 0;
  PrepareFontString(text.data(), byteCount, font, nullptr, &count);
  DrawStringWithFontHandle(x, 8, text.data(), MakeScreenColorCode(255, 255, 255), font,
                           MakeScreenColorCode(0, 0, 0), vertical);
  SetBlendModeAndParam(0, 255);
  return 0;
}
