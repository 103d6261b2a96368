// The DirectSound stand-in's buffer objects, as the device object makes them.
#pragma once

#include "platform/dsound/dsound.h"

bool IsSupportedWaveFormat(const WAVEFORMATEX* format);
HRESULT CreatePrimarySoundBuffer(IDirectSoundBuffer** buffer);
HRESULT CreateSecondarySoundBuffer(const DSBUFFERDESC& desc, IDirectSoundBuffer** buffer);
HRESULT DuplicateSecondarySoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** duplicate);
