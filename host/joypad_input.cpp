// Joypads: one DirectInput device per attached joystick with axis ranges, dead zones and two
// force-feedback effects, re-acquired and released with the other devices, and the timing of
// vibration (which nothing in this program requests).
#include <cstring>

#include "host/input.h"
#include "host/input_state.h"
#include "host/window_system.h"
#include "platform/win32/kernel.h"
#include "platform/winmm/winmm.h"
#include "system/log.h"

namespace {

constexpr DWORD kAxisOffsets[6] = {DIJOFS_X, DIJOFS_Y, DIJOFS_Z, DIJOFS_RX, DIJOFS_RY, DIJOFS_RZ};

HRESULT CreateJoypadDevice(InputState& input, REFGUID guid, IDirectInputDeviceA** device) {
  *device = nullptr;
  if (input.isDirectInput8) return input.directInput->CreateDevice(guid, device, nullptr);
  return input.directInput->CreateDeviceEx(guid, IID_IDirectInputDevice7A,
                                           reinterpret_cast<void**>(device), nullptr);
}

void SetAxes(IDirectInputDeviceA* device) {
  for (int i = 0; i < 6; ++i) {
    DIPROPRANGE range{
        {sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), kAxisOffsets[i], DIPH_BYOFFSET}, -1000, 1000};
    if (FAILED(device->SetProperty(DIPROP_RANGE, &range.diph))) {
      if (i == 0) LogWriteText("ジョイパッドデバイスのＸ軸関係の設定に失敗しました\n");
      if (i == 1) LogWriteText("ジョイパッドデバイスのＹ軸関係の設定に失敗しました\n");
    }
  }
  for (int i = 0; i < 6; ++i) {
    DIPROPDWORD zone{{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), kAxisOffsets[i], DIPH_BYOFFSET},
                     3500};
    if (FAILED(device->SetProperty(DIPROP_DEADZONE, &zone.diph))) {
      if (i == 0) LogWriteText("ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\n");
      if (i == 1) LogWriteText("ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました\n");
    }
  }
}

// Both effects are endless, at full gain, on the X and Y axes.
void CreateEffects(JoypadRecord& pad) {
  DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
  LONG direction[2] = {0, 0};
  DIPERIODIC periodic{DI_FFNOMINALMAX, 0, 0, 100000};
  DICONSTANTFORCE constant{static_cast<LONG>(DI_FFNOMINALMAX)};
  DIEFFECT effect{};
  effect.dwSize = sizeof effect;
  effect.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
  effect.dwDuration = INFINITE;
  effect.dwGain = DI_FFNOMINALMAX;
  effect.dwTriggerButton = 0xFFFFFFFF;
  effect.cAxes = 2;
  effect.rgdwAxes = axes;
  effect.rglDirection = direction;
  effect.cbTypeSpecificParams = sizeof periodic;
  effect.lpvTypeSpecificParams = &periodic;
  if (FAILED(pad.device->CreateEffect(GUID_Sine, &effect, &pad.periodicEffect, nullptr))) {
    pad.periodicEffect = nullptr;
    LogWriteText("周期的エフェクトの作成に失敗しました。\n");
  }
  effect.cbTypeSpecificParams = sizeof constant;
  effect.lpvTypeSpecificParams = &constant;
  if (FAILED(pad.device->CreateEffect(GUID_ConstantForce, &effect, &pad.constantEffect, nullptr)))
    pad.constantEffect = nullptr;
}

void ReleaseEffect(IDirectInputEffect*& effect) {
  if (effect == nullptr) return;
  effect->Stop();
  effect->Unload();
  effect->Release();
  effect = nullptr;
}

BOOL EnumJoypadCallback(const DIDEVICEINSTANCEA* instance, LPVOID) {
  InputState& input = GetInputState();
  if (input.joypadCount >= kMaxJoypads) return DIENUM_STOP;
  LogWriteText("入力装置を見つけました\n");
  JoypadRecord pad{};
  if (FAILED(CreateJoypadDevice(input, instance->guidInstance, &pad.device))) {
    LogWriteText("入力装置の取得に失敗しました\n");
    return DIENUM_CONTINUE;
  }
  DIDEVICEINSTANCEA info{};
  info.dwSize = sizeof info;
  pad.device->GetDeviceInfo(&info);
  std::memcpy(pad.instanceName, info.tszInstanceName, sizeof pad.instanceName);
  std::memcpy(pad.productName, info.tszProductName, sizeof pad.productName);
  pad.instanceName[sizeof pad.instanceName - 1] = '\0';
  pad.productName[sizeof pad.productName - 1] = '\0';
  LogPrintf("デバイスの登録名:%s", pad.instanceName);
  LogPrintf("デバイスの製品登録名:%s", pad.productName);
  if (FAILED(pad.device->SetDataFormat(&c_dfDIJoystick))) {
    LogWriteText("ジョイパッドデバイスではありませんでした、又は設定に失敗しました\n");
    pad.device->Release();
    return DIENUM_CONTINUE;
  }
  if (FAILED(pad.device->SetCooperativeLevel(GetEngineWindowHandle(),
                                             DISCL_EXCLUSIVE | DISCL_FOREGROUND)))
    LogWriteText("ジョイパッドデバイスの協調レベルの設定に失敗しました\n");
  SetAxes(pad.device);
  if (!input.settings.noForceFeedback) CreateEffects(pad);
  pad.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HRESULT notified = pad.device->SetEventNotification(pad.event);
  if (notified != DI_OK && notified != DI_POLLEDDEVICE)
    LogWriteText("ジョイパッドイベントのセットアップが失敗しました\n");
  pad.device->Acquire();
  pad.vibrationPower = DI_FFNOMINALMAX;
  input.joypads[input.joypadCount++] = pad;
  LogWriteText("ジョイパッドの追加は正常に終了しました\n");
  return input.joypadCount < kMaxJoypads ? DIENUM_CONTINUE : DIENUM_STOP;
}

bool RunsWithDirectInput() {
  const InputState& input = GetInputState();
  return input.directInput != nullptr && !input.withoutDirectInput;
}

}  // namespace

int EnumerateJoypads() {
  InputState& input = GetInputState();
  if (!IsInputStarted()) return -1;
  ReleaseJoypads();
  LogWriteText("ジョイパッドの初期化... \n");
  if (input.directInput != nullptr)
    input.directInput->EnumDevices(DIDEVTYPE_JOYSTICK, EnumJoypadCallback, nullptr,
                                   DIEDFL_ATTACHEDONLY);
  LogWriteText("ジョイパッドの初期化は正常に終了しました\n");
  return 0;
}

int ReleaseJoypads() {
  InputState& input = GetInputState();
  if (input.directInput == nullptr) return -1;
  for (int i = 0; i < input.joypadCount; ++i) {
    JoypadRecord& pad = input.joypads[i];
    if (pad.device != nullptr) {
      pad.device->Unacquire();
      pad.device->SetEventNotification(nullptr);
    }
    ReleaseEffect(pad.periodicEffect);
    ReleaseEffect(pad.constantEffect);
    if (pad.device != nullptr) pad.device->Release();
    if (pad.event != nullptr) CloseHandle(pad.event);
    pad = JoypadRecord{};
  }
  input.joypadCount = 0;
  return 0;
}

int ProcessJoypadEffects() {
  InputState& input = GetInputState();
  if (!RunsWithDirectInput()) return 0;
  const DWORD now = timeGetTime();
  for (int i = 0; i < input.joypadCount; ++i) {
    JoypadRecord& pad = input.joypads[i];
    if (pad.device == nullptr || !pad.vibrationRequest || pad.vibrationDuration < 0) continue;
    if (now == pad.vibrationLastUpdate) continue;
    if (now < pad.vibrationLastUpdate) pad.vibrationLastUpdate = now;
    pad.vibrationElapsed += static_cast<std::int32_t>(now - pad.vibrationLastUpdate);
    pad.vibrationLastUpdate = now;
    if (pad.vibrationElapsed >= pad.vibrationDuration) StopJoypadVibration(i + 1);
  }
  return UpdateJoypadEffects();
}

int StopJoypadVibration(int padNumber) {
  InputState& input = GetInputState();
  padNumber &= ~0x1000;
  WaitWhileWindowInactive();
  if (!IsInputStarted() && !IsCloseRequested()) InitializeInputDevices();
  const int index = padNumber - 1;
  if (index < 0 || index >= input.joypadCount) return 0;
  JoypadRecord& pad = input.joypads[index];
  if (pad.device == nullptr || pad.constantEffect == nullptr || !pad.vibrationRequest) return 0;
  pad.vibrationRequest = 0;
  pad.vibrationPower = DI_FFNOMINALMAX;
  UpdateJoypadEffects();
  return 0;
}

int UpdateJoypadEffects() {
  InputState& input = GetInputState();
  if (!RunsWithDirectInput()) return 0;
  const bool active = IsWindowActive() != 0;
  for (int i = 0; i < input.joypadCount; ++i) {
    JoypadRecord& pad = input.joypads[i];
    struct {
      IDirectInputEffect* effect;
      std::int32_t& running;
      bool wanted;
    } effects[2] = {{pad.constantEffect, pad.constantRunning, pad.vibrationRequest != 0},
                    {pad.periodicEffect, pad.periodicRunning,
                     pad.vibrationRequest != 0 && pad.vibrationPower > 5000}};
    for (auto& entry : effects) {
      if (entry.effect == nullptr) continue;
      const bool wanted = active && entry.wanted;
      if (wanted == (entry.running != 0)) continue;
      if (wanted) {
        entry.effect->Start(1, 0);
      } else {
        entry.effect->Stop();
      }
      entry.running = wanted ? 1 : 0;
    }
  }
  return 0;
}
