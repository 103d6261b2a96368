// What the DirectInput stand-in's sources share: device creation, the SDL joystick subsystem,
// and the test controls' counters.
#pragma once

#include "platform/dinput/dinput.h"

// True when a test asked this call to fail now; every call is counted.
bool ShouldFailDirectInputCall(DirectInputCall call);
void CountDirectInputObject(int change);

enum DirectInputDeviceKind { DirectInputKeyboard, DirectInputMouse, DirectInputJoystick };
// A joystick device is named by its instance GUID: GUID_Joystick with the SDL instance id in
// Data1.
HRESULT CreateDirectInputDevice(REFGUID device, IDirectInputDeviceA** created);
GUID MakeJoystickInstanceGuid(int sdlInstanceId);
