// The system layer's public calls: the log switch, clocks and random numbers. Results: 0 or a
// value on success, -1 on failure.
#pragma once

#include "system/date_record.h"

int SetLogOutput(int enabled);
// One line to the log file (when log output is on), formatted as printf does.
int LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

int GetMillisecondCount();
int GetRandomUpTo(int n);

// The local date and time as six integers.
int FillLocalDateRecord(DateRecord* record);
