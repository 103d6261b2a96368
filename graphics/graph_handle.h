// Graph handles as the device layer sees them: the questions the draw target, the blend graph and
// the device rebuild ask about a graph, and the table-wide operations of start-up, rebuild and
// end.
#pragma once

#include "platform/d3d9/d3d9.h"

struct MEMIMG;

// Graph count and highest used index back to 0 (graphics start-up).
int ResetGraphHandleCounters();
// 1 when the handle names a live graph, else 0.
int IsGraphHandleLive(int graph);
// Size of a live graph, or of the screen for -2 to -5; -1 for anything else.
int GetGraphOrScreenSize(int graph, int* width, int* height);
// 1 when the live graph can be a draw target, 0 when not, -1 when not live.
int IsGraphDrawValid(int graph);
// The render-target surface of a draw-valid graph (its first tile), null otherwise.
IDirect3DSurface9* GetGraphRenderTargetSurface(int graph);
// The first texture tile of a texture-backed graph with the texture's size, null otherwise.
IDirect3DTexture9* GetGraphFirstTexture(int graph, int* textureWidth, int* textureHeight);
// The software image of a graph in software mode, null otherwise.
MEMIMG* GetGraphMEMIMG(int graph);
// Releases (and re-creates, empty) the textures, vertex buffers, index buffers and shaders of all
// handles around a device rebuild; handles keep their values.
int ReleaseAllDeviceResources();
int RecreateAllDeviceResources();
int DeleteAllGraphHandles();
// Reloads every graph made from a file into its (re-created) textures.
int ReloadGraphsFromFiles();
// The installed GraphReloadCallback (or ReloadGraphsFromFiles), then model textures and fonts.
int RunGraphReloadCallback();
// A graph from an image file held in memory (and an optional alpha image); -1 on failure.
int CreateGraphFromMemoryImage(const void* image, int imageSize, const void* alphaImage,
                               int alphaImageSize, int textureFlag, int reverse);
