// Entry points of graphics topics still being written: each does the least until its topic is
// built.
#include "graphics/graph_handle.h"
#include "graphics/graphics.h"
#include "graphics/graphics_system.h"
#include "graphics/mask.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"

int StartModelSystem() { return 0; }
int EndModelSystem() { return 0; }
int GetMaskUseFlag() { return 0; }
int SetMaskUseFlag(int) { return 0; }

IDirect3DSurface9* GetMaskScreenSurface() { return nullptr; }
MEMIMG* GetMaskScreenImage() { return nullptr; }
int ReleaseMaskScreen() { return 0; }
int RestoreMaskScreen() { return 0; }
int DeleteAllMaskHandles() { return 0; }
int BeginMaskDraw(const RECT*) { return 0; }
int EndMaskDraw(const RECT*) { return 0; }
