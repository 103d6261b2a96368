// A system file that reaches up into graphics.
#include "graphics/graphics.h"
