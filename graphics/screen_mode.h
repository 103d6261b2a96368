// Screen mode queries that other subsystems ask of the graphics layer.
#pragma once

// The screen's colour depth in bits: 16 or 32 (16 while no mode is set).
int GetScreenColorBitDepth();
// The requested screen size (640 x 480 while none is set).
int GetScreenModeSize(int* width, int* height);
