// The sound system's shared records and calls: the device and the SoundLock, the sound handle
// table of SoundRecords with their DirectSound buffer wrappers, loading and playing, and the
// per-pass steps of the MIDI and software sound remnants.
#pragma once

#include <cstdint>

#include "media/sound_decoder.h"
#include "platform/dsound/dsound.h"
#include "platform/winmm/wave_format.h"
#include "system/text_helpers.h"

constexpr int kMaxSoundBuffers = 10;
constexpr int kSoundTableSize = 32768;

// The engine's hold on one DirectSound buffer.
struct SoundBufferWrapper {
  std::int32_t created;
  IDirectSoundBuffer* buffer;
};

enum SoundRecordKind : std::int32_t { kNormalSound = 0, kStreamSound = 1 };

constexpr int kMaxStreamEntries = 3;

// How a stream entry holds its source.
enum StreamEntryType : std::int8_t {
  kStreamEntryDecoded = 0,     // decoded whole to PCM, held as an in-memory WAV image
  kStreamEntryCompressed = 2,  // the compressed file held in memory
  kStreamEntryCallers = 3,     // the decoder reads the caller's stream
};

// One source of a stream sound; the entries of a stream play one after another.
struct StreamSoundEntry {
  std::int8_t loopCount;  // -1 loops without end; n plays the entry n + 1 times
  std::int8_t type;
  void* image;  // tracked; types 0 and 2
  std::int32_t imageSize;
  StreamRecord stream;  // over the image (types 0 and 2)
  std::int32_t loopStart;
  std::int32_t endSample;
  SoundDecoderRecord decoder;
};

// The record behind a sound handle. A normal sound plays its PCM from up to ten buffers in turn;
// a stream sound (one ring buffer) is decoded while it plays.
struct SoundRecord {
  std::int32_t checkNumber;
  SoundBufferWrapper buffers[kMaxSoundBuffers];
  WAVEFORMATEX format;
  std::int32_t kind;
  std::int32_t streamPlayType;
  std::int32_t ringOwner;
  std::int32_t sharerCount;
  std::int32_t ringUser;
  std::int32_t deletePending;
  std::int32_t ringSize;
  std::int32_t writePosition;  // -800 until the ring is prefilled
  std::int32_t refillPosition;
  StreamSoundEntry entries[4];
  std::uint8_t entryOpened[4];  // 1 when the engine opened the entry's source itself
  std::int32_t entryCount;
  std::int32_t currentEntry;
  std::int32_t entryPlayCount;
  std::int32_t entryPosition;
  std::int32_t totalSamples;  // of all stream entries
  std::int32_t playedBytes;
  std::int32_t lastCursor;
  std::uint8_t started;
  std::uint8_t draining;
  std::uint8_t loopMarkPending;
  std::uint8_t endedOnce;
  std::int32_t loopSkip;
  std::int32_t endPosition;
  std::int32_t endLimit;
  std::int32_t loopMarkPosition;
  // While draining: bytes played since the data ended, and the data still to play then.
  std::int32_t drainPlayed;
  std::int32_t drainLength;
  ListNode listNode;
  std::int32_t pcmSize;
  void* pcmData;
  std::int32_t* pcmReferenceCount;
  std::int32_t keepData[kMaxSoundBuffers];
  std::int32_t bufferCount;
  std::int32_t currentBuffer;
  std::int32_t volume;
  std::int32_t pan;
  std::int32_t frequency;
  std::uint8_t pendingFlags[3];
  std::int32_t pendingValues[3];
};

// How a load makes its handle (SoundLoadType).
enum : int { kLoadDecoded = 0, kLoadStreamFromMemory = 2, kLoadStreamFromFile = 3 };

// Device and lock.
int StartSoundSystem();
int EndSoundSystem();
// The DirectSound object, or null while the sound system is closed.
IDirectSound* GetDirectSoundObject();
// The sound thread's id, or 0 while none runs.
DWORD GetSoundThreadId();
void EnterSoundLock();
void LeaveSoundLock();
// The head and tail sentinels of the StreamSoundList and of the software player list.
ListNode* GetStreamSoundList(ListNode** tail);
ListNode* GetSoftSoundPlayerList(ListNode** tail);

// Handles and buffers.
int AddSoundData(int handle);
SoundRecord* GetSoundRecord(int handle);
int CreateSoundBuffers(int sourceHandle, const WAVEFORMATEX* format, int dataBytes, int kind,
                       int bufferCount, int handle);
int DeleteSoundData(int handle);
int DeleteAllSoundData();
int GetSoundTotalSamples(int handle);
int GetSoundTotalTime(int handle);
int SamplesToMilliseconds(int samples, int rate);

int CreateSoundBufferWrapper(SoundBufferWrapper* wrapper, const DSBUFFERDESC* desc);
int DuplicateSoundBufferWrapper(SoundBufferWrapper* wrapper, const SoundBufferWrapper* other);
int ReleaseSoundBufferWrapper(SoundBufferWrapper* wrapper);
int PlaySoundBufferWrapper(SoundBufferWrapper* wrapper, int looping);
int StopSoundBufferWrapper(SoundBufferWrapper* wrapper);
int GetSoundBufferStatus(SoundBufferWrapper* wrapper, DWORD* status);
int GetSoundBufferPlayCursor(SoundBufferWrapper* wrapper, DWORD* cursor);
int LockSoundBufferWrapper(SoundBufferWrapper* wrapper, DWORD offset, DWORD bytes, void** part1,
                           DWORD* bytes1, void** part2, DWORD* bytes2);
int UnlockSoundBufferWrapper(SoundBufferWrapper* wrapper, void* part1, DWORD bytes1, void* part2,
                             DWORD bytes2);
int SetSoundBufferFrequency(SoundBufferWrapper* wrapper, int hertz);
int SetSoundBufferPan(SoundBufferWrapper* wrapper, int pan);
int SetSoundBufferVolume(SoundBufferWrapper* wrapper, int volume);
int SetSoundBufferPosition(SoundBufferWrapper* wrapper, int bytes);

// Loading and playing (the public four are in media/media.h).
int LoadSoundDataFromFileImage(const void* image, int bytes, int bufferCount, int sharedStream);
int IsSoundDataPlaying(int handle);
int GetSoundDataPlayTime(int handle);
int SetSoundLoadType(int type);
int GetSoundLoadType();
int LoadFileToMemory(const char* path, void** data, int* bytes);

// Stream sounds.
int AddSreamSound(const StreamRecord* stream, int loopCount, int handle, int type, int* ownsStream,
                  int sharedStream);
int AddStreamSoundFile(const char* path, int loopCount, int handle, int loadType, int sharedStream);
int AddStreamSoundFileImage(const void* image, int bytes, int loopCount, int handle, int loadType,
                            int sharedStream);
int PrefillStreamSoundBuffer(int handle);
int PlayStreamSoundBuffer(int handle, int playType, int fromTop);
int StopStreamSoundBuffer(int handle);
int IsStreamSoundPlaying(int handle);
int GetStreamSoundPlayTime(int handle);
int RefillStreamSoundBuffer(int handle);
// One refill pass over every stream sound (the message pump's, on a single processor).
int RefillAllStreamSoundBuffers();
// The stream part of DeleteSoundData: 1 when the record must stay because other streams still
// play through its ring, else 0 after its entries and ring are released.
int ReleaseStreamSoundParts(int handle, SoundRecord* record);

// MIDI, capture and software sound remnants.
int UpdateMidiPlayStates();
int HandleMidiMciNotify();
int GetMidiPlayState(int midiHandle);
int StopMidiHandle(int midiHandle);
int DeleteMidiHandle(int midiHandle);
int DeleteAllMidiHandles();
int DeleteTemporaryMidiFile();
int ReleasePendingMusic();
int FinishSoundCaptureFile();
int DeleteSoftSound(int handle, int kind);
int DeleteAllSoftSoundData();
int DeleteAllSoftSoundPlayers();
int ProcessAllSoftSoundPlayers();
