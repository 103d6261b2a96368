// Entry points of file topics still being written: each does the least until its topic is built.
#include "files/dxt_decompress.h"

int DecompressDXTStandardImage(StandardImage* image)
{
    return image->format.compression == 0 ? 0 : -1;
}
