// The log file ("Log.txt" in the log directory) and the records of the on-screen log. Each write
// opens the file, appends and closes it; every line starts with the milliseconds since the log
// started and one tab per indent level, and ends with CR LF. Everything written is mirrored to
// the debugger output. Any thread may write.
#pragma once

#include <cstdarg>
#include <cstddef>

// Appends a text; always -1.
int LogWriteText(const char* text);
int LogWriteTextThunk(const char* text);
// Formats into 1,024 bytes (longer messages are cut), appends "\n" and writes it; always -1.
int LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int IncreaseLogIndent();
int DecreaseLogIndent();
// 0 switches the log off, anything else on.
int SetLogOutput(int enabled);
// Starts a new, empty log file; nothing when the log is off.
int InitializeLogFile();

// The log's settings, kept across engine starts.
int SetLogDirectory(const char* directory);
const char* GetLogDirectory();
int SetLogTimeStampOff(int off);
int SetLogDatedFileName(int dated);
int IsLogOutputOn();
// The name of the current log file, without its directory.
const char* GetLogFileName();

// printf formatting into a caller's buffer of `bufferSize` bytes: longer results are cut and the
// buffer always ends with a terminator. FormatText returns 0, FormatTextList the count of bytes
// stored.
int FormatText(char* buffer, std::size_t bufferSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextList(char* buffer, std::size_t bufferSize, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// The on-screen log: 80 lines drawn over each presented frame once text has been written to it.
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
