// The display's 60 Hz timeline on the platform clock, shared by DirectDraw's vertical-blank waits,
// the swap chain's raster status and its synchronised presents: blank k starts at k / 60 s and
// lasts 45 of the frame's 525 lines. In virtual time the waits advance the clock.
#pragma once

#include <cstdint>

struct VerticalBlankPhase {
  bool inBlank;
  unsigned scanLine;  // 0 during the blank, else the line being drawn (0-479)
};
VerticalBlankPhase GetVerticalBlankPhase(std::uint64_t nanoseconds);
// Returns at the start of the next blank (the one after now, even when now is a start).
void WaitForVerticalBlankStart();
// Returns at the end of the current blank, or of the next one outside a blank.
void WaitForVerticalBlankEnd();
