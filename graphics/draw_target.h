// Where drawing goes: the draw target (back buffer -2, front screen -4, or a draw-valid graph),
// clearing it, pointing the device at it, and putting a new device into the cached state.
// SetDrawTarget and ClearDrawTarget are public (graphics/graphics_public.h).
#pragma once

#include "graphics/graphics_public.h"
#include "platform/d3d9/d3d9.h"

constexpr int kDrawTargetBackBuffer = -2;
constexpr int kDrawTargetFrontScreen = -4;

// 1 for the screen codes -2 to -5.
inline bool IsScreenDrawTarget(int target) { return target <= -2 && target >= -5; }

// 0, or -1 without a device.
int SetRenderTargetAndViewport(IDirect3DSurface9* surface);
int SetInitialDeviceState();
int ApplyDefaultRenderStates();
// The size of the current draw target, as SetDrawTarget stored it.
int GetDrawTargetSize(int* width, int* height);
// The background colour (window settings) as 0x00RRGGBB.
uint32_t GetBackgroundColor();
