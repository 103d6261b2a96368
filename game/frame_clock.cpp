// The main loop's frame pacing on the engine's millisecond clock and the platform's Sleep.
#include "engine.h"
#include "game/frame_pacing.h"

namespace {

FramePacing pacing;

}  // namespace

void WaitForNextFrame() {
  const int wait = FrameWait(pacing, GetMillisecondCount());
  if (wait > 0) Sleep(static_cast<DWORD>(wait));
  FinishFrame(pacing, GetMillisecondCount());
}

void ResetFramePacing() { pacing = FramePacing{}; }
