// The on-screen log. Nothing in the program puts text into it; drawing it needs fonts.
#pragma once

int InitializeScreenLog();
int PrepareScreenLogFont();
int DrawScreenLog();
int GetScreenLogDrawState();
// Deletes the on-screen log's font and marks the log as not set up (the shutdown does).
int ReleaseScreenLogFont();
