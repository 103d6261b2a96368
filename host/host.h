// The host's public calls: settings made on the window before the start, start and end, the
// per-frame message pump and the keys. Results: 0 or a value on success, -1 on failure.
#pragma once

int SetWindowTitle(const char* title);
int SetWindowIconResource(int resourceId);
int ChangeWindowMode(int windowMode);
int SetRunWhileInactive(int enabled);

int InitializeEngine();
int ShutdownEngine();
int ProcessWindowMessages();

// Fills 256 bytes, one per DirectInput key code: 1 while the key is down, else 0.
int GetAllKeyStates(char* keyStates);
