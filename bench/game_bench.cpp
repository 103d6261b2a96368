// The game's cost per frame, as CPU time of every thread of the process per game frame, two ways.
//
// Headless: stage 1-1's stage-clear replay played through the real frame (messages, clear, the
// scene's draws on the CPU device, the present into the SDL dummy window) in virtual time, so no
// frame waits. Beside it, in the same run, the floor of a frame: a clear, the frame's covered
// pixels as 32-pixel row copies and one copy of the frame to the window. Also the peak resident
// memory of the process.
//
// Paced, as a player meets it: the same replay played by the game in real time at its 45 frames
// per second, in a child process on an X server of its own (Xvfb; the dummy video driver when
// there is none) with its sound mixed into SDL's dummy audio driver, counting every thread of
// the child over a stretch of frames. Interleaved with it, round by round, the floor paced the
// same way in a child of its own: an SDL window and audio device (silence), and each frame the
// events read, a clear, the replay's mean covered pixels as row copies into the window's surface,
// the game's frame wait and one window update.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
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

#include "../tests/xvfb_support.h"
#include "bench/side_by_side.h"
#include "engine.h"
#include "game/frame_pacing.h"
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
// A paced child plays a second before it is counted, then ten seconds.
constexpr int kPacedWarmUpFrames = 45;
constexpr int kPacedFrames = 450;
constexpr int kPacedRounds = 5;

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

// Plays the replay headless from its start, up to kFrames frames, keeping each frame's covered
// pixels; the frames played, 0 when the replay did not start.
int PlayReplayHeadless(std::vector<long>& covered) {
  if (!StartReplayPlayback("replay/00.rp")) return 0;
  int played = 0;
  for (; played < kFrames && game.sceneNumber == SceneReplay; ++played) {
    D3D9ResetCounters();
    RunGameFrame();
    covered[played] = D3D9GetCallCount(D3D9Counter::CoveredPixels);
  }
  return played;
}

// A clear and `covered` sprite pixels as row copies into a 640 x 480 frame of `pitch` pixels.
void DrawFloorFrame(std::uint32_t* frame, int pitch, const std::vector<std::uint32_t>& sprite,
                    long covered) {
  for (int y = 0; y < 480; ++y) std::memset(frame + std::size_t(y) * pitch, 0, 640 * 4);
  int x = 0, y = 0;
  for (long left = covered; left > 0; left -= 32) {
    const std::size_t n = static_cast<std::size_t>(left < 32 ? left : 32);
    std::memcpy(frame + std::size_t(y) * pitch + x, sprite.data() + ((y * 32 + x) & 1023), n * 4);
    x = (x + 32) % (640 - 32);
    y = (y + 1) % 480;
  }
}

// The floor of one frame with `covered` sprite pixels: drawn, then one copy to the window.
void FloorFrame(std::vector<std::uint32_t>& frame, std::vector<std::uint32_t>& window,
                const std::vector<std::uint32_t>& sprite, long covered) {
  DrawFloorFrame(frame.data(), 640, sprite, covered);
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
    const double start = ProcessCpuSeconds();
    const int played = PlayReplayHeadless(covered);
    gameSeconds += ProcessCpuSeconds() - start;
    if (played == 0) {
      state.SkipWithError("replay/00.rp did not start");
      return;
    }
    const double floorStart = ProcessCpuSeconds();
    for (int i = 0; i < played; ++i) FloorFrame(frame, window, sprite, covered[i]);
    floorSeconds += ProcessCpuSeconds() - floorStart;
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

// What a paced child prints on its standard output: the CPU seconds of all its threads over the
// counted frames, the frames, and the wall seconds they took.
struct PacedFigures {
  double cpuSeconds = 0;
  int frames = 0;
  double wallSeconds = 0;
  double peakMiB = 0;  // from the child's resource usage, read by the parent
};

void PrintPacedFigures(double cpuSeconds, int frames, double wallSeconds) {
  std::printf("%.9f %d %.9f\n", cpuSeconds, frames, wallSeconds);
  std::fflush(stdout);
}

// The game in a paced child: started in real time in the generated folder, playing the replay
// again each time it ends.
int PacedGameChild(const char* folder) {
  if (chdir(folder) != 0 || StartGame() != 0) return 1;
  double cpu = 0, wall = 0;
  for (int frame = 0; frame < kPacedWarmUpFrames + kPacedFrames; ++frame) {
    if (frame == kPacedWarmUpFrames) {
      cpu = ProcessCpuSeconds();
      wall = Now();
    }
    if (game.sceneNumber != SceneReplay && !StartReplayPlayback("replay/00.rp")) return 1;
    if (!RunGameFrame()) return 1;
  }
  PrintPacedFigures(ProcessCpuSeconds() - cpu, kPacedFrames, Now() - wall);
  ShutdownEngine();
  return 0;
}

void SDLCALL FillSilence(void*, Uint8* stream, int bytes) {
  std::memset(stream, 0, static_cast<std::size_t>(bytes));
}

int MillisecondClock() {
  return static_cast<int>(static_cast<long long>(Now() * 1000) & 0x7FFFFFFF);
}

// The floor in a paced child: what any SDL program that shows 640 x 480 software frames at the
// game's pace with a sound device open does, and no more.
int PacedFloorChild(long covered) {
  // Without a GPU driver the engine shows its pictures through the window system's image
  // transfer; left to itself, SDL would draw the floor's with software OpenGL.
  if (!SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION))
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) return 1;
  SDL_Window* window =
      SDL_CreateWindow("floor", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 640, 480, 0);
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = 512;
  want.callback = FillSilence;
  const SDL_AudioDeviceID audio = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (window == nullptr || audio == 0) return 1;
  SDL_PauseAudioDevice(audio, 0);
  const std::vector<std::uint32_t> sprite(2048, 0xFF336699);
  FramePacing pacing;
  double cpu = 0, wall = 0;
  for (int frame = 0; frame < kPacedWarmUpFrames + kPacedFrames; ++frame) {
    if (frame == kPacedWarmUpFrames) {
      cpu = ProcessCpuSeconds();
      wall = Now();
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (surface == nullptr || surface->format->BytesPerPixel != 4) return 1;
    DrawFloorFrame(static_cast<std::uint32_t*>(surface->pixels), surface->pitch / 4, sprite,
                   covered);
    const int wait = FrameWait(pacing, MillisecondClock());
    if (wait > 0) SDL_Delay(static_cast<Uint32>(wait));
    FinishFrame(pacing, MillisecondClock());
    SDL_UpdateWindowSurface(window);
  }
  PrintPacedFigures(ProcessCpuSeconds() - cpu, kPacedFrames, Now() - wall);
  SDL_CloseAudioDevice(audio);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}

// Runs this program again as a paced child (`mode` and its argument) on `display` (the dummy
// video driver when empty) and reads its figures; frames stays 0 when it failed or did not end
// within two minutes.
PacedFigures RunPacedChild(const std::string& display, const char* mode,
                           const std::string& argument) {
  PacedFigures figures;
  int out[2];
  if (pipe(out) != 0) return figures;
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 2);
    if (!display.empty()) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    execl("/proc/self/exe", "game_bench", mode, argument.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string text;
  pollfd wait{out[0], POLLIN, 0};
  bool ended = false;
  for (int waited = 0; waited < 1200 && !ended; ++waited) {
    if (poll(&wait, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got > 0)
      text.append(buffer, static_cast<std::size_t>(got));
    else
      ended = true;  // the child closed its output: it has ended
  }
  close(out[0]);
  if (!ended) kill(child, SIGKILL);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return figures;
  if (std::sscanf(text.c_str(), "%lf %d %lf", &figures.cpuSeconds, &figures.frames,
                  &figures.wallSeconds) != 3)
    figures.frames = 0;
  figures.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
  return figures;
}

// Each round runs the paced game, then the paced floor, each in a child of its own.
void BM_StageReplayPaced(benchmark::State& state) {
  GameRun& run = Run();
  std::vector<long> covered(kFrames);
  const int played = run.folder.empty() ? 0 : PlayReplayHeadless(covered);
  if (played == 0) {
    state.SkipWithError("the game did not play its replay headless");
    return;
  }
  long coveredSum = 0;
  for (int i = 0; i < played; ++i) coveredSum += covered[i];
  const std::string meanCovered = std::to_string(coveredSum / played);
  pid_t server = 0;
  const std::string display =
      xvfb::IsOnPath("Xvfb") ? xvfb::StartServer(&server, "1024x768x24") : "";
  std::vector<double> gameCpu, floorCpu, ratios, rates, peaks;
  for (auto _ : state) {
    const PacedFigures g = RunPacedChild(display, "--paced-game", run.folder);
    const PacedFigures f = RunPacedChild(display, "--paced-floor", meanCovered);
    if (g.frames == 0 || f.frames == 0) {
      state.SkipWithError(g.frames == 0 ? "the paced game did not run"
                                        : "the paced floor did not run");
      break;
    }
    gameCpu.push_back(g.cpuSeconds / g.frames);
    floorCpu.push_back(f.cpuSeconds / f.frames);
    ratios.push_back(gameCpu.back() / floorCpu.back());
    rates.push_back(g.frames / g.wallSeconds);
    peaks.push_back(g.peakMiB);
  }
  if (server != 0) xvfb::StopServer(server);
  if (gameCpu.empty()) return;
  state.SetLabel(display.empty() ? "SDL dummy video driver" : "Xvfb, SDL's X11 driver");
  state.counters["cpu_us_per_frame"] = Median(gameCpu) * 1e6;
  state.counters["floor_us_per_frame"] = Median(floorCpu) * 1e6;
  state.counters["ratio_to_floor"] = Median(ratios);
  state.counters["budget_percent"] = Median(gameCpu) / (1.0 / 45) * 100;
  state.counters["frames_per_s"] = Median(rates);
  state.counters["peak_MiB"] = Median(peaks);
}
BENCHMARK(BM_StageReplayPaced)->Iterations(kPacedRounds)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (argc == 3 && std::strcmp(argv[1], "--paced-game") == 0) return PacedGameChild(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--paced-floor") == 0)
    return PacedFloorChild(std::atol(argv[2]));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(Run().folder);
  return 0;
}
