// Glyphs, gauge widths and popup digits.
#include "game/screen_layout.h"

const char BitmapFontGlyphs[61] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!?_\n:+-x/%*#=.[]()<>^\\$ ";

int GlyphIndex(char character) {
  if (character == '\0') return -1;
  for (int i = 0; i < 60; ++i)
    if (BitmapFontGlyphs[i] == character) return i;
  return -1;
}

int GaugeFillWidth(int value, int maximum, int full) {
  if (maximum == 0) return 4;
  return value * full / maximum + 4;
}

int PopupDigits(std::int32_t value, std::array<int, 6>& digits) {
  std::int32_t remaining = value < 0 ? 0 : value;
  int count = 0;
  do {
    digits[count++] = remaining % 10;
    remaining /= 10;
  } while (remaining != 0 && count < 6);
  return count;
}
