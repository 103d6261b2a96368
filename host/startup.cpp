// The engine's frame: InitializeEngine, ProcessWindowMessages and ShutdownEngine, the start-up
// sequence that starts every subsystem in a fixed order and the shutdown sequence that ends them,
// the fatal exit, the system layer's state blocks, and the platform modules looked up by name.
#include <array>
#include <cstring>
#include <span>

#include "files/archive_file.h"
#include "files/color_format.h"
#include "files/file_table.h"
#include "graphics/graphics_inner.h"
#include "graphics/graphics_public.h"
#include "graphics/screen_log.h"
#include "graphics/screen_mode.h"
#include "host/host.h"
#include "host/input.h"
#include "host/network.h"
#include "host/system_state.h"
#include "host/text_input.h"
#include "host/window_system.h"
#include "media/movie.h"
#include "media/sound_system.h"
#include "platform/com/com.h"
#include "platform/win32/gdi.h"
#include "platform/win32/kernel.h"
#include "system/call_lock.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/random.h"
#include "system/system.h"
#include "system/system_info.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

PreInitSettings preInitSettings;
SystemState systemState;
char initialDirectory[MAX_PATH];
// Set while the shutdown core runs, so that a fatal exit from inside it does not run it again.
bool shutdownCoreRunning = false;

constexpr const char* kWs2Entries[] = {"WSAGetLastError",
                                       "WSAStartup",
                                       "WSACleanup",
                                       "WSAAsyncSelect",
                                       "gethostbyaddr",
                                       "gethostbyname",
                                       "gethostname",
                                       "ntohs",
                                       "htons",
                                       "connect",
                                       "socket",
                                       "send",
                                       "sendto",
                                       "recvfrom",
                                       "accept",
                                       "closesocket",
                                       "shutdown",
                                       "listen",
                                       "bind",
                                       "inet_addr",
                                       "recv"};
constexpr const char* kImmEntries[] = {"ImmGetContext",
                                       "ImmReleaseContext",
                                       "ImmGetOpenStatus",
                                       "ImmGetConversionStatus",
                                       "ImmNotifyIME",
                                       "ImmSetOpenStatus",
                                       "ImmGetCandidateListA",
                                       "ImmGetCompositionStringA",
                                       "ImmSetCompositionStringA"};
constexpr const char* kWinmmEntries[] = {"timeSetEvent",  "timeKillEvent",  "timeBeginPeriod",
                                         "timeEndPeriod", "timeGetTime",    "timeGetDevCaps",
                                         "joyGetPosEx",   "joyGetDevCapsA", "mciSendCommandA"};
constexpr const char* kOle32Entries[] = {"CoCreateInstance",      "CoTaskMemAlloc",
                                         "CoTaskMemFree",         "CoInitialize",
                                         "CoFreeUnusedLibraries", "CoUninitialize"};
constexpr const char* kComctlEntries[] = {"InitCommonControls"};
constexpr const char* kDwmEntries[] = {"DwmEnableComposition"};
constexpr const char* kUser32Entries[] = {"WINNLSEnableIME"};

struct EngineModule {
  const char* name;
  std::span<const char* const> entryNames;
  HMODULE handle;
  std::array<FARPROC, 21> entries;
};

enum ModuleIndex { kWs2, kImm, kWinmm, kOle32, kComctl, kDwm, kUser32, kModuleCount };

EngineModule modules[kModuleCount] = {
    {"ws2_32.dll", kWs2Entries, nullptr, {}},      {"Imm32.dll", kImmEntries, nullptr, {}},
    {"winmm.dll", kWinmmEntries, nullptr, {}},     {"ole32.dll", kOle32Entries, nullptr, {}},
    {"comctl32.dll", kComctlEntries, nullptr, {}}, {"dwmapi.dll", kDwmEntries, nullptr, {}},
    {"User32.dll", kUser32Entries, nullptr, {}},
};

void LoadEngineModule(EngineModule& module) {
  if (module.handle) return;
  module.handle = LoadLibraryA(module.name);
  if (!module.handle) return;
  for (std::size_t i = 0; i < module.entryNames.size(); ++i)
    module.entries[i] = GetProcAddress(module.handle, module.entryNames[i]);
}

void ReleaseEngineModule(EngineModule& module) {
  if (!module.handle) return;
  FreeLibrary(module.handle);
  module.handle = nullptr;
  module.entries.fill(nullptr);
}

const EngineSubsystemCalls kDefaultCalls = {
    InitializeInputDevices, ShutdownInputDevices, StartSoundSystem,   EndSoundSystem,
    StartGraphicsSystem,    EndGraphicsSystem,    StartModelSystem,   EndModelSystem,
    ShutdownNetWork,        ReleasePendingMusic,  InitializeKeyInput,
};
EngineSubsystemCalls calls = kDefaultCalls;

// Clears the initialising flag on every return of the start-up core.
struct InitialisingMark {
  InitialisingMark() { preInitSettings.initialising = 1; }
  ~InitialisingMark() { preInitSettings.initialising = 0; }
};

// A full-screen size that no display mode offers runs in a window.
void CheckFullScreenRequest() {
  if (preInitSettings.windowMode != 0) return;
  int width, height;
  GetScreenModeSize(&width, &height);
  bool found = false;
  int count = GetDisplayModeCount();
  for (int i = 0; i < count && !found; ++i) {
    int modeWidth = 0, modeHeight = 0, bits = 0;
    GetDisplayModeAt(i, &modeWidth, &modeHeight, &bits);
    found = modeWidth == width && modeHeight == height;
  }
  bool small = width == 320 && height == 240;
  if (!found && !(small && !GetSoftwareRenderingSetting())) ChangeWindowMode(1);
  if (small && preInitSettings.windowMode == 0) {
    SetScreen320x240Emulation(1);
    SetScreenModeSize(640, 480);
  }
}

bool EqualIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
    char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

int DesktopBits() {
  HDC screen = GetDC(nullptr);
  int bits = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return bits;
}

std::uint32_t WindowBackgroundColor() {
  if (!preInitSettings.backgroundSet) return 0;
  return (static_cast<std::uint32_t>(preInitSettings.backgroundRed & 0xFF) << 16) |
         (static_cast<std::uint32_t>(preInitSettings.backgroundGreen & 0xFF) << 8) |
         static_cast<std::uint32_t>(preInitSettings.backgroundBlue & 0xFF);
}

int RestartInputDevices() {
  calls.shutdownInputDevices();
  calls.initializeInputDevices();
  return 0;
}

// Graphics and media ask their questions of the host from the moment it is linked in: the settings
// made before the start must already reach them.
[[maybe_unused]] const bool hostCallTableFilled = [] {
  hostCallTable = HostCallTable{
      IsEngineRunning,
      IsEngineInitialising,
      IsQuitRequested,
      IsWindowActive,
      IsWindowedMode,
      GetRunWhileInactive,
      [] { return preInitSettings.noGraphics; },
      GetEngineWindowHandle,
      GetWindowScaleFactors,
      GetDesktopSizeAndBits,
      WindowBackgroundColor,
      GetEngineModuleEntry,
      ApplyWindowStyle,
      EnableDesktopComposition,
      PumpWindowMessages,
      WaitWhileWindowInactive,
      RestartInputDevices,
      ShutdownEngineCore,
      [] { return static_cast<int>(systemState.windowDestroyed); },
      [] { return static_cast<int>(preInitSettings.layeredWindow); },
      PresentToLayeredWindow,
      GetClientScreenRect,
  };
  return true;
}();

// Ends every subsystem, whether the engine runs or its start failed part way.
int EndEngineSubsystems();

}  // namespace

PreInitSettings& EngineSettings() { return preInitSettings; }
SystemState& EngineState() { return systemState; }

EngineSubsystemCalls& GetEngineSubsystemCalls() { return calls; }
void ResetEngineSubsystemCalls() { calls = kDefaultCalls; }

FARPROC GetEngineModuleEntry(const char* module, const char* entry) {
  if (!module || !entry) return nullptr;
  for (auto& m : modules) {
    if (!m.handle || !EqualIgnoringCase(m.name, module)) continue;
    for (std::size_t i = 0; i < m.entryNames.size(); ++i)
      if (std::strcmp(m.entryNames[i], entry) == 0) return m.entries[i];
  }
  return nullptr;
}

int InitializeEngine() {
  if (systemState.running) return 0;
  AcquireEngineCallLock();
  int result = InitializeEngineCore();
  ReleaseEngineCallLock();
  return result;
}

int ShutdownEngine() {
  if (!systemState.running) return 0;
  AcquireEngineCallLock();
  int result = ShutdownEngineCore();
  ReleaseEngineCallLock();
  CloseEngineCallLock();
  return result;
}

int ProcessWindowMessages() {
  AcquireEngineCallLock();
  int result = PumpWindowMessages();
  ReleaseEngineCallLock();
  return result;
}

int InitializeEngineCore() {
  if (systemState.running) return 0;
  InitialisingMark mark;
  for (int index : {kWs2, kImm, kWinmm, kOle32, kComctl}) LoadEngineModule(modules[index]);
  CheckFullScreenRequest();

  BuildYuvToRgbTables();
  FlushArchiveCache();
  SelectFileFunctions(nullptr);
  fileFunctionTable.getDir(initialDirectory);
  if (GetLogDirectory()[0] == '\0') SetLogDirectory(initialDirectory);
  InitializeLogFile();

  if (!preInitSettings.noWindow && ((DesktopBits() == 24 && preInitSettings.windowMode == 1) ||
                                    GetScreenColorBitDepth() == 24)) {
    LogWriteText("ＫＶライブラリは２４ビットカラーモードに対応していません\n");
    return -1;
  }
  SetTimerSourceFromFrequency();
  DetectSystemInformation();
  ResetStreamOps();
  LoadEngineModule(modules[kDwm]);
  LoadEngineModule(modules[kUser32]);
  preInitSettings.dwmEnableComposition = modules[kDwm].entries[0];
  preInitSettings.winnlsEnableIme = modules[kUser32].entries[0];
  SetGraphReloadCallback(nullptr);

  if (!preInitSettings.comInitialised) {
    LogWriteText("ＣＯＭの初期化... ");
    auto coInitialize = reinterpret_cast<HRESULT (*)(LPVOID)>(modules[kOle32].entries[3]);
    if (!coInitialize || coInitialize(nullptr) < 0) {
      LogWriteText("ＣＯＭの初期化に失敗しました\n");
    } else {
      LogWriteText("成功しました\n");
      preInitSettings.comInitialised = 1;
    }
  }

  // A failed start ends what it started, as a normal end does: the sound output above all, whose
  // thread would otherwise run on into the program's exit.
  if (InitializeWindowSystem() == -1 ||
      (!preInitSettings.noInput && calls.initializeInputDevices() == -1)) {
    EndEngineSubsystems();
    return -1;
  }
  if (!preInitSettings.noSound) calls.startSoundSystem();
  if (!preInitSettings.noGraphics && calls.startGraphicsSystem() < 0) {
    EndEngineSubsystems();
    return -1;
  }
  calls.initializeKeyInput();
  systemState.running = 1;
  if (preInitSettings.windowMode == 0 && !preInitSettings.userWindow)
    ForceWindowForeground(preInitSettings.mainWindow, 1);
  InitializeScreenLog();
  SetDrawTarget(-2);
  SetDrawTarget(-4);
  if (!preInitSettings.noGraphics) calls.startModelSystem();
  return 0;
}

int InitializeWindowSystem() {
  systemState = SystemState{};
  if (HMODULE user32 = LoadLibraryA("user32")) {
    preInitSettings.updateLayeredWindow = GetProcAddress(user32, "UpdateLayeredWindow");
    FreeLibrary(user32);
  }
  if (preInitSettings.className[0] == '\0')
    std::strcpy(preInitSettings.className,
                preInitSettings.windowTitle[0] ? preInitSettings.windowTitle : "K640351V");
  systemState.instance = GetModuleHandleA(nullptr);
  systemState.mainThreadId = GetCurrentThreadId();
  ReportMemoryStatus();
  systemState.desktopWidth = GetSystemMetrics(SM_CXSCREEN);
  systemState.desktopHeight = GetSystemMetrics(SM_CYSCREEN);
  systemState.desktopBits = DesktopBits();
  GetScreenModeSize(&systemState.screenWidth, &systemState.screenHeight);
  ChooseTimerSource();
  SeedRandomGenerator(static_cast<std::uint32_t>(GetMillisecondCount()));
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDWININICHANGE);
  if (GetCodePageKind() == 0) SetCodePageKindFromCodePage(GetOEMCP());
  if (preInitSettings.noWindow) return 0;
  return CreateEngineWindow() == -1 ? -1 : 0;
}

int ShutdownEngineCore() {
  if (!systemState.running) return 0;
  return EndEngineSubsystems();
}

namespace {

int EndEngineSubsystems() {
  if (shutdownCoreRunning) return 0;
  shutdownCoreRunning = true;
  systemState.ending = 1;
  ReleaseScreenLogFont();
  calls.shutdownNetWork();
  calls.releasePendingMusic();
  calls.endModelSystem();
  calls.endGraphicsSystem();
  calls.shutdownInputDevices();
  calls.endSoundSystem();
  DestroyEngineWindow();
  if (preInitSettings.comInitialised) {
    if (auto coUninitialize = reinterpret_cast<void (*)()>(modules[kOle32].entries[5]))
      coUninitialize();
    LogWriteText("ＣＯＭを終了... 完了\n");
    preInitSettings.comInitialised = 0;
  }
  ShutdownStandardImageHandles();
  systemState.running = 0;
  if (!preInitSettings.noWindow) {
    // Bounded, as every wait of the end is: a window that will not go cannot hold the program.
    for (int pass = 0; pass < 1000 && !systemState.quit && !systemState.windowDestroyed; ++pass) {
      if (PumpWindowMessages() != 0) break;
      Sleep(1);
    }
  }
  UnregisterClassA(preInitSettings.className, systemState.instance);
  for (int tries = 0; tries < 10 && preInitSettings.mainWindow &&
                      FindWindowA(preInitSettings.className, nullptr) == preInitSettings.mainWindow;
       ++tries) {
    DestroyWindow(preInitSettings.mainWindow);
    Sleep(100);
  }
  if (!preInitSettings.userWindow) preInitSettings.mainWindow = nullptr;
  fileFunctionTable.changeDir(initialDirectory);
  FlushArchiveCache();
  DumpTrackedBlocks();
  for (int index : {kDwm, kUser32, kWs2, kImm, kWinmm, kOle32, kComctl})
    ReleaseEngineModule(modules[index]);
  preInitSettings.dwmEnableComposition = nullptr;
  preInitSettings.winnlsEnableIme = nullptr;
  shutdownCoreRunning = false;
  return 0;
}

}  // namespace
