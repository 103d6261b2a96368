// The play scene (scenes 1 and 2) without its drawing, and the stage lifecycle that the title,
// the play scene and replays share. One frame is PlaySceneUpdate, the drawing of the stage and
// the heads-up display, PlaySceneStates (with the pause text or the stage result drawn before
// it), then PlaySceneLeave (with "REPLAY" drawn before it when still in scene 2).
#pragma once

// Stops the music and shows the title's "PRESS SPACE" prompt.
void ReturnToTitle();
// Starts a new game at the stage (the title's START menu and the arcade start).
void StartStage(int stage);
// The common (re)start of the current stage from its restart column and row.
void ResetStageRun();

// Input (keys, or the replay file in scene 2), then UpdatePlayWorld.
void PlaySceneUpdate();
// With the player's control byte for the frame set: the update of every object, collisions and
// the miss and goal test.
void UpdatePlayWorld();
// The play states: pause, the wait after a miss, and the stage end with the next stage or the
// final results.
void PlaySceneStates();
// A replay ends on any key; Esc leaves to the title.
void PlaySceneLeave();
// One frame of the play scene without drawing.
void RunPlaySceneFrame();
