// Entry points of graphics topics still being written: each does the least until its topic is
// built.
#include "graphics/screen_mode.h"

int GetScreenColorBitDepth()
{
    return 16;
}

int GetScreenModeSize(int* width, int* height)
{
    if (width != nullptr) *width = 640;
    if (height != nullptr) *height = 480;
    return 0;
}
