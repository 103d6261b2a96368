// The input state block that the keyboard and joypad sources share: the DirectInput object and
// devices, the KeyStateArray, the joypads and the PadKeyMapTable.
#pragma once

#include <cstdint>

#include "platform/dinput/dinput.h"

constexpr int kMaxJoypads = 16;
constexpr int kPadInputs = 32;

struct JoypadRecord {
  IDirectInputDeviceA* device;
  IDirectInputEffect* constantEffect;
  IDirectInputEffect* periodicEffect;
  HANDLE event;
  std::int32_t vibrationRequest;   // 1 = on
  std::int32_t vibrationPower;     // 0-10,000
  std::int32_t vibrationDuration;  // ms; negative = endless
  std::int32_t vibrationElapsed;
  DWORD vibrationLastUpdate;
  std::int32_t constantRunning;
  std::int32_t periodicRunning;
  char instanceName[260];
  char productName[260];
};

struct InputSettings {
  std::int32_t useWindowsKeyState;
  std::int32_t useDirectInputKeyboardOnVista;
  std::int32_t noForceFeedback;
  std::int32_t noKeyboardDevice;
};

struct InputState {
  InputSettings settings;
  // Each entry: four words, of which the first two are DirectInput key codes (-1 = none).
  std::int32_t padKeyMap[kMaxJoypads][kPadInputs][4];
  std::int32_t padKeyMapReady;

  IDirectInputA* directInput;
  std::int32_t withoutDirectInput;  // started on the Windows key state
  std::int32_t isDirectInput8;
  IDirectInputDeviceA* mouse;
  IDirectInputDeviceA* keyboard;
  HANDLE keyboardEvent;
  DWORD lastRefresh;
  std::uint8_t keyStates[256];  // the KeyStateArray, bit 7 while down
  // Bit 7: read down by a refresh since the program last took the key states, and what it took.
  std::uint8_t downSinceTaken[256];
  std::uint8_t takenStates[256];
  JoypadRecord joypads[kMaxJoypads];
  std::int32_t joypadCount;
  std::int32_t busy;
  std::int32_t starting;
};

InputState& GetInputState();
bool IsInputStarted();
int EnumerateJoypads();
int ReleaseJoypads();
int StopJoypadVibration(int padNumber);
