// The arithmetic behind what the game draws, kept apart from the drawing so it can be checked
// without a screen: glyph look-up, gauge widths and popup digits.
#pragma once

#include <array>
#include <cstdint>

// The 60 glyphs of the bitmap font, in the order of "image/txt.bmp".
extern const char BitmapFontGlyphs[61];
// The glyph of a character, or -1 for a character outside the set (which ends a string).
int GlyphIndex(char character);

// The drawn width of a gauge's fill: value x full / maximum + 4, with a zero maximum drawing an
// empty gauge (4).
int GaugeFillWidth(int value, int maximum, int full);

// The digits a score popup shows, least significant first (at most 6; a negative value shows 0).
int PopupDigits(std::int32_t value, std::array<int, 6>& digits);
