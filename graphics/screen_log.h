// The on-screen log: 80 lines drawn over each presented frame once text has been written to it.
#pragma once

// -1 when there is no graphics system or no main window.
int InitializeScreenLog();
int PrepareScreenLogFont();
int DrawScreenLog();
int GetScreenLogDrawState();
// Appends text to the on-screen log (a line feed starts a new line, the oldest line scrolls away
// when all 80 are taken, a line keeps its first 254 bytes) and switches its drawing on; -1 when
// the on-screen log cannot be set up.
int WriteScreenLogText(const char* text);
// Deletes the on-screen log's font and marks the log as not set up (the shutdown does).
int ReleaseScreenLogFont();
