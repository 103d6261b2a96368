// Text in the game's bitmap font (60 glyphs of 12 x 16 pixels).
#pragma once

constexpr int kWhite = 0xFFFFFF;
constexpr int kGrey = 0x606060;

// Draws `text` from (x, y) in colour 0xRRGGBB at an integer scale; a character outside the font
// ends the string. The draw brightness is white again afterwards.
void DrawBitmapText(int colour, int x, int y, const char* text, int scale);
