// DirectInput devices and effects: the keyboard reads the user part's key-state table and signals
// its event on every key event SDL sees; the mouse reads SDL's mouse; a joystick is an SDL
// joystick whose two kinds of effect drive its rumble motors.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/dinput/dinput_internal.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"

const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), 16, 2, 256, 256, nullptr};
const DIDATAFORMAT c_dfDIMouse = {sizeof(DIDATAFORMAT), 16, 2, sizeof(DIMOUSESTATE), 7, nullptr};
const DIDATAFORMAT c_dfDIJoystick = {sizeof(DIDATAFORMAT), 16, 1, sizeof(DIJOYSTATE), 44, nullptr};

namespace {

std::atomic<int> playingEffects{0};

// The events of keyboard devices, set by an SDL event watch whenever a key goes down or up.
struct KeyEventRegistry {
  std::mutex lock;
  std::vector<HANDLE> events;
};

KeyEventRegistry& KeyEvents() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* registry = new KeyEventRegistry;
  return *registry;
}

int SDLCALL WatchKeyEvents(void*, SDL_Event* event) {
  if (event->type != SDL_KEYDOWN && event->type != SDL_KEYUP) return 1;
  KeyEventRegistry& registry = KeyEvents();
  std::lock_guard guard(registry.lock);
  for (HANDLE handle : registry.events) SetEvent(handle);
  return 1;
}

// SDL's watch list is changed outside the registry's lock: the watch takes that lock while SDL
// holds its own.
void WatchKeyboardEvent(HANDLE event) {
  KeyEventRegistry& registry = KeyEvents();
  bool first;
  {
    std::lock_guard guard(registry.lock);
    registry.events.push_back(event);
    first = registry.events.size() == 1;
  }
  if (first) {
    SDL_InitSubSystem(SDL_INIT_EVENTS);
    SDL_AddEventWatch(WatchKeyEvents, nullptr);
  }
}

void UnwatchKeyboardEvent(HANDLE event) {
  KeyEventRegistry& registry = KeyEvents();
  bool last;
  {
    std::lock_guard guard(registry.lock);
    auto found = std::find(registry.events.begin(), registry.events.end(), event);
    if (found == registry.events.end()) return;
    registry.events.erase(found);
    last = registry.events.empty();
  }
  if (last) {
    SDL_DelEventWatch(WatchKeyEvents, nullptr);
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
  }
}

class InputDevice;

class InputEffect final : public PlatformComObject<IDirectInputEffect> {
 public:
  InputEffect(InputDevice* device, bool constantForce, DWORD strength);
  ~InputEffect() override;

  bool Offers(REFIID riid) const override { return riid == IID_IDirectInputEffect; }
  HRESULT Start(DWORD iterations, DWORD flags) override;
  HRESULT Stop() override;
  HRESULT Unload() override { return Stop(); }

  void Halt() {
    if (playing_) --playingEffects;
    playing_ = false;
  }
  bool playing() const { return playing_; }
  bool constantForce() const { return constantForce_; }
  DWORD strength() const { return strength_; }

 private:
  InputDevice* device_;
  const bool constantForce_;
  const DWORD strength_;  // 0-10,000: magnitude times gain
  bool playing_ = false;
};

class InputDevice final : public PlatformComObject<IDirectInputDeviceA> {
 public:
  InputDevice(DirectInputDeviceKind kind, SDL_Joystick* joystick)
      : kind_(kind), joystick_(joystick) {
    CountDirectInputObject(1);
    for (Axis& axis : axes_) axis = Axis{0, 65535, 0};
  }
  ~InputDevice() override {
    if (event_ != nullptr && kind_ == DirectInputKeyboard) UnwatchKeyboardEvent(event_);
    if (joystick_ != nullptr) SDL_JoystickClose(joystick_);
    CountDirectInputObject(-1);
  }

  bool Offers(REFIID riid) const override {
    return riid == IID_IDirectInputDevice7A || riid == IID_IDirectInputDevice8A;
  }

  HRESULT Acquire() override {
    if (ShouldFailDirectInputCall(DirectInputCallAcquire)) return DIERR_GENERIC;
    if (dataSize_ == 0) return DIERR_INVALIDPARAM;
    if (acquired_) return S_FALSE;
    acquired_ = true;
    // Keys pressed before the device was acquired are not this device's to report.
    if (kind_ == DirectInputKeyboard) {
      BYTE discarded[PlatformScancodeCount];
      PollPlatformScancodeStates(discarded);
    }
    return DI_OK;
  }

  // Losing the device stops its effects, as on the platform.
  HRESULT Unacquire() override {
    if (!acquired_) return S_FALSE;
    acquired_ = false;
    for (InputEffect* effect : effects_) effect->Halt();
    UpdateRumble();
    return DI_OK;
  }

  HRESULT GetDeviceState(DWORD size, LPVOID data) override {
    if (ShouldFailDirectInputCall(DirectInputCallGetDeviceState)) return DIERR_GENERIC;
    if (data == nullptr) return DIERR_INVALIDPARAM;
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (size != dataSize_) return DIERR_INVALIDPARAM;
    std::memset(data, 0, size);
    switch (kind_) {
      case DirectInputKeyboard: ReadKeyboard(static_cast<BYTE*>(data)); break;
      case DirectInputMouse: ReadMouse(static_cast<DIMOUSESTATE*>(data)); break;
      case DirectInputJoystick: ReadJoystick(static_cast<DIJOYSTATE*>(data)); break;
    }
    return DI_OK;
  }

  HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
    if (ShouldFailDirectInputCall(DirectInputCallSetDataFormat)) return DIERR_GENERIC;
    if (format == nullptr) return DIERR_INVALIDPARAM;
    if (acquired_) return DIERR_ACQUIRED;
    const DWORD wanted = kind_ == DirectInputKeyboard ? 256u
                         : kind_ == DirectInputMouse  ? static_cast<DWORD>(sizeof(DIMOUSESTATE))
                                                      : static_cast<DWORD>(sizeof(DIJOYSTATE));
    if (format->dwDataSize != wanted) return DIERR_INVALIDPARAM;
    dataSize_ = wanted;
    return DI_OK;
  }

  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
    if (ShouldFailDirectInputCall(DirectInputCallSetCooperativeLevel)) return DIERR_GENERIC;
    const bool exclusive = (flags & DISCL_EXCLUSIVE) != 0,
               shared = (flags & DISCL_NONEXCLUSIVE) != 0;
    const bool foreground = (flags & DISCL_FOREGROUND) != 0,
               background = (flags & DISCL_BACKGROUND) != 0;
    if (window == nullptr || exclusive == shared || foreground == background)
      return DIERR_INVALIDPARAM;
    cooperativeLevel_ = flags;
    return DI_OK;
  }

  HRESULT SetProperty(const GUID* property, const DIPROPHEADER* header) override {
    if (ShouldFailDirectInputCall(DirectInputCallSetProperty)) return DIERR_GENERIC;
    if (header == nullptr || header->dwHeaderSize != sizeof(DIPROPHEADER))
      return DIERR_INVALIDPARAM;
    if (property == DIPROP_BUFFERSIZE) {
      if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE)
        return DIERR_INVALIDPARAM;
      bufferSize_ = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
      return DI_OK;
    }
    if (property != DIPROP_RANGE && property != DIPROP_DEADZONE) return DIERR_UNSUPPORTED;
    if (kind_ != DirectInputJoystick) return DIERR_UNSUPPORTED;
    Axis* axis = AxisOf(header);
    if (axis == nullptr) return DIERR_INVALIDPARAM;
    if (property == DIPROP_RANGE) {
      if (header->dwSize != sizeof(DIPROPRANGE)) return DIERR_INVALIDPARAM;
      const auto* range = reinterpret_cast<const DIPROPRANGE*>(header);
      if (range->lMin >= range->lMax) return DIERR_INVALIDPARAM;
      axis->minimum = range->lMin;
      axis->maximum = range->lMax;
    } else {
      if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
      const DWORD zone = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
      if (zone > 10000) return DIERR_INVALIDPARAM;
      axis->deadZone = zone;
    }
    return DI_OK;
  }

  HRESULT SetEventNotification(HANDLE event) override {
    if (ShouldFailDirectInputCall(DirectInputCallSetEventNotification)) return DIERR_GENERIC;
    if (acquired_) return DIERR_ACQUIRED;
    if (kind_ == DirectInputKeyboard) {
      if (event_ != nullptr) UnwatchKeyboardEvent(event_);
      if (event != nullptr) WatchKeyboardEvent(event);
    }
    event_ = event;
    // A joystick is read by polling; its event is never set.
    return kind_ == DirectInputJoystick ? DI_POLLEDDEVICE : DI_OK;
  }

  HRESULT GetDeviceInfo(DIDEVICEINSTANCEA* instance) override {
    if (instance == nullptr || instance->dwSize != sizeof(DIDEVICEINSTANCEA))
      return DIERR_INVALIDPARAM;
    const char* name = kind_ == DirectInputKeyboard ? "Keyboard"
                       : kind_ == DirectInputMouse  ? "Mouse"
                                                    : SDL_JoystickName(joystick_);
    std::memset(instance, 0, sizeof *instance);
    instance->dwSize = sizeof *instance;
    instance->guidInstance = kind_ == DirectInputKeyboard ? GUID_SysKeyboard
                             : kind_ == DirectInputMouse
                                 ? GUID_SysMouse
                                 : MakeJoystickInstanceGuid(SDL_JoystickInstanceID(joystick_));
    instance->guidProduct = instance->guidInstance;
    instance->dwDevType = kind_ == DirectInputJoystick ? DIDEVTYPE_JOYSTICK : 0;
    for (std::size_t i = 0; name != nullptr && name[i] != '\0' && i + 1 < MAX_PATH; ++i) {
      const char c = static_cast<unsigned char>(name[i]) < 0x80 ? name[i] : '?';
      instance->tszInstanceName[i] = c;
      instance->tszProductName[i] = c;
    }
    return DI_OK;
  }

  HRESULT CreateEffect(REFGUID effect, const DIEFFECT* parameters, IDirectInputEffect** created,
                       IUnknown* outer) override {
    if (created == nullptr) return DIERR_INVALIDPARAM;
    *created = nullptr;
    if (ShouldFailDirectInputCall(DirectInputCallCreateEffect)) return DIERR_GENERIC;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (kind_ != DirectInputJoystick) return DIERR_UNSUPPORTED;
    const bool constantForce = effect == GUID_ConstantForce;
    if (!constantForce && !(effect == GUID_Sine)) return DIERR_DEVICENOTREG;
    DWORD magnitude = DI_FFNOMINALMAX;
    DWORD gain = DI_FFNOMINALMAX;
    if (parameters != nullptr) {
      gain = std::min<DWORD>(parameters->dwGain, DI_FFNOMINALMAX);
      if (constantForce && parameters->cbTypeSpecificParams == sizeof(DICONSTANTFORCE) &&
          parameters->lpvTypeSpecificParams != nullptr) {
        const LONG value =
            static_cast<const DICONSTANTFORCE*>(parameters->lpvTypeSpecificParams)->lMagnitude;
        magnitude = static_cast<DWORD>(value < 0 ? -static_cast<std::int64_t>(value) : value);
      } else if (!constantForce && parameters->cbTypeSpecificParams == sizeof(DIPERIODIC) &&
                 parameters->lpvTypeSpecificParams != nullptr) {
        magnitude = static_cast<const DIPERIODIC*>(parameters->lpvTypeSpecificParams)->dwMagnitude;
      }
    }
    const DWORD strength = static_cast<DWORD>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(magnitude) * gain / DI_FFNOMINALMAX, DI_FFNOMINALMAX));
    auto* made = new (std::nothrow) InputEffect(this, constantForce, strength);
    if (made == nullptr) return DIERR_OUTOFMEMORY;
    *created = made;
    return DI_OK;
  }

  bool acquired() const { return acquired_; }
  void AddEffect(InputEffect* effect) { effects_.push_back(effect); }
  void RemoveEffect(InputEffect* effect) {
    effects_.erase(std::remove(effects_.begin(), effects_.end(), effect), effects_.end());
  }

  // The constant force drives the low-frequency motor, the sine the high-frequency one.
  void UpdateRumble() {
    if (joystick_ == nullptr) return;
    DWORD low = 0, high = 0;
    for (InputEffect* effect : effects_) {
      if (!effect->playing()) continue;
      DWORD& motor = effect->constantForce() ? low : high;
      motor = std::max(motor, effect->strength());
    }
    const auto scale = [](DWORD strength) {
      return static_cast<Uint16>(strength * 0xFFFFu / DI_FFNOMINALMAX);
    };
    SDL_JoystickRumble(joystick_, scale(low), scale(high), low == 0 && high == 0 ? 0 : 0xFFFFFFFFu);
  }

 private:
  struct Axis {
    LONG minimum;
    LONG maximum;
    DWORD deadZone;  // of 10,000, around the centre
  };

  Axis* AxisOf(const DIPROPHEADER* header) {
    if (header->dwHow == DIPH_DEVICE) return header->dwObj == 0 ? &axes_[0] : nullptr;
    if (header->dwHow != DIPH_BYOFFSET || header->dwObj % 4 != 0 || header->dwObj > DIJOFS_RZ)
      return nullptr;
    return &axes_[header->dwObj / 4];
  }

  void ReadKeyboard(BYTE* keys) const {
    BYTE states[PlatformScancodeCount];
    PollPlatformScancodeStates(states);
    for (int scancode = 0; scancode < PlatformScancodeCount; ++scancode) {
      if (!(states[scancode] & 0x80)) continue;
      const BYTE code = GetDirectInputKeyCode(scancode);
      if (code != 0) keys[code] = 0x80;
    }
  }

  static void ReadMouse(DIMOUSESTATE* state) {
    int dx = 0, dy = 0;
    const Uint32 buttons = SDL_GetRelativeMouseState(&dx, &dy);
    state->lX = dx;
    state->lY = dy;
    for (int i = 0; i < 4; ++i)
      if (buttons & SDL_BUTTON(i + 1)) state->rgbButtons[i] = 0x80;
  }

  void ReadJoystick(DIJOYSTATE* state) const {
    SDL_JoystickUpdate();
    LONG* values[6] = {&state->lX, &state->lY, &state->lZ, &state->lRx, &state->lRy, &state->lRz};
    const int axisCount = SDL_JoystickNumAxes(joystick_);
    for (int i = 0; i < 6; ++i) {
      const Axis& axis = axes_[i];
      double position = i < axisCount ? SDL_JoystickGetAxis(joystick_, i) / 32767.0 : 0.0;
      position = std::clamp(position, -1.0, 1.0);
      const double zone = axis.deadZone / 10000.0;
      if (std::abs(position) <= zone) {
        position = 0.0;
      } else if (zone < 1.0) {
        position = (position < 0 ? position + zone : position - zone) / (1.0 - zone);
      }
      *values[i] =
          static_cast<LONG>(axis.minimum + (position + 1.0) / 2.0 * (axis.maximum - axis.minimum));
    }
    for (DWORD& pov : state->rgdwPOV) pov = 0xFFFFFFFF;
    if (SDL_JoystickNumHats(joystick_) > 0) {
      static constexpr struct {
        Uint8 hat;
        DWORD degrees;
      } kHats[] = {
          {SDL_HAT_UP, 0},       {SDL_HAT_RIGHTUP, 4500},
          {SDL_HAT_RIGHT, 9000}, {SDL_HAT_RIGHTDOWN, 13500},
          {SDL_HAT_DOWN, 18000}, {SDL_HAT_LEFTDOWN, 22500},
          {SDL_HAT_LEFT, 27000}, {SDL_HAT_LEFTUP, 31500},
      };
      const Uint8 hat = SDL_JoystickGetHat(joystick_, 0);
      for (const auto& entry : kHats)
        if (entry.hat == hat) state->rgdwPOV[0] = entry.degrees;
    }
    const int buttons = std::min(SDL_JoystickNumButtons(joystick_), 32);
    for (int i = 0; i < buttons; ++i)
      if (SDL_JoystickGetButton(joystick_, i)) state->rgbButtons[i] = 0x80;
  }

  const DirectInputDeviceKind kind_;
  SDL_Joystick* joystick_;
  DWORD dataSize_ = 0;
  DWORD cooperativeLevel_ = 0;
  DWORD bufferSize_ = 0;
  bool acquired_ = false;
  HANDLE event_ = nullptr;
  Axis axes_[6];
  std::vector<InputEffect*> effects_;
};

InputEffect::InputEffect(InputDevice* device, bool constantForce, DWORD strength)
    : device_(device), constantForce_(constantForce), strength_(strength) {
  device_->AddRef();
  device_->AddEffect(this);
  CountDirectInputObject(1);
}

InputEffect::~InputEffect() {
  Halt();
  device_->RemoveEffect(this);
  device_->UpdateRumble();
  device_->Release();
  CountDirectInputObject(-1);
}

HRESULT InputEffect::Start(DWORD, DWORD) {
  if (!device_->acquired()) return DIERR_NOTACQUIRED;
  if (!playing_) ++playingEffects;
  playing_ = true;
  device_->UpdateRumble();
  return DI_OK;
}

HRESULT InputEffect::Stop() {
  Halt();
  device_->UpdateRumble();
  return DI_OK;
}

}  // namespace

HRESULT CreateDirectInputDevice(REFGUID device, IDirectInputDeviceA** created) {
  if (ShouldFailDirectInputCall(DirectInputCallCreateDevice)) return DIERR_GENERIC;
  DirectInputDeviceKind kind;
  SDL_Joystick* joystick = nullptr;
  if (device == GUID_SysKeyboard) {
    kind = DirectInputKeyboard;
  } else if (device == GUID_SysMouse) {
    kind = DirectInputMouse;
  } else {
    const GUID pattern = MakeJoystickInstanceGuid(static_cast<int>(device.Data1));
    if (!(device == pattern)) return DIERR_DEVICENOTREG;
    for (int index = 0; index < SDL_NumJoysticks(); ++index)
      if (SDL_JoystickGetDeviceInstanceID(index) == static_cast<SDL_JoystickID>(device.Data1))
        joystick = SDL_JoystickOpen(index);
    if (joystick == nullptr) return DIERR_DEVICENOTREG;
    kind = DirectInputJoystick;
  }
  auto* made = new (std::nothrow) InputDevice(kind, joystick);
  if (made == nullptr) {
    if (joystick != nullptr) SDL_JoystickClose(joystick);
    return DIERR_OUTOFMEMORY;
  }
  *created = made;
  return DI_OK;
}

int CountPlayingDirectInputEffects() { return playingEffects; }
