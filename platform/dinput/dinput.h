// DirectInput 7 and 8 as the engine calls them: the DirectInput object, keyboard, mouse and
// joystick devices, and force-feedback effects, over SDL2. The keyboard reads the user part's
// key-state table, so injected and real keys count alike; SDL scan codes become DirectInput key
// codes by their position on the keyboard, whatever its layout.
#pragma once

#include <cstdint>

#include "platform/com/com.h"

constexpr HRESULT DI_OK = S_OK;
constexpr HRESULT DI_POLLEDDEVICE = 2;
constexpr HRESULT DIERR_GENERIC = E_FAIL;
constexpr HRESULT DIERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DIERR_NOTINITIALIZED = static_cast<HRESULT>(0x80070015u);
constexpr HRESULT DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000Cu);
constexpr HRESULT DIERR_ACQUIRED = static_cast<HRESULT>(0x800700AAu);
constexpr HRESULT DIERR_DEVICENOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT DIERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DIERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DIERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x800704DFu);

constexpr DWORD DISCL_EXCLUSIVE = 0x1;
constexpr DWORD DISCL_NONEXCLUSIVE = 0x2;
constexpr DWORD DISCL_FOREGROUND = 0x4;
constexpr DWORD DISCL_BACKGROUND = 0x8;

constexpr DWORD DIDEVTYPE_JOYSTICK = 4;
constexpr DWORD DIEDFL_ATTACHEDONLY = 0x1;
constexpr BOOL DIENUM_STOP = 0;
constexpr BOOL DIENUM_CONTINUE = 1;

constexpr DWORD DIPH_DEVICE = 0;
constexpr DWORD DIPH_BYOFFSET = 1;
constexpr DWORD DIJOFS_X = 0;
constexpr DWORD DIJOFS_Y = 4;
constexpr DWORD DIJOFS_Z = 8;
constexpr DWORD DIJOFS_RX = 12;
constexpr DWORD DIJOFS_RY = 16;
constexpr DWORD DIJOFS_RZ = 20;

constexpr DWORD DIEFF_OBJECTOFFSETS = 0x2;
constexpr DWORD DIEFF_CARTESIAN = 0x10;
constexpr DWORD DI_FFNOMINALMAX = 10000;

// Property identifiers are small numbers in the place of a GUID pointer; they are compared,
// never read through.
inline const GUID* const DIPROP_BUFFERSIZE = reinterpret_cast<const GUID*>(1);
inline const GUID* const DIPROP_RANGE = reinterpret_cast<const GUID*>(4);
inline const GUID* const DIPROP_DEADZONE = reinterpret_cast<const GUID*>(5);

struct DIPROPHEADER {
  DWORD dwSize;
  DWORD dwHeaderSize;
  DWORD dwObj;
  DWORD dwHow;
};
struct DIPROPDWORD {
  DIPROPHEADER diph;
  DWORD dwData;
};
struct DIPROPRANGE {
  DIPROPHEADER diph;
  LONG lMin;
  LONG lMax;
};

// A data format: the layer tells the three formats apart by their data size.
struct DIDATAFORMAT {
  DWORD dwSize;
  DWORD dwObjSize;
  DWORD dwFlags;
  DWORD dwDataSize;
  DWORD dwNumObjs;
  const void* rgodf;
};
extern const DIDATAFORMAT c_dfDIKeyboard;
extern const DIDATAFORMAT c_dfDIMouse;
extern const DIDATAFORMAT c_dfDIJoystick;

struct DIMOUSESTATE {
  LONG lX, lY, lZ;
  BYTE rgbButtons[4];
};
struct DIJOYSTATE {
  LONG lX, lY, lZ;
  LONG lRx, lRy, lRz;
  LONG rglSlider[2];
  DWORD rgdwPOV[4];
  BYTE rgbButtons[32];
};

struct DIDEVICEINSTANCEA {
  DWORD dwSize;
  GUID guidInstance;
  GUID guidProduct;
  DWORD dwDevType;
  CHAR tszInstanceName[MAX_PATH];
  CHAR tszProductName[MAX_PATH];
  GUID guidFFDriver;
  WORD wUsagePage;
  WORD wUsage;
};
using LPDIENUMDEVICESCALLBACKA = BOOL (*)(const DIDEVICEINSTANCEA* instance, LPVOID context);

struct DIENVELOPE;
struct DIEFFECT {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwDuration;
  DWORD dwSamplePeriod;
  DWORD dwGain;
  DWORD dwTriggerButton;
  DWORD dwTriggerRepeatInterval;
  DWORD cAxes;
  DWORD* rgdwAxes;
  LONG* rglDirection;
  DIENVELOPE* lpEnvelope;
  DWORD cbTypeSpecificParams;
  LPVOID lpvTypeSpecificParams;
  DWORD dwStartDelay;
};
struct DICONSTANTFORCE {
  LONG lMagnitude;
};
struct DIPERIODIC {
  DWORD dwMagnitude;
  LONG lOffset;
  DWORD dwPhase;
  DWORD dwPeriod;
};

struct IDirectInputEffect : IUnknown {
  virtual HRESULT Start(DWORD iterations, DWORD flags) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unload() = 0;
};

// One interface serves the DirectInput 7 and 8 devices: the engine calls the same methods.
struct IDirectInputDeviceA : IUnknown {
  virtual HRESULT Acquire() = 0;
  virtual HRESULT Unacquire() = 0;
  virtual HRESULT GetDeviceState(DWORD size, LPVOID data) = 0;
  virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  virtual HRESULT SetProperty(const GUID* property, const DIPROPHEADER* header) = 0;
  virtual HRESULT SetEventNotification(HANDLE event) = 0;
  virtual HRESULT GetDeviceInfo(DIDEVICEINSTANCEA* instance) = 0;
  virtual HRESULT CreateEffect(REFGUID effect, const DIEFFECT* parameters,
                               IDirectInputEffect** created, IUnknown* outer) = 0;
};
using IDirectInputDevice7A = IDirectInputDeviceA;
using IDirectInputDevice8A = IDirectInputDeviceA;

// The DirectInput object: DirectInput 7 makes devices with CreateDeviceEx, 8 with CreateDevice.
struct IDirectInputA : IUnknown {
  virtual HRESULT Initialize(HINSTANCE instance, DWORD version) = 0;
  virtual HRESULT CreateDevice(REFGUID device, IDirectInputDeviceA** created, IUnknown* outer) = 0;
  virtual HRESULT CreateDeviceEx(REFGUID device, REFIID riid, LPVOID* created, IUnknown* outer) = 0;
  virtual HRESULT EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKA callback, LPVOID context,
                              DWORD flags) = 0;
};
using IDirectInput7A = IDirectInputA;
using IDirectInput8A = IDirectInputA;

inline constexpr CLSID CLSID_DirectInput = {
    0x25E609E0, 0xB259, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr CLSID CLSID_DirectInput8 = {
    0x25E609E4, 0xB259, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr IID IID_IDirectInput7A = {
    0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
inline constexpr IID IID_IDirectInput8A = {
    0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
inline constexpr IID IID_IDirectInputDevice7A = {
    0x57D7C6BC, 0x2356, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
inline constexpr IID IID_IDirectInputDevice8A = {
    0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
inline constexpr IID IID_IDirectInputEffect = {
    0xE7E1F7C0, 0x88D2, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
inline constexpr GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_Joystick = {
    0x6F1D2B70, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_ConstantForce = {
    0x13541C20, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
inline constexpr GUID GUID_Sine = {
    0x13541C23, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};

HRESULT CreateDirectInput7Instance(IUnknown* outer, REFIID riid, void** object);
HRESULT CreateDirectInput8Instance(IUnknown* outer, REFIID riid, void** object);

// The DirectInput key code of an SDL scan code (0 when the key has none).
BYTE GetDirectInputKeyCode(int sdlScancode);

// The layer's own controls, for tests.
enum DirectInputCall {
  DirectInputCallInitialize,
  DirectInputCallCreateDevice,
  DirectInputCallSetDataFormat,
  DirectInputCallSetCooperativeLevel,
  DirectInputCallSetProperty,
  DirectInputCallSetEventNotification,
  DirectInputCallAcquire,
  DirectInputCallGetDeviceState,
  DirectInputCallCreateEffect,
  DirectInputCallCount
};
// Lets `passes` more calls of the kind succeed, then fails the next one once; -1 cancels.
void FailDirectInputCall(DirectInputCall call, int passes);
// Calls of the kind made since the start of the process (failed ones included).
int CountDirectInputCalls(DirectInputCall call);
// Live DirectInput objects, devices and effects, and effects that are playing.
int CountDirectInputObjects();
int CountPlayingDirectInputEffects();
