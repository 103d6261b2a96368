// The on-screen log: 80 lines of text drawn over the picture, in white with a black edge, while
// its draw state is set. Its font is made again whenever it was deleted behind the log's back.
#include <cstring>

#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_log.h"
#include "graphics/screen_mode.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/text_helpers.h"

namespace {

constexpr int kScreenLogLines = 80;
constexpr int kScreenLogLineBytes = 255;

struct ScreenLogState {
  int setUp = 0;
  int fontHandle = -1;
  int fontDeleted = 1;
  int fontSize = 16;
  char text[kScreenLogLines][kScreenLogLineBytes] = {};
  int drawState = 0;
  int lineCount = 0;  // lines holding text; the last one is being written
};

ScreenLogState screenLog;

// The line being written, scrolling the oldest away when all are taken.
char* NewScreenLogLine() {
  if (screenLog.lineCount == kScreenLogLines) {
    std::memmove(screenLog.text[0], screenLog.text[1],
                 sizeof(screenLog.text) - sizeof(screenLog.text[0]));
    --screenLog.lineCount;
  }
  char* line = screenLog.text[screenLog.lineCount++];
  line[0] = '\0';
  return line;
}

}  // namespace

int InitializeScreenLog() {
  if (GraphicsCore().directDraw == nullptr || hostCallTable.getWindowHandle() == nullptr) return -1;
  if (screenLog.setUp) return 0;
  screenLog.setUp = 1;
  screenLog.fontSize = 16;
  screenLog.fontHandle = -1;
  screenLog.fontDeleted = 1;
  PrepareScreenLogFont();
  screenLog.drawState = 0;
  std::memset(screenLog.text, 0, sizeof(screenLog.text));
  screenLog.lineCount = 0;
  return 0;
}

int PrepareScreenLogFont() {
  if (!screenLog.setUp && InitializeScreenLog() != 0) return 0;
  if (screenLog.fontDeleted) {
    screenLog.fontHandle = CreateFontToHandle(nullptr, screenLog.fontSize, 4, 1, -1, -1, 0);
    screenLog.fontDeleted = 0;
    SetFontHandleDeletedFlag(screenLog.fontHandle, &screenLog.fontDeleted);
  }
  return 0;
}

int DrawScreenLog() {
  if (!screenLog.setUp && InitializeScreenLog() != 0) return 0;
  PrepareScreenLogFont();
  int height = 0;
  GetScreenModeSize(nullptr, &height);
  const int lines = height / 16 < kScreenLogLines ? height / 16 : kScreenLogLines;
  const uint32_t white = MakeScreenColorCode(255, 255, 255);
  const uint32_t black = MakeScreenColorCode(0, 0, 0);
  for (int line = 0; line < lines; ++line)
    DrawStringWithFontHandle(0, 16 * line, screenLog.text[line], white, screenLog.fontHandle, black,
                             0);
  return 0;
}

int GetScreenLogDrawState() { return screenLog.drawState; }

int WriteScreenLogText(const char* text) {
  if (text == nullptr) return -1;
  if (!screenLog.setUp && InitializeScreenLog() != 0) return -1;
  char* line = screenLog.lineCount ? screenLog.text[screenLog.lineCount - 1] : NewScreenLogLine();
  int used = static_cast<int>(std::strlen(line));
  bool full = false;
  const int kind = GetCodePageKind();
  for (int i = 0; text[i] != '\0';) {
    if (text[i] == '\n') {
      line = NewScreenLogLine();
      used = 0;
      full = false;
      ++i;
      continue;
    }
    const int bytes = GetByteKindInString(text, i, kind) == 1 && text[i + 1] != '\0' ? 2 : 1;
    // The first character that does not fit ends the line: the rest up to the next line feed is
    // dropped, and a double-byte character is never cut.
    if (used + bytes >= kScreenLogLineBytes) full = true;
    if (text[i] != '\r' && !full) {
      std::memcpy(line + used, text + i, static_cast<size_t>(bytes));
      used += bytes;
      line[used] = '\0';
    }
    i += bytes;
  }
  screenLog.drawState = 1;
  return 0;
}

int ReleaseScreenLogFont() {
  if (!screenLog.setUp) return 0;
  if (!screenLog.fontDeleted) DeleteFontHandle(screenLog.fontHandle);
  screenLog.fontDeleted = 1;
  screenLog.fontHandle = -1;
  screenLog.setUp = 0;
  return 0;
}
