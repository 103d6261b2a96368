// A program that runs the engine with everything a game keeps alive at its end (a window, a graph
// drawn and presented, a font's glyphs, a sound playing in a loop with the sound thread and the
// audio callback running) and then leaves it in one of the ways a program may:
//   global   a namespace-scope object's destructor ends the engine, after every other destructor
//   static   a function-local static object's destructor ends it, as a benchmark's scene does
//   atexit   a function registered with atexit before the start ends it
//   never    main returns and nothing ends it
// Each must exit with status 0 and without a sanitizer's report.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine.h"
#include "graphics/font.h"
#include "platform/clock.h"

namespace {

void PutLittleEndian(std::FILE* file, unsigned value, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc((value >> (8 * i)) & 0xFF, file);
}

// Half a second of a 16-bit mono tone, and a 16 x 16 24-bit picture.
bool WriteFixtures(const std::string& wave, const std::string& bitmap) {
  std::FILE* file = std::fopen(wave.c_str(), "wb");
  if (!file) return false;
  constexpr unsigned kSamples = 11025;
  std::fputs("RIFF", file);
  PutLittleEndian(file, 36 + kSamples * 2, 4);
  std::fputs("WAVEfmt ", file);
  PutLittleEndian(file, 16, 4);
  PutLittleEndian(file, 1, 2);  // PCM
  PutLittleEndian(file, 1, 2);  // mono
  PutLittleEndian(file, 22050, 4);
  PutLittleEndian(file, 44100, 4);
  PutLittleEndian(file, 2, 2);
  PutLittleEndian(file, 16, 2);
  std::fputs("data", file);
  PutLittleEndian(file, kSamples * 2, 4);
  for (unsigned i = 0; i < kSamples; ++i) PutLittleEndian(file, (i / 25) % 2 ? 4000 : 61536, 2);
  if (std::fclose(file) != 0) return false;

  file = std::fopen(bitmap.c_str(), "wb");
  if (!file) return false;
  constexpr int kSize = 16, kPixelBytes = kSize * kSize * 3;
  std::fputs("BM", file);
  PutLittleEndian(file, 54 + kPixelBytes, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, 54, 4);
  for (unsigned field : {40u, unsigned(kSize), unsigned(kSize), 1u, 24u, 0u, unsigned(kPixelBytes)})
    PutLittleEndian(file, field, field == 1u || field == 24u ? 2 : 4);
  for (int i = 0; i < 4; ++i) PutLittleEndian(file, 0, 4);
  for (int i = 0; i < kSize * kSize; ++i) PutLittleEndian(file, 0x30C0F0u + i, 3);
  return std::fclose(file) == 0;
}

bool RunEngine() {
  char folder[] = "/tmp/engine_exit_XXXXXX";
  if (!mkdtemp(folder)) return false;
  const std::string wave = std::string(folder) + "/tone.wav";
  const std::string bitmap = std::string(folder) + "/picture.bmp";
  const bool written = WriteFixtures(wave, bitmap);
  SetLogOutput(0);
  ChangeWindowMode(1);
  SetWindowTitle(("engine exit " + std::to_string(getpid())).c_str());
  if (!written || InitializeEngine() != 0) return false;
  const int sound = LoadSoundDataFile(wave.c_str(), 1, -1);
  const int graph = LoadGraphFile(bitmap.c_str());
  const int font = CreateFontToHandle(nullptr, 16, 4, 1, -1, 1, 0);
  std::remove(wave.c_str());
  std::remove(bitmap.c_str());
  rmdir(folder);
  if (sound == -1 || graph == -1 || font == -1) return false;
  if (PlaySoundData(sound, SoundPlayLoop, 1) != 0) return false;
  SetDrawTarget(DrawTargetBackBuffer);
  for (int frame = 0; frame < 5; ++frame) {
    if (ProcessWindowMessages() != 0) return false;
    ClearDrawTarget();
    DrawGraphAtPoint(frame * 10, 20, graph, 1);
    DrawStringWithFontHandle(10, 60, "exit", 0xFFFFFF, font, 0, 0);
    PresentFrame();
    PauseMilliseconds(20);
  }
  return true;
}

struct LateEnd {
  bool armed = false;
  ~LateEnd() {
    if (armed) ShutdownEngine();
  }
};

LateEnd globalEnd;

LateEnd& StaticEnd() {
  static LateEnd end;
  return end;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "global") == 0) {
    globalEnd.armed = true;
  } else if (std::strcmp(mode, "atexit") == 0) {
    std::atexit([] { ShutdownEngine(); });
  } else if (std::strcmp(mode, "static") != 0 && std::strcmp(mode, "never") != 0) {
    std::fprintf(stderr, "usage: engine_exit global|static|atexit|never\n");
    return 2;
  }
  if (!RunEngine()) {
    std::fprintf(stderr, "engine_exit: the engine did not start and run\n");
    return 1;
  }
  if (std::strcmp(mode, "static") == 0) StaticEnd().armed = true;
  return 0;
}
