// The layer of small operations through which all sound code touches a DirectSound buffer.
// Each returns -1 when the wrapper holds no buffer or the buffer refuses the call.
#include "media/sound_system.h"

namespace {

int Result(HRESULT result) { return SUCCEEDED(result) ? 0 : -1; }

}  // namespace

int CreateSoundBufferWrapper(SoundBufferWrapper* wrapper, const DSBUFFERDESC* desc) {
  IDirectSound* directSound = GetDirectSoundObject();
  if (wrapper->created || directSound == nullptr) return -1;
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(directSound->CreateSoundBuffer(desc, &buffer, nullptr))) return -1;
  wrapper->buffer = buffer;
  wrapper->created = 1;
  return 0;
}

int DuplicateSoundBufferWrapper(SoundBufferWrapper* wrapper, const SoundBufferWrapper* other) {
  IDirectSound* directSound = GetDirectSoundObject();
  if (wrapper->created || !other->created || directSound == nullptr) return -1;
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(directSound->DuplicateSoundBuffer(other->buffer, &buffer))) return -1;
  wrapper->buffer = buffer;
  wrapper->created = 1;
  return 0;
}

int ReleaseSoundBufferWrapper(SoundBufferWrapper* wrapper) {
  if (!wrapper->created) return -1;
  wrapper->buffer->Release();
  wrapper->buffer = nullptr;
  wrapper->created = 0;
  return 0;
}

int PlaySoundBufferWrapper(SoundBufferWrapper* wrapper, int looping) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->Play(0, 0, looping ? DSBPLAY_LOOPING : 0));
}

int StopSoundBufferWrapper(SoundBufferWrapper* wrapper) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->Stop());
}

int GetSoundBufferStatus(SoundBufferWrapper* wrapper, DWORD* status) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->GetStatus(status));
}

int GetSoundBufferPlayCursor(SoundBufferWrapper* wrapper, DWORD* cursor) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->GetCurrentPosition(cursor, nullptr));
}

int LockSoundBufferWrapper(SoundBufferWrapper* wrapper, DWORD offset, DWORD bytes, void** part1,
                           DWORD* bytes1, void** part2, DWORD* bytes2) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->Lock(offset, bytes, part1, bytes1, part2, bytes2, 0));
}

int UnlockSoundBufferWrapper(SoundBufferWrapper* wrapper, void* part1, DWORD bytes1, void* part2,
                             DWORD bytes2) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->Unlock(part1, bytes1, part2, bytes2));
}

int SetSoundBufferFrequency(SoundBufferWrapper* wrapper, int hertz) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->SetFrequency(static_cast<DWORD>(hertz)));
}

int SetSoundBufferPan(SoundBufferWrapper* wrapper, int pan) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->SetPan(pan));
}

int SetSoundBufferVolume(SoundBufferWrapper* wrapper, int volume) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->SetVolume(volume));
}

int SetSoundBufferPosition(SoundBufferWrapper* wrapper, int bytes) {
  if (!wrapper->created) return -1;
  return Result(wrapper->buffer->SetCurrentPosition(static_cast<DWORD>(bytes)));
}
