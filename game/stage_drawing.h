// Drawing of the stage's objects, back to front in the play scene: blocks, steps, items,
// enemies (ordinary, then bosses), shots (the player's, then enemy bullets), the player and the
// score popups.
#pragma once

void DrawBlocks();
void DrawSteps();
void DrawItems();
void DrawEnemies();
void DrawShots();
void DrawPlayer();
void DrawPopups();
// All of the above in that order.
void DrawStage();
