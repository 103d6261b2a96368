// The DirectInput 7 and 8 objects: initialisation, device creation and the enumeration of the
// attached joysticks through SDL's joystick API.
#include <SDL.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/dinput/dinput_internal.h"

namespace {

std::mutex controlLock;
std::array<int, DirectInputCallCount> failurePasses = [] {
  std::array<int, DirectInputCallCount> passes{};
  passes.fill(-1);
  return passes;
}();
std::array<int, DirectInputCallCount> callCounts{};
std::atomic<int> liveObjects{0};

// Joystick names are UTF-8; the engine's text is code page 932, so anything beyond ASCII is
// replaced rather than handed on as foreign bytes.
void CopyName(char* out, const char* name) {
  std::size_t i = 0;
  for (; name != nullptr && name[i] != '\0' && i + 1 < MAX_PATH; ++i)
    out[i] = static_cast<unsigned char>(name[i]) < 0x80 ? name[i] : '?';
  out[i] = '\0';
}

class DirectInputObject final : public PlatformComObject<IDirectInputA> {
 public:
  explicit DirectInputObject(int version) : version_(version) { CountDirectInputObject(1); }
  ~DirectInputObject() override {
    if (joysticksStarted_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    CountDirectInputObject(-1);
  }

  bool Offers(REFIID riid) const override {
    return riid == (version_ == 8 ? IID_IDirectInput8A : IID_IDirectInput7A);
  }

  HRESULT Initialize(HINSTANCE, DWORD version) override {
    if (ShouldFailDirectInputCall(DirectInputCallInitialize)) return DIERR_GENERIC;
    const bool fits = version_ == 8 ? version == 0x800 : version >= 0x300 && version <= 0x700;
    if (!fits) return DIERR_INVALIDPARAM;
    if (!initialized_) {
      joysticksStarted_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
      initialized_ = true;
    }
    return DI_OK;
  }

  HRESULT CreateDevice(REFGUID device, IDirectInputDeviceA** created, IUnknown* outer) override {
    if (created == nullptr) return DIERR_INVALIDPARAM;
    *created = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!initialized_) return DIERR_NOTINITIALIZED;
    return CreateDirectInputDevice(device, created);
  }

  HRESULT CreateDeviceEx(REFGUID device, REFIID riid, LPVOID* created, IUnknown* outer) override {
    if (created == nullptr) return DIERR_INVALIDPARAM;
    *created = nullptr;
    if (version_ == 8) return DIERR_UNSUPPORTED;
    if (!(riid == IID_IDirectInputDevice7A)) return E_NOINTERFACE;
    IDirectInputDeviceA* made = nullptr;
    const HRESULT result = CreateDevice(device, &made, outer);
    *created = made;
    return result;
  }

  HRESULT EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKA callback, LPVOID context,
                      DWORD) override {
    if (callback == nullptr) return DIERR_INVALIDPARAM;
    if (!initialized_) return DIERR_NOTINITIALIZED;
    if (type != DIDEVTYPE_JOYSTICK || !joysticksStarted_) return DI_OK;
    SDL_JoystickUpdate();
    const int count = SDL_NumJoysticks();
    for (int index = 0; index < count; ++index) {
      DIDEVICEINSTANCEA instance{};
      instance.dwSize = sizeof instance;
      instance.guidInstance = MakeJoystickInstanceGuid(SDL_JoystickGetDeviceInstanceID(index));
      instance.guidProduct = GUID_Joystick;
      instance.guidProduct.Data1 = static_cast<DWORD>(SDL_JoystickGetDeviceVendor(index)) |
                                   (static_cast<DWORD>(SDL_JoystickGetDeviceProduct(index)) << 16);
      instance.dwDevType = DIDEVTYPE_JOYSTICK;
      CopyName(instance.tszInstanceName, SDL_JoystickNameForIndex(index));
      CopyName(instance.tszProductName, SDL_JoystickNameForIndex(index));
      if (callback(&instance, context) == DIENUM_STOP) break;
    }
    return DI_OK;
  }

 private:
  const int version_;
  bool initialized_ = false;
  bool joysticksStarted_ = false;
};

HRESULT CreateDirectInputInstance(int version, IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* input = new (std::nothrow) DirectInputObject(version);
  if (input == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = input->QueryInterface(riid, object);
  input->Release();
  return result;
}

}  // namespace

HRESULT CreateDirectInput7Instance(IUnknown* outer, REFIID riid, void** object) {
  return CreateDirectInputInstance(7, outer, riid, object);
}

HRESULT CreateDirectInput8Instance(IUnknown* outer, REFIID riid, void** object) {
  return CreateDirectInputInstance(8, outer, riid, object);
}

GUID MakeJoystickInstanceGuid(int sdlInstanceId) {
  GUID guid = GUID_Joystick;
  guid.Data1 = static_cast<DWORD>(sdlInstanceId);
  guid.Data2 = 0x4A53;  // marks the GUID as one of the layer's joystick instances
  return guid;
}

bool ShouldFailDirectInputCall(DirectInputCall call) {
  std::lock_guard guard(controlLock);
  ++callCounts[call];
  int& passes = failurePasses[call];
  if (passes < 0) return false;
  if (passes > 0) {
    --passes;
    return false;
  }
  passes = -1;
  return true;
}

void CountDirectInputObject(int change) { liveObjects += change; }

void FailDirectInputCall(DirectInputCall call, int passes) {
  if (call < 0 || call >= DirectInputCallCount) return;
  std::lock_guard guard(controlLock);
  failurePasses[call] = passes;
}

int CountDirectInputCalls(DirectInputCall call) {
  if (call < 0 || call >= DirectInputCallCount) return 0;
  std::lock_guard guard(controlLock);
  return callCounts[call];
}

int CountDirectInputObjects() { return liveObjects; }
