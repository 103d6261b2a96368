// The engine's public calls, for programs built on it.
#pragma once

#include "graphics/graphics.h"
#include "media/media.h"
#include "system/atomic_file.h"
#include "system/system.h"
