// Loading of the game's assets at start: type tables, save data and bitmaps (LoadGameAssets),
// the glyphs of the bitmap font, and the music and effects with the engine's calls installed
// for the simulation's sounds.
#pragma once

// Throws LoadFailed when a type table or a bitmap cannot be loaded; also goes to the title.
void LoadGameAssets();
// Throws LoadFailed when "image/txt.bmp" cannot be loaded.
void LoadBitmapFont();
// Missing sound files leave their handles at -1, on which later calls fail without effect.
void LoadGameSounds();
// Points the simulation's sound and debugger calls at the engine and the platform.
void InstallEngineHostCalls();
