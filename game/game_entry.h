// The program: engine settings and start, the assets, the main loop at 45 frames per second,
// and the report of a load failure.
#pragma once

// Returns the program's exit status: 0 after a normal run, 1 after a load failure (reported in a
// message box and on standard error with the file, the folder and how to make the data), -1 when
// the engine does not start (said on standard error, naming another running copy or a missing
// display when that is why).
int RunGame();

// Reads the 256 key states from the engine into the hold counters (all up when the read fails).
void UpdateKeyHoldCounters();

// RunGame in its parts, for programs that drive the frames themselves. StartGame makes the
// settings, starts the engine and loads the assets: 0, else RunGame's status (a load failure is
// reported and the engine ended). RunGameFrame is one pass of the main loop (messages, clear,
// keys, the scene, the frame wait, the present), false once the game has quit; it throws error_
// when a stage fails to load, which ReportLoadFailure reports, ending the engine.
int StartGame();
bool RunGameFrame();
// Makes a write past a file-size limit fail with EFBIG, as any other failed write, instead of
// ending the program by its signal: a save that meets the limit is then reported and the game
// plays on. StartGame calls it first.
void KeepPlayingPastFileSizeLimits();
void ReportLoadFailure();
