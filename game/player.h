// The player: one frame of keys into the control byte (what a replay stores), and the physics,
// firing and timers of one frame.
#pragma once

void SampleControlByte();
void UpdatePlayer();
