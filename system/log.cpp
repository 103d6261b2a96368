// The log file: every write opens the file, appends a time-stamped, indented text with CR LF line
// ends and closes it again, so the file is complete after each call.
#include "system/log.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/win32/file.h"
#include "platform/win32/kernel.h"
#include "platform/winmm/winmm.h"
#include "system/system.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

constexpr int kPrintfBufferSize = 1024;
constexpr int kStackTextSize = 256;
constexpr int kMaxIndent = 511;

struct LogState {
  // Settings, kept across engine starts.
  int logOff = 0;
  int noTimeStamp = 0;
  int datedName = 0;
  char directory[MAX_PATH] = {};
  char fileName[MAX_PATH] = "Log.txt";
  // The running log.
  DWORD startTime = 0;
  int indent = 0;
  int midLine = 0;
};

LogState logState;
// Writes from several threads would interleave and lose text: one write at a time. Nothing taken
// under it calls back into tracked memory or the log.
std::mutex logLock;

// Copies `text` into `out` with CR LF for every LF that has no CR before it, stepping over
// double-byte characters; from the first LF that already has its CR on, the rest is copied as it
// is. Returns the length written.
std::size_t ConvertLineFeeds(const char* text, char* out) {
  const int kind = GetCodePageKind();
  std::size_t in = 0;
  std::size_t length = 0;
  while (text[in] != '\0') {
    if (IsLeadByteForCodePage(text + in, kind)) {
      out[length++] = text[in++];
      if (text[in] == '\0') break;
      out[length++] = text[in++];
      continue;
    }
    if (text[in] == '\n') {
      if (in > 0 && text[in - 1] == '\r') {
        const std::size_t rest = std::strlen(text + in);
        std::memcpy(out + length, text + in, rest);
        length += rest;
        break;
      }
      out[length++] = '\r';
    }
    out[length++] = text[in++];
  }
  out[length] = '\0';
  return length;
}

// Directory, a "\" when it does not end in one (a trail byte 0x5C does not count), and the name.
void BuildLogPath(char* path, std::size_t size, const char* name) {
  const std::size_t length = std::strlen(logState.directory);
  const bool endsInSeparator =
      length > 0 && logState.directory[length - 1] == '\\' &&
      GetByteKindInString(logState.directory, static_cast<int>(length - 1), GetCodePageKind()) == 0;
  std::snprintf(path, size, "%s%s%s", logState.directory, endsInSeparator ? "" : "\\", name);
}

void WriteAndMirror(HANDLE file, const char* text, std::size_t length) {
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  OutputDebugStringA(text);
}

}  // namespace

int FormatTextList(char* buffer, std::size_t bufferSize, const char* format, va_list arguments) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  const int wanted = std::vsnprintf(buffer, bufferSize, format, arguments);
  if (wanted < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(wanted) < bufferSize ? wanted : static_cast<int>(bufferSize - 1);
}

int FormatText(char* buffer, std::size_t bufferSize, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatTextList(buffer, bufferSize, format, arguments);
  va_end(arguments);
  return 0;
}

int LogWriteText(const char* text) {
  if (text == nullptr) return -1;
  const std::size_t textLength = std::strlen(text);
  char stackBuffer[kStackTextSize];
  char* converted = stackBuffer;
  if (textLength * 2 + 1 > sizeof(stackBuffer)) {
    converted = static_cast<char*>(TrackedAlloc(static_cast<std::int64_t>(textLength * 2 + 1)));
    if (converted == nullptr) return -1;
  }
  const std::size_t length = ConvertLineFeeds(text, converted);
  {
    std::lock_guard<std::mutex> guard(logLock);
    if (logState.logOff == 0 && logState.directory[0] != '\0') {
      char path[MAX_PATH * 2];
      BuildLogPath(path, sizeof(path), logState.fileName);
      HANDLE file =
          CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        SetFilePointer(file, 0, nullptr, FILE_END);
        if (logState.midLine == 0) {
          if (logState.noTimeStamp == 0) {
            char stamp[16];
            const int stampLength = std::snprintf(
                stamp, sizeof(stamp), "%d:", static_cast<int>(timeGetTime() - logState.startTime));
            WriteAndMirror(file, stamp, static_cast<std::size_t>(stampLength));
          }
          if (logState.indent > 0) {
            char tabs[kMaxIndent + 1];
            const int count = logState.indent < kMaxIndent ? logState.indent : kMaxIndent;
            std::memset(tabs, '\t', static_cast<std::size_t>(count));
            tabs[count] = '\0';
            WriteAndMirror(file, tabs, static_cast<std::size_t>(count));
          }
        }
        WriteAndMirror(file, converted, length);
        if (length > 0) logState.midLine = converted[length - 1] != '\n' ? 1 : 0;
        CloseHandle(file);
      }
    }
  }
  if (converted != stackBuffer) TrackedFree(converted);
  return -1;
}

int LogWriteTextThunk(const char* text) { return LogWriteText(text); }

int LogPrintf(const char* format, ...) {
  char buffer[kPrintfBufferSize + 1];
  va_list arguments;
  va_start(arguments, format);
  const int length = FormatTextList(buffer, kPrintfBufferSize, format, arguments);
  va_end(arguments);
  buffer[length] = '\n';
  buffer[length + 1] = '\0';
  return LogWriteText(buffer);
}

int IncreaseLogIndent() {
  std::lock_guard<std::mutex> guard(logLock);
  ++logState.indent;
  return 0;
}

int DecreaseLogIndent() {
  std::lock_guard<std::mutex> guard(logLock);
  if (logState.indent != 0) --logState.indent;
  return 0;
}

int SetLogOutput(int enabled) {
  std::lock_guard<std::mutex> guard(logLock);
  logState.logOff = enabled == 0 ? 1 : 0;
  return 0;
}

int IsLogOutputOn() {
  std::lock_guard<std::mutex> guard(logLock);
  return logState.logOff == 0 ? 1 : 0;
}

int SetLogDirectory(const char* directory) {
  std::lock_guard<std::mutex> guard(logLock);
  CopyStringMax(logState.directory, directory != nullptr ? directory : "", MAX_PATH - 1);
  return 0;
}

const char* GetLogDirectory() { return logState.directory; }

int SetLogTimeStampOff(int off) {
  std::lock_guard<std::mutex> guard(logLock);
  logState.noTimeStamp = off != 0 ? 1 : 0;
  return 0;
}

int SetLogDatedFileName(int dated) {
  std::lock_guard<std::mutex> guard(logLock);
  logState.datedName = dated != 0 ? 1 : 0;
  return 0;
}

const char* GetLogFileName() { return logState.fileName; }

int InitializeLogFile() {
  std::lock_guard<std::mutex> guard(logLock);
  if (logState.logOff != 0) return 0;
  if (logState.datedName != 0) {
    DateRecord now{};
    FillLocalDateRecord(&now);
    char number[6][12];
    const int values[6] = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    for (int i = 0; i < 6; ++i) IntToString(values[i], number[i], 10);
    std::snprintf(logState.fileName, sizeof(logState.fileName), "Log%s_%s_%s_%s_%s_%s.txt",
                  number[0], number[1], number[2], number[3], number[4], number[5]);
  } else {
    CopyString(logState.fileName, "Log.txt");
  }
  // The file is made where the writes go, so that the log that is written is the one emptied.
  char path[MAX_PATH * 2];
  if (logState.directory[0] != '\0')
    BuildLogPath(path, sizeof(path), logState.fileName);
  else
    CopyStringMax(path, logState.fileName, sizeof(path) - 1);
  DeleteFileA(path);
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  logState.indent = 0;
  logState.midLine = 0;
  logState.startTime = timeGetTime();
  return 0;
}
