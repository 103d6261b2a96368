// The Audio Compression Manager as the sound decoders call it through "msacm32.dll": format
// suggestion, conversion streams and their headers. It converts MS ADPCM, IMA ADPCM, A-law and
// µ-law with decoders of its own and MPEG audio (Layers I-III) through libmpg123, always to
// 16-bit PCM at the source's rate and channel count.
#pragma once

#include <span>

#include "platform/win32/kernel.h"
#include "platform/winmm/wave_format.h"
#include "platform/winmm/winmm.h"

// A format's cbSize extra bytes follow its WAVEFORMATEX record in memory, at
// sizeof(WAVEFORMATEX): the layer keeps the record unpacked, so that is 20 bytes, not 18.
constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

constexpr WORD MPEGLAYER3_ID_MPEG = 1;

struct AcmStreamObject;
struct AcmDriverObject;
struct AcmObject;
using HACMSTREAM = AcmStreamObject*;
using HACMDRIVER = AcmDriverObject*;
using HACMOBJ = AcmObject*;
using LPHACMSTREAM = HACMSTREAM*;
struct WAVEFILTER;
using LPWAVEFILTER = WAVEFILTER*;

struct ACMSTREAMHEADER {
  DWORD cbStruct;
  DWORD fdwStatus;
  DWORD_PTR dwUser;
  LPBYTE pbSrc;
  DWORD cbSrcLength;
  DWORD cbSrcLengthUsed;
  DWORD_PTR dwSrcUser;
  LPBYTE pbDst;
  DWORD cbDstLength;
  DWORD cbDstLengthUsed;
  DWORD_PTR dwDstUser;
  DWORD dwReservedDriver[10];
};
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;

struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wID;
  DWORD fdwFlags;
  WORD nBlockSize;
  WORD nFramesPerBlock;
  WORD nCodecDelay;
};

MMRESULT acmFormatSuggest(HACMDRIVER driver, LPWAVEFORMATEX source, LPWAVEFORMATEX destination,
                          DWORD destinationBytes, DWORD flags);
MMRESULT acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX source,
                       LPWAVEFORMATEX destination, LPWAVEFILTER filter, DWORD_PTR callback,
                       DWORD_PTR instance, DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
MMRESULT acmMetrics(HACMOBJ object, UINT metric, LPVOID value);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD inputBytes, LPDWORD outputBytes, DWORD flags);

// The entry points of "msacm32.dll" for the module table.
std::span<const PlatformModuleEntry> AcmModuleEntries();
