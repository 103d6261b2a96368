// The five scene handlers of the main loop, each one frame of its scene (input, update and
// drawing), and the table that the main loop dispatches through by scene number.
#pragma once

#include <array>

void TitleScene();
void PlayScene();
void GameOverScene();
void ConfigScene();

using SceneHandler = void (*)();
extern const std::array<SceneHandler, 5> SceneTable;
