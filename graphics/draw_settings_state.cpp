// The one draw settings block of the engine, zero at load.
#include "graphics/draw_settings.h"

namespace {
DrawSettings drawSettings;
}

DrawSettings* GetDrawSettings() { return &drawSettings; }
