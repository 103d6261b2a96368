// Decoding of block-compressed (DXT) standard images into A8R8G8B8 pixels.
#pragma once

#include "files/color_format.h"

// 0, also for an image that is not compressed (left alone); -1 when memory runs out.
int DecompressDXTStandardImage(StandardImage* image);
