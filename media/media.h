// Sound's public calls: sound handles (engine handles of type 2) loaded from files, played,
// stopped and set in volume.
#pragma once

// How PlaySoundData plays: 0 waits until the end, 1 plays once in the background, 3 loops.
enum SoundPlayType { SoundPlayWait = 0, SoundPlayBack = 1, SoundPlayLoop = 3 };

int LoadSoundDataFile(const char* path, int bufferCount, int sharedStream);
int SetSoundDataVolume(int volume, int sound);
int PlaySoundData(int sound, int playType, int fromTop);
int StopSoundData(int sound);
