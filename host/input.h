// The keyboard and the input devices as the start-up, the shutdown, the window procedure and the
// message pump call them.
#pragma once

// -1 when a device the engine needs cannot be set up.
int InitializeInputDevices();
int ShutdownInputDevices();
int ReacquireInputDevices();
int UpdateJoypadEffects();
int RefreshKeyboardState();
int ProcessJoypadEffects();
// 1 while the key (a DirectInput key code) is down, else 0.
int IsKeyDown(int keyCode);
// The four input settings, kept across starts (all 0 in this program): use the Windows key state,
// use the DirectInput keyboard on Windows Vista and 7, no force feedback, no keyboard device.
int SetInputDeviceSettings(int useWindowsKeyState, int useDirectInputKeyboardOnVista,
                           int noForceFeedback, int noKeyboardDevice);
