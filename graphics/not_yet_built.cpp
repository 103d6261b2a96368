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

#include "graphics/graphics.h"
#include "graphics/graphics_system.h"
#include "platform/win32/user.h"

namespace {

int ReloadNothing() { return 0; }

// The stand-in modes are the platform's display settings.
bool ReadDisplayMode(int index, DEVMODEA* mode)
{
    *mode = DEVMODEA{};
    mode->dmSize = sizeof *mode;
    return EnumDisplaySettingsA(nullptr, static_cast<DWORD>(index), mode) != FALSE;
}

}  // namespace

int StartGraphicsSystem() { return 0; }
int EndGraphicsSystem() { return 0; }
int StartModelSystem() { return 0; }
int EndModelSystem() { return 0; }

int SetGraphReloadCallback(GraphReloadCallback callback)
{
    GetDrawSettings()->graphReloadCallback = callback ? callback : ReloadNothing;
    return 0;
}

int RebuildGraphicsDeviceAfterLoss() { return 0; }
int EndDeviceScene() { return 0; }
IDirect3DDevice9* GetDirect3DDevice9() { return nullptr; }
int PresentFrameRect(const RECT*) { return 0; }
int PresentFrameForRepaint() { return 0; }

int GetDisplayModeCount()
{
    DEVMODEA mode;
    int count = 0;
    while (ReadDisplayMode(count, &mode)) ++count;
    return count;
}

int GetDisplayModeAt(int index, int* width, int* height, int* bits)
{
    DEVMODEA mode;
    if (index < 0 || !ReadDisplayMode(index, &mode)) return -1;
    if (width != nullptr) *width = static_cast<int>(mode.dmPelsWidth);
    if (height != nullptr) *height = static_cast<int>(mode.dmPelsHeight);
    if (bits != nullptr) *bits = static_cast<int>(mode.dmBitsPerPel);
    return 0;
}

int ChangeScreenMode(int, int, int, int, int) { return 0; }
int GetSoftwareRenderingSetting() { return 0; }
int SetScreen320x240Emulation(int) { return 0; }
int SetScreenModeSize(int, int) { return 0; }
int IsFullScreenMode() { return 0; }
IDirectDraw7* GetDirectDrawObject() { return nullptr; }
int IsDialogBoxModeOn() { return 0; }
int GetMaskUseFlag() { return 0; }
int SetMaskUseFlag(int) { return 0; }
int SetDrawClipRect(int, int, int, int) { return 0; }

int SetDrawTarget(int target)
{
    GetDrawSettings()->drawTarget = target;
    return 0;
}

#include "graphics/font_system.h"
#include "graphics/graph_handle.h"
#include "graphics/mask.h"
#include "graphics/vertex_batch.h"

namespace {
uint32_t vertexBatchColor = 0xFFFFFFFF;
}

int FlushVertexBatch() { return 0; }
int DiscardVertexBatch() { return 0; }
int PrepareVertexBatchBuffers() { return 0; }
int StartInitialPointBatch() { return 0; }
void SetVertexBatchColor(uint32_t color) { vertexBatchColor = color; }
uint32_t GetVertexBatchColor() { return vertexBatchColor; }
void ForgetVertexBatchDrawSetup() {}

int ResetGraphHandleCounters() { return 0; }
int IsGraphHandleLive(int) { return 0; }
int GetGraphOrScreenSize(int graph, int* width, int* height)
{
    if (graph > -2 || graph < -5) return -1;
    return GetScreenModeSize(width, height);
}
int IsGraphDrawValid(int) { return -1; }
IDirect3DSurface9* GetGraphRenderTargetSurface(int) { return nullptr; }
IDirect3DTexture9* GetGraphFirstTexture(int, int*, int*) { return nullptr; }
MEMIMG* GetGraphMEMIMG(int) { return nullptr; }
int ReleaseAllGraphDeviceResources() { return 0; }
int RecreateAllGraphDeviceResources() { return 0; }
int DeleteAllGraphHandles() { return 0; }
int ReloadGraphsFromFiles() { return 0; }
int RunGraphReloadCallback() { return 0; }
int CreateGraphFromMemoryImage(const void*, int, const void*, int, int, int) { return -1; }

int StartFontSystem() { return 0; }
int EndFontSystem() { return 0; }
int RecreateAllFonts() { return 0; }
int GetDefaultFontSizeThickness(int*, int*) { return -1; }
int SetDefaultFontSizeThickness(int, int) { return 0; }

IDirect3DSurface9* GetMaskScreenSurface() { return nullptr; }
MEMIMG* GetMaskScreenImage() { return nullptr; }
int ReleaseMaskScreen() { return 0; }
int RestoreMaskScreen() { return 0; }
int DeleteAllMaskHandles() { return 0; }
