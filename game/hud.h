// The heads-up display of the play scene and the stage result screen.
#pragma once

void DrawHud();
void DrawStageResult();
