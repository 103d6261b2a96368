// A program built on the engine through engine.h alone: it opens the window, loads a graph (the
// file named on the command line, or a small BMP it writes itself) and moves it with the arrow
// keys until the window is closed or Escape is pressed. "--frames=N" (or MOVING_GRAPH_FRAMES=N)
// ends it after N frames, so it can run unattended under SDL's dummy drivers.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine.h"

namespace {

void PutLittleEndian(std::FILE* file, unsigned value, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc((value >> (8 * i)) & 0xFF, file);
}

// A 32x32 24-bit BMP: a yellow disc on blue. Returns false when the file cannot be written.
bool WriteSampleGraph(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  constexpr int Size = 32, RowBytes = Size * 3, PixelBytes = RowBytes * Size;
  std::fputs("BM", file);
  PutLittleEndian(file, 54 + PixelBytes, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, 54, 4);
  for (unsigned field : {40u, unsigned(Size), unsigned(Size), 1u, 24u, 0u, unsigned(PixelBytes)})
    PutLittleEndian(file, field, field == 1u || field == 24u ? 2 : 4);
  for (int i = 0; i < 4; ++i) PutLittleEndian(file, 0, 4);
  for (int y = 0; y < Size; ++y)
    for (int x = 0; x < Size; ++x) {
      int dx = 2 * x - Size + 1, dy = 2 * y - Size + 1;
      bool inside = dx * dx + dy * dy < Size * Size;
      std::fputc(inside ? 0x20 : 0xC0, file);  // blue, green, red
      std::fputc(inside ? 0xE0 : 0x40, file);
      std::fputc(inside ? 0xF0 : 0x20, file);
    }
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string graphPath;
  int frameLimit = 0;
  if (const char* frames = std::getenv("MOVING_GRAPH_FRAMES")) frameLimit = std::atoi(frames);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--frames=", 9) == 0)
      frameLimit = std::atoi(argv[i] + 9);
    else
      graphPath = argv[i];
  }
  bool madeGraph = graphPath.empty();
  if (madeGraph) {
    // A name of this run's own: several copies may run at once.
    graphPath = (std::filesystem::temp_directory_path() /
                 ("moving_graph_sample_" + std::to_string(getpid()) + ".bmp"))
                    .string();
    if (!WriteSampleGraph(graphPath))
      return std::fprintf(stderr, "cannot write %s\n", graphPath.c_str()), 1;
  }

  SetWindowTitle("moving graph");
  ChangeWindowMode(1);
  SetLogOutput(0);
  SetDrawTarget(DrawTargetBackBuffer);
  if (InitializeEngine() == -1) return 1;
  int graph = LoadGraphFile(graphPath.c_str());
  if (madeGraph) std::filesystem::remove(graphPath);
  if (graph == -1) {
    ShutdownEngine();
    return std::fprintf(stderr, "cannot load %s\n", graphPath.c_str()), 1;
  }

  int x = 304, y = 224;
  char keys[256] = {};
  for (int frame = 0; frameLimit <= 0 || frame < frameLimit; ++frame) {
    if (ProcessWindowMessages() == -1) break;
    if (GetAllKeyStates(keys) == -1 || keys[KeyEsc]) break;
    x += 4 * (keys[KeyRight] - keys[KeyLeft]);
    y += 4 * (keys[KeyDown] - keys[KeyUp]);
    ClearDrawTarget();
    DrawGraphAtPoint(x, y, graph, 1);
    PresentFrame();
    PauseMilliseconds(16);
  }
  DeleteGraphHandle(graph);
  ShutdownEngine();
  return 0;
}
