// The system layer's public calls: settings made before start, start and end, the per-frame
// message pump, keys, clocks and random numbers. Results: 0 or a value on success, -1 on failure.
#pragma once

int SetWindowTitle(const char* title);
int SetWindowIconResource(int resourceId);
int ChangeWindowMode(int windowMode);
int SetLogOutput(int enabled);
// One line to the log file (when log output is on), formatted as printf does.
int LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int SetRunWhileInactive(int enabled);

int InitializeEngine();
int ShutdownEngine();
int ProcessWindowMessages();

// Fills 256 bytes, one per DirectInput key code: 1 while the key is down, else 0.
int GetAllKeyStates(char* keyStates);

int GetMillisecondCount();
int GetRandomUpTo(int n);

struct DateRecord;
// The local date and time as six integers.
int FillLocalDateRecord(DateRecord* record);
