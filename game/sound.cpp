// Effects and music through the host's sound calls.
#include "game/sound.h"

#include "game/game_state.h"
#include "game/host_calls.h"

namespace {

constexpr int kPlayOnce = 1;
constexpr int kPlayLoop = 3;

void Play(int sound, int playType, int fromTop) {
  if (hostCalls.playSound) hostCalls.playSound(sound, playType, fromTop);
}

void Stop(int sound) {
  if (hostCalls.stopSound) hostCalls.stopSound(sound);
}

void SetVolume(int volume, int sound) {
  if (hostCalls.setSoundVolume) hostCalls.setSoundVolume(volume, sound);
}

// Only track 0 exists; the index names it.
void StartMusic(int fromTop) {
  if (game.musicIndex == 0) return;
  if (game.musicIndex != kNoMusic) Stop(tables.musicSound);
  game.musicIndex = 0;
  Play(tables.musicSound, kPlayLoop, fromTop);
}

}  // namespace

void PlayEffect(int effect) {
  if (effect < 0 || effect >= static_cast<int>(tables.effectSounds.size())) return;
  Stop(tables.effectSounds[effect]);
  Play(tables.effectSounds[effect], kPlayOnce, 1);
}

void SetEffectVolume(int volume) {
  for (int sound : tables.effectSounds) SetVolume(volume, sound);
}

void SetMusicVolume(int volume) { SetVolume(volume, tables.musicSound); }

void StartMusicFromTop() { StartMusic(1); }

void ResumeMusic() { StartMusic(0); }

void StopMusic() {
  if (game.musicIndex == kNoMusic) return;
  Stop(tables.musicSound);
  game.musicIndex = kNoMusic;
}
