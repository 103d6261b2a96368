// The DirectInput stand-in: key codes by position, the keyboard device over the key-state table
// and its event, joysticks through SDL's virtual joysticks with rumble effects, and winmm's
// joystick capabilities.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>

#include "platform/dinput/dinput.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"
#include "platform/winmm/joystick.h"

namespace {

IDirectInputA* MakeDirectInput(int version) {
  IDirectInputA* input = nullptr;
  const CLSID& clsid = version == 8 ? CLSID_DirectInput8 : CLSID_DirectInput;
  const IID& iid = version == 8 ? IID_IDirectInput8A : IID_IDirectInput7A;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                              reinterpret_cast<void**>(&input))))
    return nullptr;
  if (FAILED(input->Initialize(nullptr, version == 8 ? 0x800 : 0x700))) {
    input->Release();
    return nullptr;
  }
  return input;
}

HWND AnyWindow() { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(0x1234)); }

TEST(DirectInputKeyCodesTest, GameKeysAndOthersMapByPosition) {
  const struct {
    int scancode;
    BYTE code;
  } cases[] = {
      {SDL_SCANCODE_ESCAPE, 0x01},
      {SDL_SCANCODE_R, 0x13},
      {SDL_SCANCODE_RETURN, 0x1C},
      {SDL_SCANCODE_Z, 0x2C},
      {SDL_SCANCODE_X, 0x2D},
      {SDL_SCANCODE_C, 0x2E},
      {SDL_SCANCODE_SPACE, 0x39},
      {SDL_SCANCODE_UP, 0xC8},
      {SDL_SCANCODE_LEFT, 0xCB},
      {SDL_SCANCODE_RIGHT, 0xCD},
      {SDL_SCANCODE_DOWN, 0xD0},
      {SDL_SCANCODE_KP_ENTER, 0x9C},
      {SDL_SCANCODE_RSHIFT, 0x36},
      {SDL_SCANCODE_F12, 0x58},
      {SDL_SCANCODE_KP_0, 0x52},
      {SDL_SCANCODE_UNKNOWN, 0},
      {SDL_SCANCODE_AUDIOPLAY, 0},
      {-1, 0},
      {100000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scancode);
    EXPECT_EQ(GetDirectInputKeyCode(c.scancode), c.code);
  }
}

class DirectInputTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    objectsBefore_ = CountDirectInputObjects();
    input_ = MakeDirectInput(GetParam());
    ASSERT_NE(input_, nullptr);
  }
  void TearDown() override {
    input_->Release();
    EXPECT_EQ(CountDirectInputObjects(), objectsBefore_);
  }
  IDirectInputDeviceA* Create(REFGUID guid) {
    IDirectInputDeviceA* device = nullptr;
    if (GetParam() == 8) {
      EXPECT_EQ(input_->CreateDevice(guid, &device, nullptr), DI_OK);
    } else {
      EXPECT_EQ(input_->CreateDeviceEx(guid, IID_IDirectInputDevice7A,
                                       reinterpret_cast<void**>(&device), nullptr),
                DI_OK);
    }
    return device;
  }
  IDirectInputA* input_ = nullptr;
  int objectsBefore_ = 0;
};

TEST_P(DirectInputTest, KeyboardReadsTheKeyStateTableOnceAcquired) {
  IDirectInputDeviceA* keyboard = Create(GUID_SysKeyboard);
  ASSERT_NE(keyboard, nullptr);
  BYTE keys[256];
  EXPECT_EQ(keyboard->Acquire(), DIERR_INVALIDPARAM) << "no data format yet";
  ASSERT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);
  ASSERT_EQ(keyboard->SetCooperativeLevel(AnyWindow(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
            DI_OK);
  EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
  ASSERT_EQ(keyboard->Acquire(), DI_OK);
  SetPlatformKeyState(SDL_SCANCODE_Z, true);
  SetPlatformKeyState(SDL_SCANCODE_UP, true);
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  for (int code = 0; code < 256; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(keys[code], code == 0x2C || code == 0xC8 ? 0x80 : 0);
  }
  SetPlatformKeyState(SDL_SCANCODE_Z, false);
  SetPlatformKeyState(SDL_SCANCODE_UP, false);
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[0x2C], 0);
  // A tap between two polls reads down in the next poll only; a held key in every poll.
  SetPlatformKeyState(SDL_SCANCODE_X, true);
  SetPlatformKeyState(SDL_SCANCODE_X, false);
  SetPlatformKeyState(SDL_SCANCODE_C, true);
  for (const BYTE expectedX : {0x80, 0x00, 0x00}) {
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
    EXPECT_EQ(keys[0x2D], expectedX);
    EXPECT_EQ(keys[0x2E], 0x80);
  }
  SetPlatformKeyState(SDL_SCANCODE_C, false);
  EXPECT_EQ(keyboard->GetDeviceState(16, keys), DIERR_INVALIDPARAM);
  keyboard->Unacquire();
  EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
  keyboard->Release();
}

TEST_P(DirectInputTest, KeyboardEventIsSetByEveryKeyEvent) {
  IDirectInputDeviceA* keyboard = Create(GUID_SysKeyboard);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(keyboard->SetEventNotification(event), DI_OK);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SDL_Event key{};
  key.type = SDL_KEYDOWN;
  key.key.keysym.scancode = SDL_SCANCODE_X;
  SDL_PushEvent(&key);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  SDL_PushEvent(&motion);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "only key events count";
  keyboard->Release();
  SDL_PushEvent(&key);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "a released device no longer signals";
  CloseHandle(event);
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

TEST_P(DirectInputTest, DevicesRefuseWhatThePlatformRefuses) {
  IDirectInputDeviceA* mouse = Create(GUID_SysMouse);
  EXPECT_EQ(mouse->SetDataFormat(&c_dfDIKeyboard), DIERR_INVALIDPARAM);
  EXPECT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
  EXPECT_EQ(mouse->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
            DIERR_INVALIDPARAM);
  EXPECT_EQ(mouse->SetCooperativeLevel(AnyWindow(),
                                       DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
            DIERR_INVALIDPARAM);
  EXPECT_EQ(mouse->SetCooperativeLevel(AnyWindow(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
  IDirectInputEffect* effect = nullptr;
  EXPECT_EQ(mouse->CreateEffect(GUID_Sine, nullptr, &effect, nullptr), DIERR_UNSUPPORTED);
  mouse->Release();
  IDirectInputDeviceA* none = nullptr;
  EXPECT_EQ(input_->CreateDevice(GUID_Sine, &none, nullptr), DIERR_DEVICENOTREG);
  EXPECT_EQ(none, nullptr);
}

TEST_P(DirectInputTest, VirtualJoystickIsEnumeratedAndRumblesWithItsEffects) {
  struct Rumble {
    Uint16 low = 0, high = 0;
    int calls = 0;
  } rumble;
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = 4;
  desc.nbuttons = 6;
  desc.nhats = 1;
  desc.name = "Test Pad";
  desc.userdata = &rumble;
  desc.Rumble = [](void* data, Uint16 low, Uint16 high) -> int {
    auto* r = static_cast<Rumble*>(data);
    r->low = low;
    r->high = high;
    ++r->calls;
    return 0;
  };
  const int index = SDL_JoystickAttachVirtualEx(&desc);
  ASSERT_GE(index, 0) << SDL_GetError();

  struct Found {
    int count = 0;
    DIDEVICEINSTANCEA instance{};
  } found;
  ASSERT_EQ(input_->EnumDevices(
                DIDEVTYPE_JOYSTICK,
                [](const DIDEVICEINSTANCEA* instance, LPVOID context) -> BOOL {
                  auto* f = static_cast<Found*>(context);
                  if (std::strcmp(instance->tszProductName, "Test Pad") == 0) {
                    f->instance = *instance;
                    ++f->count;
                  }
                  return DIENUM_CONTINUE;
                },
                &found, DIEDFL_ATTACHEDONLY),
            DI_OK);
  ASSERT_EQ(found.count, 1);
  IDirectInputDeviceA* pad = Create(found.instance.guidInstance);
  ASSERT_NE(pad, nullptr);
  ASSERT_EQ(pad->SetDataFormat(&c_dfDIJoystick), DI_OK);
  DIPROPRANGE range{
      {sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), DIJOFS_X, DIPH_BYOFFSET}, -1000, 1000};
  EXPECT_EQ(pad->SetProperty(DIPROP_RANGE, &range.diph), DI_OK);
  DIPROPDWORD zone{{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), DIJOFS_X, DIPH_BYOFFSET}, 3500};
  EXPECT_EQ(pad->SetProperty(DIPROP_DEADZONE, &zone.diph), DI_OK);
  EXPECT_EQ(pad->SetEventNotification(nullptr), DI_POLLEDDEVICE);

  DICONSTANTFORCE force{5000};
  DIEFFECT parameters{};
  parameters.dwSize = sizeof parameters;
  parameters.dwGain = DI_FFNOMINALMAX;
  parameters.dwDuration = INFINITE;
  parameters.cbTypeSpecificParams = sizeof force;
  parameters.lpvTypeSpecificParams = &force;
  IDirectInputEffect* constant = nullptr;
  ASSERT_EQ(pad->CreateEffect(GUID_ConstantForce, &parameters, &constant, nullptr), DI_OK);
  EXPECT_EQ(constant->Start(1, 0), DIERR_NOTACQUIRED);
  ASSERT_EQ(pad->Acquire(), DI_OK);
  ASSERT_EQ(constant->Start(1, 0), DI_OK);
  EXPECT_EQ(CountPlayingDirectInputEffects(), 1);
  EXPECT_EQ(rumble.low, 0x7FFF);
  EXPECT_EQ(rumble.high, 0);

  SDL_Joystick* handle = SDL_JoystickOpen(index);
  SDL_JoystickSetVirtualAxis(handle, 0, 32767);
  DIJOYSTATE state{};
  ASSERT_EQ(pad->GetDeviceState(sizeof state, &state), DI_OK);
  EXPECT_EQ(state.lX, 1000);

  pad->Unacquire();
  EXPECT_EQ(CountPlayingDirectInputEffects(), 0) << "losing the device stops its effects";
  EXPECT_EQ(rumble.low, 0);
  constant->Release();
  pad->Release();
  SDL_JoystickClose(handle);
  SDL_JoystickDetachVirtual(index);
}

INSTANTIATE_TEST_SUITE_P(Versions, DirectInputTest, ::testing::Values(7, 8));

TEST(DirectInputObjectTest, VersionsAndInjectedFailures) {
  IDirectInputA* input = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_DirectInput8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectInput8A,
                             reinterpret_cast<void**>(&input)),
            S_OK);
  IDirectInputDeviceA* device = nullptr;
  EXPECT_EQ(input->CreateDevice(GUID_SysKeyboard, &device, nullptr), DIERR_NOTINITIALIZED);
  EXPECT_EQ(input->Initialize(nullptr, 0x700), DIERR_INVALIDPARAM);
  FailDirectInputCall(DirectInputCallInitialize, 0);
  EXPECT_EQ(input->Initialize(nullptr, 0x800), DIERR_GENERIC);
  EXPECT_EQ(input->Initialize(nullptr, 0x800), DI_OK);
  EXPECT_EQ(input->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7A,
                                  reinterpret_cast<void**>(&device), nullptr),
            DIERR_UNSUPPORTED);
  input->Release();
  EXPECT_EQ(CoCreateInstance(CLSID_DirectInput, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectInput8A,
                             reinterpret_cast<void**>(&input)),
            E_NOINTERFACE);
}

TEST(JoystickCapsTest, AttachedVirtualJoystickHasItsAxesAndButtons) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
  JOYCAPSA caps{};
  const int before = SDL_NumJoysticks();
  EXPECT_EQ(joyGetDevCapsA(before, &caps, sizeof caps), JOYERR_UNPLUGGED);
  EXPECT_EQ(joyGetDevCapsA(16, &caps, sizeof caps), JOYERR_PARMS);
  const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 4, 10, 1);
  ASSERT_EQ(index, before);
  ASSERT_EQ(joyGetDevCapsA(index, &caps, sizeof caps), JOYERR_NOERROR);
  EXPECT_EQ(caps.wNumAxes, 4u);
  EXPECT_EQ(caps.wNumButtons, 10u);
  EXPECT_EQ(caps.wCaps, JOYCAPS_HASZ | JOYCAPS_HASR | JOYCAPS_HASPOV);
  SDL_JoystickDetachVirtual(index);
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
