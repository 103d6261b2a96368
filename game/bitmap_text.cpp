// The bitmap font drawn through the engine.
#include "game/bitmap_text.h"

#include "engine.h"
#include "game/game_state.h"
#include "game/screen_layout.h"

void DrawBitmapText(int colour, int x, int y, const char* text, int scale) {
  SetDrawBrightness((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
  for (const char* c = text; c; ++c) {
    const int glyph = GlyphIndex(*c);
    if (glyph < 0) break;
    if (scale == 1) {
      DrawGraphAtPoint(x, y, tables.glyphGraphs[glyph], 1);
      x += 12;
    } else {
      DrawGraphStretched(x, y, x + 12 * scale, y + 16 * scale, tables.glyphGraphs[glyph], 1);
      x += 12 * scale;
    }
  }
  SetDrawBrightness(255, 255, 255);
}
