// The device's end and its rebuild: after a loss, for a new screen mode, and the retry of a
// rebuild that found no Direct3D; and the end of the whole graphics system.
#pragma once

int ShutDownDirect3D();
// mode change 1: (width, height, bits, refresh) become the screen mode; 0: recovery after loss.
int RebuildGraphicsDevice(int modeChange, int width, int height, int colorBits, int refreshRate);
int RebuildGraphicsDeviceAfterLoss();
// Retries a rebuild that came back without Direct3D (at most once a second); 0 when the device
// is usable now.
int RetryLostDevice();
int EndGraphicsSystem();
