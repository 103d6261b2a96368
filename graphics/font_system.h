// The font system as the device layer calls it: start, end, re-creation after a device rebuild,
// and the default font's size and thickness kept over a screen-mode change.
#pragma once

int StartFontSystem();
int EndFontSystem();
int RecreateAllFonts();
// -1 when there is no default font.
int GetDefaultFontSizeThickness(int* size, int* thickness);
int SetDefaultFontSizeThickness(int size, int thickness);
