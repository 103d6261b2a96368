// The modules of the layer that the engine loads by name. Each folder of the layer that stands
// in for a module adds one line here with the entry points it offers.
#include "platform/acm/acm.h"
#include "platform/com/automation.h"
#include "platform/com/com.h"
#include "platform/d3d9/d3d9_module.h"
#include "platform/dsound/dsound.h"
#include "platform/imm/imm.h"
#include "platform/win32/kernel.h"
#include "platform/win32/sysinfo.h"
#include "platform/win32/user.h"
#include "platform/winmm/winmm.h"
#include "platform/winsock/winsock.h"

void RegisterBuiltInPlatformModules() {
  RegisterPlatformModule("winmm.dll", WinmmModuleEntries());
  RegisterPlatformModule("kernel32.dll", Kernel32ModuleEntries());
  RegisterPlatformModule("user32.dll", User32ModuleEntries());
  RegisterPlatformModule("dwmapi.dll", DwmapiModuleEntries());
  RegisterPlatformModule("d3d9.dll", D3D9ModuleEntries());
  RegisterPlatformModule("ole32.dll", Ole32ModuleEntries());
  RegisterPlatformModule("oleaut32.dll", OleAut32ModuleEntries());
  RegisterPlatformModule("dsound.dll", DirectSoundModuleEntries());
  RegisterPlatformModule("msacm32.dll", AcmModuleEntries());
  RegisterPlatformModule("ws2_32.dll", Ws2ModuleEntries());
  RegisterPlatformModule("imm32.dll", ImmModuleEntries());
}
