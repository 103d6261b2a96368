// Entry points of sound topics still being written: each does the least until its topic is
// built. The compressed-WAV and MP3 decoders of the compression manager refuse every file; stream
// sounds cannot be made, so nothing ever plays, refills or releases one.
#include "media/sound_decoder.h"
#include "media/sound_system.h"

int OpenWaveAcmDecoder(SoundDecoderRecord*) { return -1; }
int OpenMp3AcmDecoder(SoundDecoderRecord*) { return -1; }
int ReadAcmBlock(SoundDecoderRecord*) { return -1; }
int SeekAcmDecoder(SoundDecoderRecord*, int) { return -1; }
int GetAcmDecoderTotalBytes(SoundDecoderRecord*) { return 0; }
int ReleaseAcmDecoder(SoundDecoderRecord*) { return 0; }

int AddStreamSoundFile(const char*, int, int, int, int) { return -1; }
int AddStreamSoundFileImage(const void*, int, int, int, int, int) { return -1; }
int PrefillStreamSoundBuffer(int) { return -1; }
int PlayStreamSoundBuffer(int, int, int) { return -1; }
int StopStreamSoundBuffer(int) { return -1; }
int IsStreamSoundPlaying(int) { return -1; }
int GetStreamSoundPlayTime(int) { return -1; }
int RefillStreamSoundBuffer(int) { return -1; }
int ReleaseStreamSoundParts(int, SoundRecord*) { return 0; }

#include "media/movie.h"

int RefillAllStreamSoundBuffers() { return 0; }

int UpdateMovieOverlay(int, int, int, int, int) { return 0; }
int UpdateAllMovieOverlays() { return 0; }
