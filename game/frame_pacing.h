// Frame pacing at 45 frames per second in windows of 1000 ms on the 31-bit millisecond clock:
// frame 0 of a window waits until 1000 ms after the previous window began and starts a new one;
// frame n (1-44) waits until the window's start plus trunc(n x 1000 / 45) ms. A late frame is
// not made up: the waits simply stay at 0 until the schedule is met again.
#pragma once

struct FramePacing {
  int frameIndex = 0;
  int windowStart = 0;
  bool started = false;  // the first frame of the run never waits
};

// The wait before presenting the current frame, given the clock before the wait: the
// wrap-aware difference to the frame's wake time, clamped to 0-1000 ms.
int FrameWait(const FramePacing& pacing, int now);

// After the wait: frame 0 starts a new window at the clock's time, and the index moves on.
void FinishFrame(FramePacing& pacing, int timeAfterWait);

// The pacing step of the main loop: reads the engine's clock, sleeps for FrameWait, finishes the
// frame. ResetFramePacing makes the next frame the run's first.
void WaitForNextFrame();
void ResetFramePacing();
