// The game's cost per frame: stage 1-1's stage-clear replay played headless through the real frame
// (messages, clear, the scene's draws on the CPU device, the present into the SDL dummy window)
// in virtual time, as CPU time of the whole process per game frame. Beside it, in the same run,
// the floor of a frame: a clear, the frame's covered pixels as 32-pixel row copies and one copy
// of the frame to the window. Also the peak resident memory of the process.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/game_entry.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "generator.h"
#include "platform/clock.h"
#include "platform/d3d9/d3d9_controls.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "type_tables.h"

namespace {

constexpr int kFrames = 900;  // 20 seconds of play
constexpr int kScreenPixels = 640 * 480;

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The generated game data in a folder of its own, made by a child process so that the
// generator's memory does not count towards the game's peak.
std::string MakeGameFolder() {
  std::string folder =
      (std::filesystem::temp_directory_path() / ("mub_bench_" + std::to_string(getpid()))).string();
  pid_t child = fork();
  if (child == 0) {
    std::string message;
    std::vector<std::string> warnings;
    if (mubgen::GenerateContent(MUB_CONTENT_DIR, folder, message, warnings) != 0) _exit(1);
    try {
      const std::string source = std::string(MUB_CONTENT_DIR) + "/replays/stage00.rpt";
      auto bytes = mubgen::CompileReplay(mubgen::ReadSourceFile(source, source),
                                         mubgen::ReadTypeTables(MUB_CONTENT_DIR, MUB_CONTENT_DIR));
      std::ofstream(folder + "/replay/00.rp", std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    } catch (const mubgen::ContentError&) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return folder;
}

struct GameRun {
  bool started = false;
  std::string folder;
};

GameRun& Run() {
  static GameRun run;
  if (!run.started) {
    run.started = true;
    run.folder = MakeGameFolder();
    if (run.folder.empty() || chdir(run.folder.c_str()) != 0) return run;
    SetPlatformVirtualTime(true);
    if (StartGame() != 0) run.folder.clear();
  }
  return run;
}

// The floor of one frame with `covered` sprite pixels.
void FloorFrame(std::vector<std::uint32_t>& frame, std::vector<std::uint32_t>& window,
                const std::vector<std::uint32_t>& sprite, long covered) {
  std::memset(frame.data(), 0, frame.size() * 4);
  std::size_t at = 0;
  for (long left = covered; left > 0; left -= 32) {
    std::size_t n = static_cast<std::size_t>(left < 32 ? left : 32);
    std::memcpy(frame.data() + at, sprite.data() + (at & 1023), n * 4);
    at = (at + 640 + 32) % (frame.size() - 32);
  }
  std::memcpy(window.data(), frame.data(), frame.size() * 4);
  benchmark::DoNotOptimize(window.data());
}

void BM_StageReplayFrame(benchmark::State& state) {
  GameRun& run = Run();
  if (run.folder.empty()) {
    state.SkipWithError("the game did not start on the generated data");
    return;
  }
  std::vector<long> covered(kFrames);
  std::vector<std::uint32_t> frame(kScreenPixels), window(kScreenPixels), sprite(2048, 0xFF336699);
  double gameSeconds = 0, floorSeconds = 0;
  int frames = 0;
  for (auto _ : state) {
    if (!StartReplayPlayback("replay/00.rp")) {
      state.SkipWithError("replay/00.rp did not start");
      return;
    }
    int played = 0;
    const double start = CpuSeconds();
    for (; played < kFrames && game.sceneNumber == SceneReplay; ++played) {
      D3D9ResetCounters();
      RunGameFrame();
      covered[played] = D3D9GetCallCount(D3D9Counter::CoveredPixels);
    }
    gameSeconds += CpuSeconds() - start;
    const double floorStart = CpuSeconds();
    for (int i = 0; i < played; ++i) FloorFrame(frame, window, sprite, covered[i]);
    floorSeconds += CpuSeconds() - floorStart;
    frames += played;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double perFrame = gameSeconds / frames, floorPerFrame = floorSeconds / frames;
  state.counters["cpu_us_per_frame"] = perFrame * 1e6;
  state.counters["floor_us_per_frame"] = floorPerFrame * 1e6;
  state.counters["ratio_to_floor"] = perFrame / floorPerFrame;
  state.counters["budget_percent"] = perFrame / (1.0 / 45) * 100;
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_StageReplayFrame)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(Run().folder);
  return 0;
}
