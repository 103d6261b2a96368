// The on-screen log's records: 80 lines of text drawn over the picture when its draw state is
// set. Nothing in the program writes to it; its font and drawing come with the font code.
#include <cstring>

#include "graphics/screen_log.h"

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
};

ScreenLogState screenLog;

}  // namespace

int InitializeScreenLog() {
  if (screenLog.setUp) return 0;
  screenLog.setUp = 1;
  screenLog.fontSize = 16;
  screenLog.fontHandle = -1;
  screenLog.fontDeleted = 1;
  PrepareScreenLogFont();
  screenLog.drawState = 0;
  std::memset(screenLog.text, 0, sizeof(screenLog.text));
  return 0;
}

int PrepareScreenLogFont() {
  if (!screenLog.setUp && InitializeScreenLog() != 0) return 0;
  return 0;
}

int DrawScreenLog() {
  if (!screenLog.setUp && InitializeScreenLog() != 0) return 0;
  PrepareScreenLogFont();
  return 0;
}

int GetScreenLogDrawState() { return screenLog.drawState; }

int ReleaseScreenLogFont() {
  screenLog.setUp = 0;
  screenLog.fontHandle = -1;
  screenLog.fontDeleted = 1;
  return 0;
}
