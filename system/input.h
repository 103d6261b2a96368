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
