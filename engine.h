// The engine's public calls, for programs built on it, and the platform calls such a program makes
// beside them (its sleep, message box and debugger output).
#pragma once

#include "graphics/graphics.h"
#include "host/host.h"
#include "media/media.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"
#include "system/atomic_file.h"
#include "system/system.h"
