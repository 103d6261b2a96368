// The VertexBatch: the one batch of vertices that every hardware draw fills and that reaches the
// device as one draw call whenever the texture or a state changes, the batch is full, or a frame
// is presented.
#pragma once

#include <cstdint>

// Sends the queued vertices to the device (or drops them when the blend application marked the
// draw as drawing nothing) and empties the batch; 0 also when nothing was queued.
int FlushVertexBatch();
// Empties the batch without drawing.
int DiscardVertexBatch();
// The 2D buffers' constant fields (z 0, rhw 1, specular white) for a new device.
int PrepareVertexBatchBuffers();
// A point-list batch of one vertex at (0, 0), which reaches the device at the next flush.
int StartInitialPointBatch();
// The diffuse colour of the next vertices, 0xAARRGGBB.
void SetVertexBatchColor(uint32_t color);
uint32_t GetVertexBatchColor();
// Forgets the texture and draw set-up last prepared, so the next draw prepares them again (every
// BeginScene).
void ForgetVertexBatchDrawSetup();
// A filled box through the hardware path, in a screen colour code (the subtract emulation).
int DrawFilledBoxHardware(int x1, int y1, int x2, int y2, uint32_t color, int fill);
