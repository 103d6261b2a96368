// A system file that reaches up into graphics.
#include "graphics/graphics_public.h"
