// The main loop's frame pacing on the engine's millisecond clock and the engine's pause.
#include "engine.h"
#include "game/frame_pacing.h"

namespace {

FramePacing pacing;

}  // namespace

void WaitForNextFrame() {
  const int wait = FrameWait(pacing, GetMillisecondCount());
  if (wait > 0) PauseMilliseconds(static_cast<DWORD>(wait));
  FinishFrame(pacing, GetMillisecondCount());
}

void ResetFramePacing() { pacing = FramePacing{}; }
