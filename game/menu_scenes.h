// The input steps of the title, configuration and final results scenes (their drawing is in
// scene_drawing.cpp), and the volume levels the configuration screen shows.
#pragma once

#include <cstdint>

enum TitleCursor : std::uint8_t {
  CursorHighScoreList = 250,
  CursorStart = 251,
  CursorHighScore = 252,
  CursorConfig = 253,
  CursorExit = 254,
  CursorPrompt = 255,
};

enum ConfigCursor : std::uint8_t {
  ConfigArcadeMode = 0,
  ConfigEffectVolume = 1,
  ConfigMusicVolume = 2,
  ConfigSaveReplay = 3,
  ConfigPlayReplay = 4,
  ConfigOk = 5,
};

void TitleSceneInput();
void ConfigSceneInput();
void GameOverSceneInput();

// The level shown for a volume byte: value / 16, or 8 for 255.
int VolumeLevel(int volume);
// One step left or right through 0, 16, ..., 112, 255 (an 8-bit result).
std::uint8_t VolumeStepLeft(std::uint8_t volume);
std::uint8_t VolumeStepRight(std::uint8_t volume);
// True while the title shows the high-score list instead of the title picture.
bool TitleShowsHighScores();
