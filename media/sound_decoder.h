// The sound decoder: reads a source through a StreamRecord and hands out PCM in the format it
// announces. OpenSoundDecoder tries WAV PCM, WAV through the compression manager, Ogg Vorbis,
// MP3 through the compression manager and DirectShow, in that order.
#pragma once

#include <cstdint>

#include <vorbis/vorbisfile.h>

#include "files/file_table.h"
#include "platform/acm/acm.h"
#include "platform/winmm/wave_format.h"

enum SoundDecoderKind : std::int32_t {
  kSoundDecoderWavePcm = 0,
  kSoundDecoderAcm = 1,
  kSoundDecoderOggVorbis = 2,
  kSoundDecoderMemoryPcm = 3,
};

// SoundDecoderDisableMask bits: each skips one decoder.
constexpr int kSoundDecoderSkipWavePcm = 0x01;
constexpr int kSoundDecoderSkipWaveAcm = 0x02;
constexpr int kSoundDecoderSkipOggVorbis = 0x04;
constexpr int kSoundDecoderSkipMp3Acm = 0x08;
constexpr int kSoundDecoderSkipDirectShow = 0x10;

struct OggVorbisDecoderState {
  std::int32_t open;  // 1 while `file` is open
  OggVorbis_File file;
  std::int32_t wordSize;
  std::int32_t damaged;  // 1 after the file layer reported damage: it is read no further
};

// A compressed WAV or MP3 file converted by the compression manager. The whole source sits in
// memory; a standby conversion stream waits at the start for backward seeks.
struct AcmDecoderState {
  std::uint8_t* sourceFormat;  // WAVEFORMATEX followed by its extra bytes (tracked)
  HACMSTREAM streams[2];       // [0] in use, [1] standby
  std::uint8_t* sourceData;    // tracked
  std::int32_t sourceSize;
  std::int32_t sourcePosition;
  std::int32_t totalSamples;  // -1 when not counted
  std::int32_t standbySourcePosition;
  std::int32_t standbyConverted;
  std::uint8_t* standbyOutput;  // tracked, outputBufferSize bytes
  std::int32_t step;            // source bytes per conversion: whole blocks, at least 2048
};

struct MpegFrameHeader {
  std::int32_t layerIndex;  // 0 Layer I, 1 Layer II, 2 Layer III
  std::int32_t lowSamplingRate;
  std::int32_t bitrateIndex;
  std::int32_t sampleRateIndex;
  std::int32_t padding;
  std::int32_t channels;
  std::int32_t sampleRate;
  std::int32_t bitrate;  // kbit/s; 0 for free format
  std::int32_t frameLength;
  std::int32_t samplesPerFrame;
};

// 0, -1 for reserved values, -2 without a frame sync.
int ParseMpegFrameHeader(const std::uint8_t* bytes, MpegFrameHeader* header);

// The eight compression manager calls, looked up by name when the sound system starts.
struct AcmFunctionTable {
  decltype(&acmFormatSuggest) formatSuggest;
  decltype(&acmStreamOpen) streamOpen;
  decltype(&acmStreamClose) streamClose;
  decltype(&acmMetrics) metrics;
  decltype(&acmStreamPrepareHeader) streamPrepareHeader;
  decltype(&acmStreamConvert) streamConvert;
  decltype(&acmStreamUnprepareHeader) streamUnprepareHeader;
  decltype(&acmStreamSize) streamSize;
};
// Null while msacm32.dll or any of the eight is missing: the compressed decoders then refuse.
const AcmFunctionTable* GetAcmFunctions();

struct MemoryPcmDecoderState {
  std::uint8_t* data;
  std::int32_t capacity;
  std::int32_t size;
  std::int32_t readPosition;
};

struct SoundDecoderRecord {
  std::int32_t opened;
  std::int32_t endReached;
  std::int32_t kind;
  StreamRecord stream;
  std::int32_t formatPosition;
  std::int32_t formatSize;
  std::int32_t dataStart;
  std::int32_t dataSize;
  WAVEFORMATEX outputFormat;
  AcmDecoderState acm;
  OggVorbisDecoderState oggVorbis;
  MemoryPcmDecoderState memoryPcm;
  std::uint8_t* outputBuffer;
  std::int32_t outputBufferSize;
  std::int32_t outputBytes;
  std::int32_t outputOffset;
  std::int32_t position;
  std::int32_t standbyTarget;
  std::int32_t movieSound;
};

int OpenSoundDecoder(const StreamRecord* stream, SoundDecoderRecord* decoder);
// Bytes delivered (0 at the end), or -1 when the decoder is not open.
int ReadSoundDecoder(SoundDecoderRecord* decoder, void* buffer, int bytes);
int SeekSoundDecoder(SoundDecoderRecord* decoder, int sample);
int GetSoundDecoderFormat(const SoundDecoderRecord* decoder, WAVEFORMATEX* format);
int GetSoundDecoderTotalBytes(SoundDecoderRecord* decoder);
int CloseSoundDecoder(SoundDecoderRecord* decoder);
// Decodes the whole source into a new tracked block.
int DecodeSoundToPcm(SoundDecoderRecord* decoder, WAVEFORMATEX* format, void** pcm, int* bytes);
int SetSoundDecoderDisableMask(int mask);
int GetSoundDecoderDisableMask();
// A RIFF/WAVE image in a new tracked block: the format chunk, then the data chunk.
int BuildWaveFileImage(void** image, int* bytes, const void* format, int formatBytes,
                       const void* data, int dataBytes);
// The whole stream in a new tracked block.
int ReadWholeStream(const StreamRecord* stream, void** data, int* bytes);

// The decoders, as OpenSoundDecoder tries them: 0 accepted, -1 refused.
int OpenWavePcmDecoder(SoundDecoderRecord* decoder);
int OpenWaveAcmDecoder(SoundDecoderRecord* decoder);
int OpenOggVorbisDecoder(SoundDecoderRecord* decoder);
int OpenMp3AcmDecoder(SoundDecoderRecord* decoder);
int OpenDirectShowAudioDecoder(SoundDecoderRecord* decoder);
// The graph decoder's PCM block, counted in 64 bits so that no size wraps: at first ten times the
// file, then grown in 1 MiB steps until `needed` bytes fit. -1 when that passes 2 GiB - 1,
// which is never asked of the allocator.
std::int64_t InitialPcmCapacity(std::int64_t fileSize);
std::int64_t GrownPcmCapacity(std::int64_t capacity, std::int64_t needed);

// The conversion both compressed decoders share, once the source format, the source data and its
// size are in place: the suggested PCM format, the two conversion streams and the output block
// (one second of PCM, 4/3 of a second for MP3). 0, or -1 (the caller releases).
int OpenAcmConversion(SoundDecoderRecord* decoder, int mpeg);

// Refills of the output block by kind: 0 with new output bytes, -1 when nothing is left.
int ReadWavePcmBlock(SoundDecoderRecord* decoder);
int ReadAcmBlock(SoundDecoderRecord* decoder);
int ReadOggVorbisDecoder(SoundDecoderRecord* decoder);
int ReadMemoryPcmBlock(SoundDecoderRecord* decoder);

int SeekOggVorbisDecoder(SoundDecoderRecord* decoder, int sample);
int SeekAcmDecoder(SoundDecoderRecord* decoder, int target);
int GetOggVorbisDecoderTotalBytes(SoundDecoderRecord* decoder);
int GetAcmDecoderTotalBytes(SoundDecoderRecord* decoder);
int CloseOggVorbisDecoder(SoundDecoderRecord* decoder);
int ReleaseAcmDecoder(SoundDecoderRecord* decoder);

// Bytes per Ogg Vorbis output sample (2) and the switch that the movie code sets while it
// loads a movie's sound track.
int SetOggVorbisOutputWordSize(int bytes);
int GetOggVorbisOutputWordSize();
int SetMovieSoundSwitch(int on);
int GetMovieSoundSwitch();
