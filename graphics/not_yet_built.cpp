// Entry points of graphics topics still being written: each does the least until its topic is
// built.
#include "graphics/screen_mode.h"

int GetScreenColorBitDepth()
{
    return 16;
}
