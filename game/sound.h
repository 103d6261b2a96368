// The game's sounds: seven effects played by number and one looping music track, with the
// music index that says whether the track plays (0) or not (255).
#pragma once

enum SoundEffect : int {
  EffectItem = 0,
  EffectFire = 1,
  EffectDamage = 2,
  EffectEnemyDestroyed = 3,
  EffectCursor = 4,
  EffectConfirm = 5,
  EffectCancel = 6,
};

// Stops effect i and plays it once from the top, so a repeated effect restarts.
void PlayEffect(int effect);
void SetEffectVolume(int volume);
void SetMusicVolume(int volume);
void StartMusicFromTop();
// Ends a pause: the music carries on from where it stopped.
void ResumeMusic();
void StopMusic();
