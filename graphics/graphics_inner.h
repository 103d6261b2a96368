// The graphics system's inner calls: what the engine's start-up, shutdown, window procedure and
// window-mode switch call of it (device start and end, the model system, device loss and
// presentation, display modes and the screen's mode, masks and the draw area), each declared by
// the file that defines it. Programs see graphics_public.h only.
#pragma once

#include "graphics/device_rebuild.h"
#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graphics_state.h"
#include "graphics/mask.h"
#include "graphics/model_system.h"
#include "graphics/screen_mode.h"
