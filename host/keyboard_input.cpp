// The keyboard: the 256 key states by DirectInput key code, refreshed once per frame from a
// DirectInput keyboard device or from the Windows key state, and the start and end of the input
// devices (DirectInput 7, else 8, else none).
#include <array>
#include <cstring>

#include "host/host.h"
#include "host/input.h"
#include "host/input_state.h"
#include "host/window_system.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"
#include "platform/winmm/joystick.h"
#include "system/call_lock.h"
#include "system/log.h"
#include "system/system.h"
#include "system/system_info.h"

namespace {

InputState input{};

struct KeyPair {
  std::uint8_t virtualKey;
  std::uint8_t code;
};

// Windows virtual keys to DirectInput key codes, applied in this order; Enter sets both codes.
constexpr KeyPair kWindowsKeyTable[] = {
    // letters
    {0x41, 0x1E},
    {0x42, 0x30},
    {0x43, 0x2E},
    {0x44, 0x20},
    {0x45, 0x12},
    {0x46, 0x21},
    {0x47, 0x22},
    {0x48, 0x23},
    {0x49, 0x17},
    {0x4A, 0x24},
    {0x4B, 0x25},
    {0x4C, 0x26},
    {0x4D, 0x32},
    {0x4E, 0x31},
    {0x4F, 0x18},
    {0x50, 0x19},
    {0x51, 0x10},
    {0x52, 0x13},
    {0x53, 0x1F},
    {0x54, 0x14},
    {0x55, 0x16},
    {0x56, 0x2F},
    {0x57, 0x11},
    {0x58, 0x2D},
    {0x59, 0x15},
    {0x5A, 0x2C},
    // digits
    {0x30, 0x0B},
    {0x31, 0x02},
    {0x32, 0x03},
    {0x33, 0x04},
    {0x34, 0x05},
    {0x35, 0x06},
    {0x36, 0x07},
    {0x37, 0x08},
    {0x38, 0x09},
    {0x39, 0x0A},
    // arrows
    {0x25, 0xCB},
    {0x26, 0xC8},
    {0x27, 0xCD},
    {0x28, 0xD0},
    // punctuation
    {0xBB, 0x27},
    {0xBA, 0x92},
    {0xDB, 0x1A},
    {0xDD, 0x1B},
    {0xC0, 0x91},
    {0xE2, 0x2B},
    {0xBC, 0x33},
    {0xBD, 0x0C},
    {0xDC, 0x7D},
    {0xBE, 0x34},
    {0xBF, 0x35},
    // editing
    {0x2E, 0xD3},
    {0x1B, 0x01},
    {0x20, 0x39},
    {0x08, 0x0E},
    {0x09, 0x0F},
    {0x0D, 0x1C},
    // numeric pad
    {0x60, 0x52},
    {0x61, 0x4F},
    {0x62, 0x50},
    {0x63, 0x51},
    {0x64, 0x4B},
    {0x65, 0x4C},
    {0x66, 0x4D},
    {0x67, 0x47},
    {0x68, 0x48},
    {0x69, 0x49},
    {0x6A, 0x37},
    {0x6B, 0x4E},
    {0x6D, 0x4A},
    {0x6E, 0x53},
    {0x6F, 0xB5},
    {0x0D, 0x9C},
    // modifiers and navigation
    {0xA0, 0x2A},
    {0xA1, 0x36},
    {0xA2, 0x1D},
    {0xA3, 0x9D},
    {0x21, 0xC9},
    {0x22, 0xD1},
    {0x23, 0xCF},
    {0x24, 0xC7},
    {0x2D, 0xD2},
    {0xA4, 0x38},
    {0xA5, 0xB8},
    {0x91, 0x46},
    {0x14, 0x3A},
    {0x13, 0xC5},
    // function keys
    {0x70, 0x3B},
    {0x71, 0x3C},
    {0x72, 0x3D},
    {0x73, 0x3E},
    {0x74, 0x3F},
    {0x75, 0x40},
    {0x76, 0x41},
    {0x77, 0x42},
    {0x78, 0x43},
    {0x79, 0x44},
    {0x7A, 0x57},
    {0x7B, 0x58},
};
static_assert(std::size(kWindowsKeyTable) == 99);

// Clears a flag of the state on every way out of a scope.
struct FlagScope {
  explicit FlagScope(std::int32_t& flag) : flag_(flag) { flag_ = 1; }
  ~FlagScope() { flag_ = 0; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;
  std::int32_t& flag_;
};

void LogHexCode(HRESULT result) {
  char line[64];
  FormatText(line, sizeof line, "エラーコード 0x%x\n", static_cast<unsigned>(result));
  LogWriteText(line);
}

bool IsSignalled(HANDLE event) {
  return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Creates a device of the DirectInput object in the form its version offers.
HRESULT CreateInputDevice(REFGUID guid, IDirectInputDeviceA** device) {
  *device = nullptr;
  if (input.isDirectInput8) return input.directInput->CreateDevice(guid, device, nullptr);
  return input.directInput->CreateDeviceEx(guid, IID_IDirectInputDevice7A,
                                           reinterpret_cast<void**>(device), nullptr);
}

void ReleaseDevice(IDirectInputDeviceA*& device) {
  if (device == nullptr) return;
  device->Unacquire();
  device->Release();
  device = nullptr;
}

// Gives up a half-made start: devices, event and object, so that a later start begins clean.
void AbandonDirectInput() {
  ReleaseJoypads();
  ReleaseDevice(input.keyboard);
  if (input.keyboardEvent != nullptr) CloseHandle(input.keyboardEvent);
  input.keyboardEvent = nullptr;
  ReleaseDevice(input.mouse);
  if (input.directInput != nullptr) input.directInput->Release();
  input.directInput = nullptr;
}

[[noreturn]] void FailDevice(IDirectInputDeviceA*& device, const char* message) {
  ReleaseDevice(device);
  FatalErrorExit(message);
}

// Tries one DirectInput version; 0 with the object made and initialised.
int CreateDirectInput(const CLSID& clsid, const IID& iid, DWORD version,
                      const char* failedCreation) {
  IDirectInputA* object = nullptr;
  const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                           reinterpret_cast<void**>(&object));
  if (FAILED(created) || object == nullptr) {
    LogWriteText(failedCreation);
    LogHexCode(created);
    return -1;
  }
  LogWriteText("成功\n");
  IncreaseLogIndent();
  LogWriteText("引き続き初期化処理... ");
  if (FAILED(object->Initialize(GetEngineModuleInstance(), version))) {
    LogWriteText("初期化に失敗。");
    DecreaseLogIndent();
    object->Release();
    return -1;
  }
  LogWriteText("初期化成功\n");
  input.directInput = object;
  return 0;
}

void SetUpMouse() {
  LogWriteText("マウスデバイスの初期化... ");
  if (FAILED(CreateInputDevice(GUID_SysMouse, &input.mouse)))
    FailDevice(input.mouse, "マウスデバイスの取得に失敗しました");
  if (FAILED(input.mouse->SetDataFormat(&c_dfDIMouse)))
    FailDevice(input.mouse, "マウスデバイスのデータ形式の設定に失敗しました");
  if (FAILED(input.mouse->SetCooperativeLevel(GetEngineWindowHandle(),
                                              DISCL_NONEXCLUSIVE | DISCL_BACKGROUND)))
    FailDevice(input.mouse, "マウスデバイスの協調レベルの設定に失敗しました");
  LogWriteText("初期化成功\n");
}

// -1 when the keyboard's notification cannot be set up.
int SetUpKeyboard() {
  LogWriteText("キーボードデバイスの初期化... ");
  if (FAILED(CreateInputDevice(GUID_SysKeyboard, &input.keyboard)))
    FailDevice(input.keyboard, "キーボードデバイスの取得に失敗しました");
  if (FAILED(input.keyboard->SetDataFormat(&c_dfDIKeyboard)))
    FailDevice(input.keyboard, "キーボードデバイスのデータ形式の設定に失敗しました");
  if (FAILED(input.keyboard->SetCooperativeLevel(GetEngineWindowHandle(),
                                                 DISCL_NONEXCLUSIVE | DISCL_BACKGROUND)))
    FailDevice(input.keyboard, "キーボードデバイスの協調レベルの設定に失敗しました");
  DIPROPDWORD bufferSize{{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 100};
  if (FAILED(input.keyboard->SetProperty(DIPROP_BUFFERSIZE, &bufferSize.diph)))
    LogWriteText("キーボードのプロパティ設定に失敗しました\n");
  input.keyboardEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HRESULT notified = input.keyboard->SetEventNotification(input.keyboardEvent);
  if (notified != DI_OK && notified != DI_POLLEDDEVICE) {
    LogWriteText("キーボードイベントのセットアップが失敗しました\n");
    return -1;
  }
  if (FAILED(input.keyboard->Acquire())) input.keyboard->Acquire();
  LogWriteText("初期化成功\n");
  input.lastRefresh = timeGetTime();
  return 0;
}

using JoystickCapsFunction = MMRESULT (*)(UINT_PTR, LPJOYCAPSA, UINT);

int CountJoysticksWithoutDirectInput() {
  auto capsOf =
      reinterpret_cast<JoystickCapsFunction>(GetEngineModuleEntry("winmm.dll", "joyGetDevCapsA"));
  HMODULE module = nullptr;
  if (capsOf == nullptr) {
    module = LoadLibraryA("winmm.dll");
    if (module != nullptr)
      capsOf = reinterpret_cast<JoystickCapsFunction>(GetProcAddress(module, "joyGetDevCapsA"));
  }
  int count = 0;
  for (UINT id = 0; capsOf != nullptr && id < kMaxJoypads; ++id) {
    JOYCAPSA caps{};
    if (capsOf(id, &caps, sizeof caps) != JOYERR_NOERROR) break;
    if ((caps.wCaps & 3) == 3) ++count;
  }
  if (module != nullptr) FreeLibrary(module);
  return count;
}

void SetDefaultPadKeyMap() {
  input.padKeyMapReady = 1;
  for (auto& pad : input.padKeyMap)
    for (auto& entry : pad) entry[0] = entry[1] = -1;
  constexpr std::int32_t kDefaults[14][2] = {
      {0x50, 0xD0}, {0x4B, 0xCB}, {0x4D, 0xCD}, {0x48, 0xC8}, {0x2C, -1}, {0x2D, -1}, {0x2E, -1},
      {0x1E, -1},   {0x1F, -1},   {0x20, -1},   {0x10, -1},   {0x11, -1}, {0x01, -1}, {0x39, -1}};
  for (int i = 0; i < 14; ++i) {
    input.padKeyMap[0][i][0] = kDefaults[i][0];
    input.padKeyMap[0][i][1] = kDefaults[i][1];
  }
}

bool UsesDirectInputKeyboard() {
  return !input.settings.useWindowsKeyState && !input.settings.noKeyboardDevice &&
         input.keyboard != nullptr &&
         (input.settings.useDirectInputKeyboardOnVista || OsVersionCode() < 0x108);
}

}  // namespace

InputState& GetInputState() { return input; }

bool IsInputStarted() { return input.directInput != nullptr || input.withoutDirectInput; }

int SetInputDeviceSettings(int useWindowsKeyState, int useDirectInputKeyboardOnVista,
                           int noForceFeedback, int noKeyboardDevice) {
  input.settings = InputSettings{useWindowsKeyState, useDirectInputKeyboardOnVista, noForceFeedback,
                                 noKeyboardDevice};
  return 0;
}

namespace {

void NoteKeysReadDown() {
  for (int i = 0; i < 256; ++i) input.downSinceTaken[i] |= input.keyStates[i] & 0x80;
}

// The pump refreshes the states before the program reads them, and the program's read may
// refresh them again: a key tapped before the pump's refresh reads down there and up again in
// the program's. A key that went down since the program last took it is reported down once; one
// the program already saw down and that is up now was simply released.
BYTE TakeKeyState(int code) {
  const bool pressed = (input.downSinceTaken[code] & 0x80) && !(input.takenStates[code] & 0x80);
  input.takenStates[code] = ((input.keyStates[code] & 0x80) || pressed) ? 0x80 : 0;
  input.downSinceTaken[code] = 0;
  return input.takenStates[code];
}

}  // namespace

int RefreshKeyboardState() {
  if (input.busy) return 0;
  FlagScope busy(input.busy);
  if (UsesDirectInputKeyboard()) {
    if (timeGetTime() == input.lastRefresh && !IsSignalled(input.keyboardEvent)) return 0;
    if (PumpWindowMessages() != 0 || !IsInputStarted() || input.keyboard == nullptr) return 0;
    if (FAILED(input.keyboard->GetDeviceState(256, input.keyStates))) {
      input.keyboard->Acquire();
      if (FAILED(input.keyboard->GetDeviceState(256, input.keyStates))) return 0;
    }
    input.lastRefresh = timeGetTime();
    if (IsSignalled(input.keyboardEvent)) ResetEvent(input.keyboardEvent);
    BYTE windowsStates[256];
    GetKeyboardState(windowsStates);
    input.keyStates[0x36] = windowsStates[0xA1];
    NoteKeysReadDown();
    return 1;
  }
  if (!IsEngineCallLockHeldByCaller()) return 0;
  const DWORD now = timeGetTime();
  if (now == input.lastRefresh) return 0;
  if (PumpWindowMessages() != 0) return 0;
  BYTE windowsStates[256];
  GetKeyboardState(windowsStates);
  std::memset(input.keyStates, 0, sizeof input.keyStates);
  for (const KeyPair& pair : kWindowsKeyTable)
    input.keyStates[pair.code] = windowsStates[pair.virtualKey];
  input.lastRefresh = now;
  NoteKeysReadDown();
  return 1;
}

int InitializeInputDevices() {
  if (IsInputStarted() || input.starting) return 0;
  const InputSettings settings = input.settings;
  std::int32_t padKeyMap[kMaxJoypads][kPadInputs][4];
  std::memcpy(padKeyMap, input.padKeyMap, sizeof padKeyMap);
  const std::int32_t padKeyMapReady = input.padKeyMapReady;
  input = InputState{};
  input.settings = settings;
  std::memcpy(input.padKeyMap, padKeyMap, sizeof padKeyMap);
  input.padKeyMapReady = padKeyMapReady;
  FlagScope starting(input.starting);

  if (!input.settings.useWindowsKeyState) {
    LogWriteText("DirectInput関係初期化処理\n");
    IncreaseLogIndent();
    LogWriteText("DirectInput7 の取得中... ");
    if (CreateDirectInput(CLSID_DirectInput, IID_IDirectInput7A, 0x700, "取得に失敗。\n") != 0) {
      LogWriteText("DirectInput8 の取得を試みます...");
      if (CreateDirectInput(CLSID_DirectInput8, IID_IDirectInput8A, 0x800, "取得に失敗。") == 0) {
        input.isDirectInput8 = 1;
      } else {
        LogWriteText("DirectInput を使用しません。\n");
        DecreaseLogIndent();
        input.settings.useWindowsKeyState = 1;
      }
    }
  }

  if (!input.settings.useWindowsKeyState) {
    DecreaseLogIndent();
    BringWindowToTop(GetEngineWindowHandle());
    PumpWindowMessages();
    EnumerateJoypads();
    SetUpMouse();
    if (!input.settings.noKeyboardDevice && SetUpKeyboard() != 0) {
      DecreaseLogIndent();
      AbandonDirectInput();
      return -1;
    }
    DecreaseLogIndent();
    LogWriteText("DirectInput 関連の初期化は正常に終了しました\n");
  } else {
    IncreaseLogIndent();
    input.joypadCount = CountJoysticksWithoutDirectInput();
    char line[64];
    FormatText(line, sizeof line, "パッドの数は %d 個です\n", input.joypadCount);
    LogWriteText(line);
    DecreaseLogIndent();
    input.withoutDirectInput = 1;
    LogWriteText("入力関連の初期化をしました\n");
  }
  if (!input.padKeyMapReady) SetDefaultPadKeyMap();
  return 0;
}

int ShutdownInputDevices() {
  if (!IsInputStarted()) return 0;
  if (input.withoutDirectInput) {
    LogWriteText("入力関連の終了処理... 完了\n");
    input.withoutDirectInput = 0;
    return 0;
  }
  LogWriteText("DirectInput 関連の終了処理... 完了\n");
  AbandonDirectInput();
  return 0;
}

int ReacquireInputDevices() {
  if (!IsInputStarted() || input.withoutDirectInput) return 0;
  const DWORD level =
      IsWindowActive() ? DISCL_EXCLUSIVE | DISCL_FOREGROUND : DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
  for (int i = 0; i < input.joypadCount; ++i) {
    IDirectInputDeviceA* device = input.joypads[i].device;
    if (device == nullptr) continue;
    device->Unacquire();
    device->SetCooperativeLevel(GetEngineWindowHandle(), level);
    device->Acquire();
  }
  if (input.keyboard != nullptr) {
    input.keyboard->Unacquire();
    input.keyboard->Acquire();
  }
  return 0;
}

// The caller's buffer is filled on every way out (with zeros when nothing was read), since the
// game reads it whatever the result.
int GetAllKeyStates(char* keyStates) {
  std::memset(keyStates, 0, 256);
  WaitWhileWindowInactive();
  if (!IsInputStarted()) {
    if (IsCloseRequested()) return 0;
    return InitializeInputDevices();
  }
  RefreshKeyboardState();
  for (int i = 0; i < 256; ++i) keyStates[i] = static_cast<char>(TakeKeyState(i) >> 7);
  return 0;
}

int IsKeyDown(int keyCode) {
  WaitWhileWindowInactive();
  if (!IsInputStarted()) {
    if (IsCloseRequested()) return 0;
    InitializeInputDevices();
  }
  RefreshKeyboardState();
  return TakeKeyState(keyCode & 0xFF) ? 1 : 0;
}
