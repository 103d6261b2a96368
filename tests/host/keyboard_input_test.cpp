// The keyboard as the game reads it: the 256 key states of every frame, through the DirectInput
// keyboard and through the Windows key state, the fallbacks when DirectInput is missing, and the
// refresh throttle, with keys injected through the platform layer.
#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "host/input.h"
#include "host/input_state.h"
#include "platform/dinput/dinput.h"
#include "platform/win32/kernel.h"
#include "platform/win32/sysinfo.h"
#include "platform/win32/user.h"
#include "system/system_info.h"
#include "tests/host/engine_fixture.h"

namespace {

struct GameKey {
  SDL_Scancode scancode;
  int code;
};
constexpr GameKey kGameKeys[] = {
    {SDL_SCANCODE_ESCAPE, 0x01}, {SDL_SCANCODE_R, 0x13},    {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_Z, 0x2C},      {SDL_SCANCODE_X, 0x2D},    {SDL_SCANCODE_C, 0x2E},
    {SDL_SCANCODE_SPACE, 0x39},  {SDL_SCANCODE_UP, 0xC8},   {SDL_SCANCODE_LEFT, 0xCB},
    {SDL_SCANCODE_RIGHT, 0xCD},  {SDL_SCANCODE_DOWN, 0xD0},
};

class KeyboardInputTest : public EngineFixture {
 protected:
  void TearDown() override {
    EngineFixture::TearDown();
    SetInputDeviceSettings(0, 0, 0, 0);
    SetPlatformVersionInfo(nullptr);
    RegisterPlatformComClass(CLSID_DirectInput, CreateDirectInput7Instance);
    RegisterPlatformComClass(CLSID_DirectInput8, CreateDirectInput8Instance);
    for (const GameKey& key : kGameKeys) SetPlatformKeyState(key.scancode, false);
  }

  void Start() {
    SetRunWhileInactive(1);
    ASSERT_EQ(InitializeEngine(), 0);
  }

  void Key(SDL_Scancode scancode, bool down) {
    InjectPlatformKey(GetEngineWindowHandle(), scancode, down);
  }

  // One frame of the game: the pump, then the 256 states.
  std::array<char, 256> Frame() {
    Sleep(2);
    ProcessWindowMessages();
    std::array<char, 256> states;
    EXPECT_EQ(GetAllKeyStates(states.data()), 0);
    return states;
  }

  static std::vector<int> Down(const std::array<char, 256>& states) {
    std::vector<int> codes;
    for (int i = 0; i < 256; ++i)
      if (states[i] != 0) codes.push_back(i);
    return codes;
  }

  // On the Windows key state, Enter sets the numeric pad's Enter code as well.
  void ExpectEveryGameKeyAlone(bool windowsKeyState) {
    for (const GameKey& key : kGameKeys) {
      SCOPED_TRACE(key.code);
      std::vector<int> expected{key.code};
      if (windowsKeyState && key.code == 0x1C) expected.push_back(0x9C);
      Key(key.scancode, true);
      EXPECT_EQ(Down(Frame()), expected);
      EXPECT_EQ(Down(Frame()), expected) << "a held key reads 1 in every frame";
      Key(key.scancode, false);
      EXPECT_TRUE(Down(Frame()).empty()) << "and 0 in the frame after it is released";
    }
  }
};

TEST_F(KeyboardInputTest, DirectInputKeyboardSeesTheGameKeysFrameByFrame) {
  Start();
  EXPECT_EQ(GetInputState().isDirectInput8, 0);
  ASSERT_NE(GetInputState().keyboard, nullptr);
  ExpectEveryGameKeyAlone(false);
  Key(SDL_SCANCODE_Z, true);
  Key(SDL_SCANCODE_RIGHT, true);
  EXPECT_EQ(Down(Frame()), (std::vector<int>{0x2C, 0xCD})) << "two keys pressed in one frame";
}

// The pump reads the keyboard before the program does, and the program's read reads it again
// when a millisecond has passed: a tap before the pump is still down once in the program's read,
// and a held key released between the two reads is up there, as it is.
TEST_F(KeyboardInputTest, ATapReadByThePumpIsStillDownOnceForTheProgram) {
  Start();
  SetPlatformVirtualTime(true);
  const auto read = [] {
    Sleep(1);
    std::array<char, 256> states;
    EXPECT_EQ(GetAllKeyStates(states.data()), 0);
    return states;
  };
  for (int tap = 0; tap < 2; ++tap) {
    SCOPED_TRACE(tap);
    Key(SDL_SCANCODE_X, true);
    Key(SDL_SCANCODE_X, false);
    ProcessWindowMessages();
    EXPECT_EQ(Down(read()), std::vector<int>{0x2D});
    ProcessWindowMessages();
    EXPECT_TRUE(Down(read()).empty());
  }
  Key(SDL_SCANCODE_Z, true);
  EXPECT_EQ(Down(Frame()), std::vector<int>{0x2C});
  ProcessWindowMessages();
  Key(SDL_SCANCODE_Z, false);
  EXPECT_TRUE(Down(read()).empty());
}

TEST_F(KeyboardInputTest, WindowsKeyStatePathSeesTheGameKeysFrameByFrame) {
  SetInputDeviceSettings(1, 0, 0, 0);
  Start();
  EXPECT_EQ(GetInputState().keyboard, nullptr);
  ExpectEveryGameKeyAlone(true);
}

TEST_F(KeyboardInputTest, WindowsSevenUsesTheWindowsKeyStateAndEnterSetsBothCodes) {
  OSVERSIONINFOA seven{};
  seven.dwOSVersionInfoSize = sizeof seven;
  seven.dwMajorVersion = 6;
  seven.dwMinorVersion = 1;
  seven.dwBuildNumber = 7601;
  seven.dwPlatformId = 2;
  SetPlatformVersionInfo(&seven);
  Start();
  ASSERT_EQ(OsVersionCode(), 0x109);
  const int reads = CountDirectInputCalls(DirectInputCallGetDeviceState);
  Key(SDL_SCANCODE_RETURN, true);
  EXPECT_EQ(Down(Frame()), (std::vector<int>{0x1C, 0x9C}));
  EXPECT_EQ(CountDirectInputCalls(DirectInputCallGetDeviceState), reads)
      << "the keyboard device is not read";
  Key(SDL_SCANCODE_RETURN, false);
  EXPECT_TRUE(Down(Frame()).empty());
}

TEST_F(KeyboardInputTest, RefreshReadsTheDeviceOncePerMillisecondUnlessAKeyEventCame) {
  Start();
  SetPlatformVirtualTime(true);
  Sleep(5);
  const int before = CountDirectInputCalls(DirectInputCallGetDeviceState);
  EXPECT_EQ(RefreshKeyboardState(), 1);
  EXPECT_EQ(RefreshKeyboardState(), 0);
  EXPECT_EQ(CountDirectInputCalls(DirectInputCallGetDeviceState), before + 1);
  Key(SDL_SCANCODE_X, true);
  EXPECT_EQ(RefreshKeyboardState(), 1)
      << "a key event allows a second read in the same millisecond";
  EXPECT_EQ(CountDirectInputCalls(DirectInputCallGetDeviceState), before + 2);
  EXPECT_EQ(GetInputState().keyStates[0x2D], 0x80);
  EXPECT_EQ(WaitForSingleObject(GetInputState().keyboardEvent, 0), WAIT_TIMEOUT)
      << "the event is reset";
  EXPECT_EQ(RefreshKeyboardState(), 0);
}

TEST_F(KeyboardInputTest, WithoutDirectInput7TheEngineTakesDirectInput8) {
  RegisterPlatformComClass(CLSID_DirectInput, nullptr);
  Start();
  EXPECT_EQ(GetInputState().isDirectInput8, 1);
  const auto lines = LogLines();
  const auto has = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  EXPECT_TRUE(has("DirectInput7 の取得中... 取得に失敗。"));
  EXPECT_TRUE(has("エラーコード 0x80040154"));
  EXPECT_TRUE(has("DirectInput8 の取得を試みます...成功"));
  Key(SDL_SCANCODE_C, true);
  EXPECT_EQ(Down(Frame()), std::vector<int>{0x2E});
}

TEST_F(KeyboardInputTest, WithoutDirectInputTheWindowsKeyStateServesAndPadsAreCounted) {
  RegisterPlatformComClass(CLSID_DirectInput, nullptr);
  RegisterPlatformComClass(CLSID_DirectInput8, nullptr);
  Start();
  EXPECT_EQ(GetInputState().withoutDirectInput, 1);
  const auto lines = LogLines();
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& line) {
                           return line.find("DirectInput を使用しません。") != std::string::npos;
                         }),
            lines.end());
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& line) {
                           return line.find("パッドの数は 0 個です") != std::string::npos;
                         }),
            lines.end());
  ExpectEveryGameKeyAlone(true);
  EXPECT_EQ(ShutdownInputDevices(), 0);
}

TEST_F(KeyboardInputTest, FailedKeyboardNotificationReleasesEverythingItMade) {
  Start();
  ShutdownInputDevices();
  const int objects = CountDirectInputObjects();
  FailDirectInputCall(DirectInputCallSetEventNotification, 0);
  EXPECT_EQ(InitializeInputDevices(), -1);
  EXPECT_EQ(CountDirectInputObjects(), objects) << "no device or object is left behind";
  EXPECT_EQ(GetInputState().keyboard, nullptr);
  EXPECT_EQ(InitializeInputDevices(), 0) << "a later start begins clean";
  Key(SDL_SCANCODE_SPACE, true);
  EXPECT_EQ(Down(Frame()), std::vector<int>{0x39});
}

TEST_F(KeyboardInputTest, FirstReadAfterShutdownStartsInputAndStillFillsTheBuffer) {
  Start();
  ShutdownInputDevices();
  std::array<char, 256> states;
  states.fill(0x55);
  EXPECT_EQ(GetAllKeyStates(states.data()), 0);
  EXPECT_TRUE(std::all_of(states.begin(), states.end(), [](char c) { return c == 0; }));
  EXPECT_TRUE(IsInputStarted());
  Key(SDL_SCANCODE_UP, true);
  EXPECT_EQ(Down(Frame()), std::vector<int>{0xC8});
}

TEST_F(KeyboardInputTest, PadKeyMapDefaultsForTheFirstPad) {
  Start();
  const InputState& input = GetInputState();
  EXPECT_EQ(input.padKeyMap[0][0][0], 0x50);
  EXPECT_EQ(input.padKeyMap[0][0][1], 0xD0);
  EXPECT_EQ(input.padKeyMap[0][4][0], 0x2C);
  EXPECT_EQ(input.padKeyMap[0][4][1], -1);
  EXPECT_EQ(input.padKeyMap[0][13][0], 0x39);
  EXPECT_EQ(input.padKeyMap[0][14][0], -1);
  EXPECT_EQ(input.padKeyMap[5][0][0], -1);
}

using KeyboardInputDeathTest = KeyboardInputTest;

TEST_F(KeyboardInputDeathTest, AMouseThatCannotBeMadeEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Start();
  ShutdownInputDevices();
  FailDirectInputCall(DirectInputCallCreateDevice, 0);
  EXPECT_EXIT(InitializeInputDevices(), ::testing::ExitedWithCode(255), "");
  FailDirectInputCall(DirectInputCallCreateDevice, -1);
}

}  // namespace
