// The engine's public calls, for programs built on it, the few other calls such a program makes
// (a pause, a message box, debugger output) and the values it passes (draw targets, key codes).
// It reaches no platform header but the basic types.
#pragma once

#include "graphics/graphics_public.h"
#include "host/host.h"
#include "host/program_calls.h"
#include "media/media.h"
#include "system/atomic_file.h"
#include "system/system.h"
