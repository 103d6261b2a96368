// The compression manager stand-in: found by name, suggesting PCM for what it converts, and
// converting whole blocks and frames only, never past the destination, reporting what it used.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/acm/acm.h"
#include "platform/win32/kernel.h"

namespace {

// An IMA ADPCM mono format with its extra bytes (samples per block) after the record.
struct ImaFormat {
  WAVEFORMATEX wfx;
  std::uint8_t extra[2];
};

ImaFormat MakeImaFormat(WORD blockAlign) {
  ImaFormat format{};
  format.wfx = {WAVE_FORMAT_IMA_ADPCM, 1, 8000, 4000, blockAlign, 4, 2};
  const int samples = (blockAlign - 4) * 2 + 1;
  format.extra[0] = static_cast<std::uint8_t>(samples);
  format.extra[1] = static_cast<std::uint8_t>(samples >> 8);
  return format;
}

ACMSTREAMHEADER Header(std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& destination,
                       DWORD destinationBytes) {
  ACMSTREAMHEADER header{};
  header.cbStruct = sizeof header;
  header.pbSrc = source.data();
  header.cbSrcLength = static_cast<DWORD>(source.size());
  header.pbDst = destination.data();
  header.cbDstLength = destinationBytes;
  return header;
}

TEST(AcmTest, TheEightCallsAreFoundByName) {
  HMODULE module = LoadLibraryA("msacm32.dll");
  ASSERT_NE(module, nullptr);
  for (const char* name :
       {"acmFormatSuggest", "acmStreamOpen", "acmStreamClose", "acmMetrics",
        "acmStreamPrepareHeader", "acmStreamConvert", "acmStreamUnprepareHeader", "acmStreamSize"})
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  FreeLibrary(module);
}

TEST(AcmTest, SuggestsSixteenBitPcmOnlyForFormatsItConverts) {
  ImaFormat ima = MakeImaFormat(256);
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(acmFormatSuggest(nullptr, &ima.wfx, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(pcm.nChannels, 1);
  EXPECT_EQ(pcm.nSamplesPerSec, 8000u);
  EXPECT_EQ(pcm.wBitsPerSample, 16);
  EXPECT_EQ(pcm.nBlockAlign, 2);
  EXPECT_EQ(pcm.nAvgBytesPerSec, 16000u);
  WAVEFORMATEX gsm = {0x31, 1, 8000, 1625, 65, 0, 0};
  EXPECT_EQ(acmFormatSuggest(nullptr, &gsm, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);
  ImaFormat zeroChannels = MakeImaFormat(256);
  zeroChannels.wfx.nChannels = 0;
  EXPECT_EQ(
      acmFormatSuggest(nullptr, &zeroChannels.wfx, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG),
      ACMERR_NOTPOSSIBLE);
  DWORD largest = 0;
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest), MMSYSERR_NOERROR);
  EXPECT_GE(largest, sizeof(MPEGLAYER3WAVEFORMAT));
}

TEST(AcmTest, ConvertsWholeBlocksThatFitAndNoByteMore) {
  ImaFormat ima = MakeImaFormat(256);
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  acmFormatSuggest(nullptr, &ima.wfx, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG);
  HACMSTREAM stream = nullptr;
  ASSERT_EQ(
      acmStreamOpen(&stream, nullptr, &ima.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
      MMSYSERR_NOERROR);
  const DWORD blockOutput = 505 * 2;
  DWORD size = 0;
  ASSERT_EQ(acmStreamSize(stream, 3 * 256 + 100, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(size, 3 * blockOutput);

  std::vector<std::uint8_t> source(3 * 256 + 100, 0x37);
  std::vector<std::uint8_t> destination(3 * blockOutput, 0xEE);
  ACMSTREAMHEADER header = Header(source, destination, blockOutput * 3 / 2);
  EXPECT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
  ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_EQ(header.cbSrcLengthUsed, 256u) << "one block fits the destination";
  EXPECT_EQ(header.cbDstLengthUsed, blockOutput);
  for (DWORD i = blockOutput; i < destination.size(); ++i) ASSERT_EQ(destination[i], 0xEE) << i;
  // With room for all, the partial block at the end stays unconverted.
  header = Header(source, destination, static_cast<DWORD>(destination.size()));
  acmStreamPrepareHeader(stream, &header, 0);
  acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(header.cbSrcLengthUsed, 3 * 256u);
  EXPECT_EQ(header.cbDstLengthUsed, 3 * blockOutput);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamConvert(stream, &header, 0), MMSYSERR_INVALHANDLE);
}

TEST(AcmTest, MpegConvertsWholeFramesThroughLibmpg123) {
  MPEGLAYER3WAVEFORMAT mp3{};
  mp3.wfx = {WAVE_FORMAT_MPEGLAYER3, 2, 44100, 16000, 1, 0, 12};
  mp3.wID = MPEGLAYER3_ID_MPEG;
  mp3.nBlockSize = 417;
  mp3.nFramesPerBlock = 1;
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(acmFormatSuggest(nullptr, &mp3.wfx, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  HACMSTREAM stream = nullptr;
  ASSERT_EQ(
      acmStreamOpen(&stream, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
      MMSYSERR_NOERROR);
  // Three silent MPEG-1 Layer III frames (128 kbit/s) and a cut fourth.
  std::vector<std::uint8_t> source;
  for (int i = 0; i < 4; ++i) {
    std::vector<std::uint8_t> frame(417, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    source.insert(source.end(), frame.begin(), frame.end());
  }
  source.resize(source.size() - 100);
  const DWORD frameOutput = 1152 * 4;
  std::vector<std::uint8_t> destination(4 * frameOutput, 0xEE);
  ACMSTREAMHEADER header = Header(source, destination, frameOutput * 5 / 2);
  acmStreamPrepareHeader(stream, &header, 0);
  ASSERT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_EQ(header.cbSrcLengthUsed, 2 * 417u);
  EXPECT_EQ(header.cbDstLengthUsed, 2 * frameOutput);
  for (DWORD i = 2 * frameOutput; i < destination.size(); ++i) ASSERT_EQ(destination[i], 0xEE);
  std::vector<std::uint8_t> rest(source.begin() + 2 * 417, source.end());
  header = Header(rest, destination, static_cast<DWORD>(destination.size()));
  acmStreamPrepareHeader(stream, &header, 0);
  acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(header.cbSrcLengthUsed, 417u) << "the cut frame waits for more";
  EXPECT_EQ(header.cbDstLengthUsed, frameOutput);
  acmStreamUnprepareHeader(stream, &header, 0);
  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
}

}  // namespace
