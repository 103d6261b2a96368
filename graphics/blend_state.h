// The blend application: from the blend mode, the draw's flags, the draw texture and the blend
// graph's texture it builds one render program (alpha test, blend factors and operation, texture
// factor, texture stages) and sends what differs through the DeviceStateCache. Also the subtract
// emulation for devices without reverse subtraction and the built-in 8 x 8 white graph.
#pragma once

#include "graphics/device_state_cache.h"

constexpr int kBlendModeCount = 15;

// 0, or -1 without a device or when nothing was marked changed (and nothing forced).
int ApplyBlendState(int graphTextures, const BlendRenderProgram* userProgram, int userFlag);
// Marks the blend state for re-application and forgets the cached stage-0 texture.
void MarkBlendStateChanged();
int BeginSubtractBlendEmulation(const RECT* rect);
int EndSubtractBlendEmulation(const RECT* rect);
// The 8 x 8 white graph (made on first use), or -1.
int GetBuiltInWhiteGraph();
// Deletes the white graph so it is made again on next use (device rebuild, graphics end).
int DeleteBuiltInWhiteGraph();
