// The CPU device's test controls and counters: one block of state that the devices consult.
#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/win32/gdi_present.h"

namespace {

constexpr D3D9Settings DefaultSettings = {
    D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_TSSARGTEMP |
        D3DPMISCCAPS_BLENDOP,
    2048,
    2048,
    false,
    false,
    false,
    false,
    false,
    true,
};

struct D3D9ControlState {
  D3D9Settings settings = DefaultSettings;
  std::set<DWORD> refusedFormats;
  std::array<int, static_cast<int>(D3D9Call::Count)> failNext{};
  std::array<int, static_cast<int>(D3D9ObjectKind::Count)> liveObjects{};
  std::array<std::int64_t, static_cast<int>(D3D9Counter::Count)> calls{};
  std::array<std::int64_t, D3D9RenderStateCount> renderStateSets{};
  std::array<std::array<std::int64_t, D3D9SamplerStateCount>, D3D9SamplerCount> samplerStateSets{};
  std::array<std::array<std::int64_t, D3D9TextureStageStateCount>, D3D9TextureStageCount>
      stageStateSets{};
  int deviceCreations = 0;
  int leakReports = 0;
  int lastLeakedCount = 0;
  std::vector<CpuDevice*> devices;
  HWND lastPresentWindow = nullptr;
  bool presented = false;
  void (*presentObserver)() = nullptr;
};

D3D9ControlState& Controls() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* state = new D3D9ControlState;
  return *state;
}

}  // namespace

const D3D9Settings& GetD3D9Settings() { return Controls().settings; }

bool IsD3D9FormatRefused(D3DFORMAT format) { return Controls().refusedFormats.count(format) != 0; }

bool TakeD3D9CallFailure(D3D9Call call) {
  int& left = Controls().failNext[static_cast<int>(call)];
  if (left <= 0) return false;
  --left;
  return true;
}

void CountD3D9Call(D3D9Counter counter, std::int64_t count) {
  Controls().calls[static_cast<int>(counter)] += count;
}

void CountD3D9RenderState(DWORD state) {
  if (state < D3D9RenderStateCount) ++Controls().renderStateSets[state];
}

void CountD3D9SamplerState(DWORD sampler, DWORD type) {
  if (sampler < D3D9SamplerCount && type < D3D9SamplerStateCount)
    ++Controls().samplerStateSets[sampler][type];
}

void CountD3D9TextureStageState(DWORD stage, DWORD type) {
  if (stage < D3D9TextureStageCount && type < D3D9TextureStageStateCount)
    ++Controls().stageStateSets[stage][type];
}

void TrackD3D9Object(D3D9ObjectKind kind, int delta) {
  Controls().liveObjects[static_cast<int>(kind)] += delta;
}

void CountD3D9DeviceCreation() { ++Controls().deviceCreations; }

void ReportD3D9LeakedObjects(int count) {
  ++Controls().leakReports;
  Controls().lastLeakedCount = count;
  std::fprintf(stderr, "d3d9: device released with %d live object(s)\n", count);
}

void RecordD3D9Present(HWND window) {
  Controls().lastPresentWindow = window;
  Controls().presented = true;
  if (Controls().presentObserver) Controls().presentObserver();
}

void RegisterD3D9Device(CpuDevice* device, bool alive) {
  auto& devices = Controls().devices;
  if (alive) {
    devices.push_back(device);
  } else {
    devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
  }
}

void D3D9ResetControls() {
  D3D9ControlState& state = Controls();
  state.settings = DefaultSettings;
  state.refusedFormats.clear();
  state.failNext.fill(0);
  RegisterD3D9Module();
  D3D9ResetCounters();
}

void D3D9ResetCounters() {
  D3D9ControlState& state = Controls();
  state.calls.fill(0);
  state.renderStateSets.fill(0);
  for (auto& stage : state.samplerStateSets) stage.fill(0);
  for (auto& stage : state.stageStateSets) stage.fill(0);
  state.deviceCreations = 0;
  state.leakReports = 0;
  state.lastLeakedCount = 0;
}

void D3D9InjectDeviceLoss() {
  for (CpuDevice* device : Controls().devices) device->lost = true;
}

void D3D9FailNextCalls(D3D9Call call, int count) {
  if (call >= D3D9Call::Count) return;
  Controls().failNext[static_cast<int>(call)] = std::max(0, count);
}

void D3D9SetFormatRefused(D3DFORMAT format, bool refused) {
  if (refused) {
    Controls().refusedFormats.insert(format);
  } else {
    Controls().refusedFormats.erase(format);
  }
}

void D3D9SetDxtSupported(bool supported) { Controls().settings.dxtSupported = supported; }

void D3D9ClearPrimitiveMiscCaps(DWORD bits) { Controls().settings.primitiveMiscCaps &= ~bits; }

void D3D9SetSquareTexturesOnly(bool on) { Controls().settings.squareOnly = on; }

void D3D9SetMaxTextureSize(DWORD width, DWORD height) {
  Controls().settings.maxTextureWidth = width;
  Controls().settings.maxTextureHeight = height;
}

void D3D9SetShaderModel2(bool on) { Controls().settings.shaderModel2 = on; }

void D3D9ExportCreate9Ex(bool on) {
  Controls().settings.exportCreate9Ex = on;
  RegisterD3D9Module();
}

void D3D9SetNeverVerticalBlank(bool on) { Controls().settings.neverVerticalBlank = on; }

void D3D9SetSpanPaths(bool on) { Controls().settings.spanPaths = on; }

int D3D9GetLiveObjectCount(D3D9ObjectKind kind) {
  if (kind >= D3D9ObjectKind::Count) return 0;
  return Controls().liveObjects[static_cast<int>(kind)];
}

int D3D9GetDeviceCreationCount() { return Controls().deviceCreations; }
int D3D9GetLeakReportCount() { return Controls().leakReports; }
int D3D9GetLastLeakedObjectCount() { return Controls().lastLeakedCount; }

std::int64_t D3D9GetRenderStateSetCount(D3DRENDERSTATETYPE state) {
  return state < D3D9RenderStateCount ? Controls().renderStateSets[state] : 0;
}

std::int64_t D3D9GetSamplerStateSetCount(DWORD sampler, D3DSAMPLERSTATETYPE type) {
  if (sampler >= D3D9SamplerCount || type >= D3D9SamplerStateCount) return 0;
  return Controls().samplerStateSets[sampler][type];
}

std::int64_t D3D9GetTextureStageStateSetCount(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
  if (stage >= D3D9TextureStageCount || type >= D3D9TextureStageStateCount) return 0;
  return Controls().stageStateSets[stage][type];
}

std::int64_t D3D9GetCallCount(D3D9Counter counter) {
  if (counter >= D3D9Counter::Count) return 0;
  return Controls().calls[static_cast<int>(counter)];
}

bool D3D9GetLastPresentedImage(D3D9Image* image) {
  if (!image || !Controls().presented) return false;
  return GetWindowPresentedImage(Controls().lastPresentWindow, &image->width, &image->height,
                                 &image->pixels);
}

void D3D9SetPresentObserver(void (*observer)()) { Controls().presentObserver = observer; }
