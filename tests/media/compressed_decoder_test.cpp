// Compressed WAV files and MP3 files through the sound decoders and the compression manager:
// each format against a reference that shares none of the engine's code (SoX for G.711 and
// ADPCM, libmpg123 used directly for MP3), seeks both ways, the MP3 frame scan, and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "compressed_fixtures.h"
#include "media/media.h"
#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "system/tracked_memory.h"

namespace {

using namespace compressed_fixtures;

class DecoderOver {
 public:
  explicit DecoderOver(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    memory_ = OpenMemoryStream(bytes_.data(), static_cast<std::int32_t>(bytes_.size()));
    stream_ = StreamRecord{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory_)};
    result_ = OpenSoundDecoder(&stream_, &decoder_);
  }
  ~DecoderOver() {
    if (result_ == 0) CloseSoundDecoder(&decoder_);
    CloseMemoryStream(reinterpret_cast<std::intptr_t>(memory_));
  }
  int result() const { return result_; }
  SoundDecoderRecord* get() { return &decoder_; }

  std::vector<std::int16_t> DecodeAll() {
    WAVEFORMATEX format;
    void* pcm = nullptr;
    int bytes = 0;
    if (DecodeSoundToPcm(&decoder_, &format, &pcm, &bytes) != 0) return {};
    const std::vector<std::uint8_t> raw(static_cast<std::uint8_t*>(pcm),
                                        static_cast<std::uint8_t*>(pcm) + bytes);
    TrackedFree(pcm);
    return Samples(raw);
  }
  std::vector<std::int16_t> Read(int samples) {
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(samples) * 2);
    const int got = ReadSoundDecoder(&decoder_, raw.data(), samples * 2);
    raw.resize(static_cast<std::size_t>(std::max(got, 0)));
    return Samples(raw);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  MemoryStreamRecord* memory_;
  StreamRecord stream_{};
  SoundDecoderRecord decoder_{};
  int result_;
};

// The compression manager is looked up when the sound system starts.
class CompressedDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    blocksBefore_ = GetTrackedBlockCount();
    SetDirectSoundOutput(DirectSoundOutputManual);
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_NE(GetAcmFunctions(), nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(EndSoundSystem(), 0);
    SetDirectSoundOutput(DirectSoundOutputDevice);
    EXPECT_EQ(GetAcmFunctions(), nullptr);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore_) << "every tracked block is released";
  }
  int blocksBefore_ = 0;
};

TEST_F(CompressedDecoderTest, EachWaveFormatDecodesAsSoxDoes) {
  const struct {
    const char* name;
    CompressedWave wave;
  } cases[] = {
      {"A-law mono", G711Wave(6, 1, 3000)},
      {"mu-law stereo", G711Wave(7, 2, 3000)},
      {"IMA ADPCM mono, 256-byte blocks", ImaWave(1, 22050, 256, 40)},
      {"IMA ADPCM stereo, 2048-byte blocks", ImaWave(2, 44100, 2048, 9)},
      {"IMA ADPCM stereo, 4096-byte blocks", ImaWave(2, 44100, 4096, 5)},
      {"MS ADPCM mono, 512-byte blocks", MsAdpcmWave(1, 22050, 512, 30)},
      {"MS ADPCM stereo, 2048-byte blocks", MsAdpcmWave(2, 44100, 2048, 9)},
      {"MS ADPCM stereo, 4096-byte blocks", MsAdpcmWave(2, 44100, 4096, 5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = WaveFile(c.wave);
    const auto reference = DecodeWithSox(file);
    ASSERT_FALSE(reference.empty());
    DecoderOver decoder(file);
    ASSERT_EQ(decoder.result(), 0);
    EXPECT_EQ(decoder.get()->kind, kSoundDecoderAcm);
    EXPECT_EQ(decoder.get()->outputFormat.nChannels, c.wave.channels);
    EXPECT_EQ(decoder.get()->outputFormat.wBitsPerSample, 16);
    EXPECT_EQ(GetSoundDecoderTotalBytes(decoder.get()), static_cast<int>(reference.size() * 2));
    EXPECT_EQ(decoder.DecodeAll(), reference);
  }
}

TEST_F(CompressedDecoderTest, AdpcmSeeksForwardAndBackLandOnTheSample) {
  const auto file = WaveFile(MsAdpcmWave(2, 44100, 4096, 6));
  const auto reference = DecodeWithSox(file);
  DecoderOver decoder(file);
  for (int frame : {9000, 100, 20000, 4093, 0}) {
    SCOPED_TRACE(frame);
    SeekSoundDecoder(decoder.get(), frame);
    EXPECT_EQ(decoder.get()->position, frame * 4);
    const auto got = decoder.Read(600);
    ASSERT_EQ(got.size(), 600u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin() + 2 * frame));
  }
}

TEST_F(CompressedDecoderTest, DamagedOrUnknownCompressedWavesAreRefusedOrCut) {
  auto withTag = G711Wave(0x31, 1, 100);  // GSM 6.10: not converted
  auto zeroRate = ImaWave(1, 22050, 256, 2);
  zeroRate.rate = 0;
  auto noCoefficients = MsAdpcmWave(1, 22050, 512, 2);
  noCoefficients.extra.resize(2);
  const struct {
    const char* name;
    std::vector<std::uint8_t> file;
  } refused[] = {
      {"a tag the manager does not convert", WaveFile(withTag)},
      {"rate 0", WaveFile(zeroRate)},
      {"MS ADPCM without its predictor table", WaveFile(noCoefficients)},
  };
  // ADPCM bytes may hold false MP3 frame headers: only the WAV decoders are asked here.
  SetSoundDecoderDisableMask(kSoundDecoderSkipMp3Acm);
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecoderOver(c.file).result(), -1);
  }
  SetSoundDecoderDisableMask(0);
  // Codes that raise the MS ADPCM step in every sample: the step stops growing, samples clip.
  auto rising = MsAdpcmWave(1, 22050, 512, 2);
  for (std::size_t b = 0; b < rising.data.size(); b += 512) {
    rising.data[b + 1] = 0xFF;
    rising.data[b + 2] = 0x7F;
    std::fill(rising.data.begin() + b + 7, rising.data.begin() + b + 512, 0x77);
  }
  DecoderOver risingDecoder(WaveFile(rising));
  ASSERT_EQ(risingDecoder.result(), 0);
  const auto clipped = risingDecoder.DecodeAll();
  ASSERT_EQ(clipped.size(), 2u * 1012);
  EXPECT_EQ(clipped.back(), 32767);
  // A data chunk cut short keeps the whole blocks that are there.
  auto file = WaveFile(ImaWave(1, 22050, 256, 10));
  const auto reference = DecodeWithSox(file);
  file.resize(file.size() - 256 - 100);
  DecoderOver cut(file);
  ASSERT_EQ(cut.result(), 0);
  const auto decoded = cut.DecodeAll();
  ASSERT_EQ(decoded.size(), reference.size() / 10 * 8);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), reference.begin()));
}

// A 310-byte file whose one predictor is -32768, -32768 and whose first samples are -32768: the
// prediction of (-32768 * -32768 * 2) >> 8 is clamped, and so is every one after it.
TEST_F(CompressedDecoderTest, MsAdpcmAtTheExtremesClampsEachSample) {
  auto extreme = MsAdpcmWave(1, 22050, 244, 1);
  extreme.extra.resize(4);
  extreme.extra[2] = 1;  // one predictor set
  extreme.extra[3] = 0;
  Put16(extreme.extra, 0x8000);
  Put16(extreme.extra, 0x8000);
  const std::uint8_t header[7] = {0, 16, 0, 0x00, 0x80, 0x00, 0x80};
  std::copy(std::begin(header), std::end(header), extreme.data.begin());
  std::fill(extreme.data.begin() + 7, extreme.data.end(), 0);
  const auto file = WaveFile(extreme);
  ASSERT_EQ(file.size(), 310u);
  DecoderOver decoder(file);
  ASSERT_EQ(decoder.result(), 0);
  const auto samples = decoder.DecodeAll();
  ASSERT_EQ(samples.size(), 476u);
  // Codes of 0 add nothing: each sample is the clamped prediction from the two before it.
  const std::int16_t first[] = {-32768, -32768, 32767, 128, -32768, 32767, 128};
  EXPECT_TRUE(std::equal(std::begin(first), std::end(first), samples.begin()));
  for (std::size_t i = 2; i < samples.size(); ++i) {
    const std::int64_t predicted =
        (std::int64_t{samples[i - 1]} * -32768 + std::int64_t{samples[i - 2]} * -32768) >> 8;
    ASSERT_EQ(samples[i], std::clamp<std::int64_t>(predicted, -32768, 32767)) << i;
  }
}

TEST_F(CompressedDecoderTest, Mp3DecodesAsLibmpg123UsedDirectly) {
  const struct {
    const char* name;
    Mp3Options options;
    bool tags;
  } cases[] = {
      {"CBR stereo 44.1 kHz with ID3v2 and ID3v1", {2, 44100, 44100, false}, true},
      {"VBR mono 22.05 kHz with its info frame", {1, 22050, 30000, true}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto mp3 = EncodeMp3(c.options);
    const auto reference = DecodeWithMpg123(mp3);
    const int samplesPerFrame = c.options.rate > 24000 ? 1152 : 576;
    ASSERT_FALSE(reference.empty());
    ASSERT_EQ(reference.size() % (samplesPerFrame * c.options.channels), 0u);
    std::vector<std::uint8_t> file;
    if (c.tags) file = Id3v2Tag({0, 0, 2, 1}, 257);
    file.insert(file.end(), mp3.begin(), mp3.end());
    if (c.tags) {
      const auto tag = Id3v1Tag();
      file.insert(file.end(), tag.begin(), tag.end());
    }
    DecoderOver decoder(file);
    ASSERT_EQ(decoder.result(), 0);
    EXPECT_EQ(decoder.get()->kind, kSoundDecoderAcm);
    EXPECT_EQ(decoder.get()->dataStart, c.tags ? 267 : 0);
    EXPECT_EQ(decoder.get()->outputFormat.nChannels, c.options.channels);
    EXPECT_EQ(decoder.get()->outputFormat.nSamplesPerSec, static_cast<DWORD>(c.options.rate));
    // Frames × samples per frame × block.
    EXPECT_EQ(GetSoundDecoderTotalBytes(decoder.get()), static_cast<int>(reference.size() * 2));
    EXPECT_EQ(decoder.DecodeAll(), reference);
  }
}

TEST_F(CompressedDecoderTest, Mp3SeeksForwardAndBackThroughTheStandbyStream) {
  const auto mp3 = EncodeMp3({2, 44100, 44100 * 2, false});
  const auto reference = DecodeWithMpg123(mp3);
  DecoderOver decoder(mp3);
  ASSERT_EQ(decoder.result(), 0);
  HACMSTREAM standby = decoder.get()->acm.streams[1];
  for (int frame : {50000, 1234, 70000, 30000}) {
    SCOPED_TRACE(frame);
    const bool backward = frame * 4 < decoder.get()->position;
    SeekSoundDecoder(decoder.get(), frame);
    if (backward) {
      EXPECT_EQ(decoder.get()->acm.streams[0], standby) << "the standby stream took over";
    }
    standby = decoder.get()->acm.streams[1];
    EXPECT_EQ(decoder.get()->position, frame * 4);
    const auto got = decoder.Read(800);
    ASSERT_EQ(got.size(), 800u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin() + 2 * frame));
  }
}

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo: 417 bytes (418 padded), 1152 samples.
std::vector<std::uint8_t> Frame(bool padded = false, std::uint8_t byte2 = 0x90) {
  std::vector<std::uint8_t> frame(padded ? 418 : 417, 0);
  frame[0] = 0xFF;
  frame[1] = 0xFB;
  frame[2] = static_cast<std::uint8_t>(byte2 | (padded ? 2 : 0));
  frame[3] = 0x00;
  return frame;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST_F(CompressedDecoderTest, Mp3FrameScan) {
  const std::vector<std::uint8_t> junk(100, 0x21);
  auto truncatedLast = Frame();
  truncatedLast.resize(200);
  const std::vector<std::uint8_t> falseSync = {0xFF, 0xF9, 0x00, 0x00, 0x12};
  // A 15-byte body and a 10-byte footer; a false sync just past the body.
  auto id3v4 = Join({std::vector<std::uint8_t>{'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 5},
                     std::vector<std::uint8_t>(5, 0), falseSync, std::vector<std::uint8_t>(5, 0)});
  const struct {
    const char* name;
    std::vector<std::uint8_t> file;
    int accepted;
    int dataStart, dataSize, samples;
  } cases[] = {
      {"ID3v2 size bytes 00 00 02 01", Join({Id3v2Tag({0, 0, 2, 1}, 257), Frame(), Frame(true)}), 0,
       267, 835, 2304},
      {"ID3v2.4 footer counted", Join({id3v4, Frame()}), 0, 25, 417, 1152},
      {"trailing TAG cuts the last frame", Join({Frame(), Frame(), truncatedLast, Id3v1Tag()}), 0,
       0, 417 * 2 + 200, 3456},
      {"junk before the first frame is stepped over", Join({junk, Frame(), Frame()}), 0, 100, 834,
       2304},
      {"a false sync after good frames ends the data", Join({Frame(), Frame(), falseSync, Frame()}),
       0, 0, 834, 2304},
      {"a false sync before any frame refuses", Join({falseSync, Frame(), Frame()}), -1, 0, 0, 0},
      {"reserved sample rate", Join({Frame(false, 0x9C), Frame()}), -1, 0, 0, 0},
      {"reserved bitrate", Join({Frame(false, 0xF0), Frame()}), -1, 0, 0, 0},
      {"free format", Join({Frame(false, 0x00), Frame()}), -1, 0, 0, 0},
      {"no frame at all", junk, -1, 0, 0, 0},
  };
  SetSoundDecoderDisableMask(0x1F & ~kSoundDecoderSkipMp3Acm);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DecoderOver decoder(c.file);
    ASSERT_EQ(decoder.result(), c.accepted);
    if (c.accepted != 0) continue;
    EXPECT_EQ(decoder.get()->dataStart, c.dataStart);
    EXPECT_EQ(decoder.get()->dataSize, c.dataSize);
    EXPECT_EQ(decoder.get()->acm.totalSamples, c.samples);
  }
  SetSoundDecoderDisableMask(0);
}

TEST_F(CompressedDecoderTest, MpegFrameHeaders) {
  const struct {
    std::array<std::uint8_t, 4> bytes;
    int result, layer, lowRate, bitrate, rate, padding, channels, length, samples;
  } cases[] = {
      {{0xFF, 0xFB, 0x90, 0x00}, 0, 2, 0, 128, 44100, 0, 2, 417, 1152},
      {{0xFF, 0xFB, 0x92, 0xC0}, 0, 2, 0, 128, 44100, 1, 1, 418, 1152},
      {{0xFF, 0xF3, 0x84, 0xC0}, 0, 2, 1, 64, 24000, 0, 1, 192, 576},
      {{0xFF, 0xFD, 0x94, 0x00}, 0, 1, 0, 160, 48000, 0, 2, 480, 1152},
      {{0xFF, 0xFF, 0x98, 0x00}, 0, 0, 0, 288, 32000, 0, 2, 432, 384},
      {{0xFF, 0xF5, 0x88, 0x00}, 0, 1, 1, 64, 16000, 0, 2, 576, 1152},
      {{0xFF, 0xFB, 0x00, 0x00}, 0, 2, 0, 0, 44100, 0, 2, 0, 1152},
      {{0xFF, 0xF9, 0x90, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0, 0},
      {{0xFF, 0xFB, 0xF0, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0, 0},
      {{0xFF, 0xFB, 0x9C, 0x00}, -1, 0, 0, 0, 0, 0, 0, 0, 0},
      {{0xFF, 0xEB, 0x90, 0x00}, -2, 0, 0, 0, 0, 0, 0, 0, 0},
      {{0xFE, 0xFB, 0x90, 0x00}, -2, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    MpegFrameHeader header{};
    ASSERT_EQ(ParseMpegFrameHeader(c.bytes.data(), &header), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(header.layerIndex, c.layer);
    EXPECT_EQ(header.lowSamplingRate, c.lowRate);
    EXPECT_EQ(header.bitrate, c.bitrate);
    EXPECT_EQ(header.sampleRate, c.rate);
    EXPECT_EQ(header.padding, c.padding);
    EXPECT_EQ(header.channels, c.channels);
    EXPECT_EQ(header.frameLength, c.length);
    EXPECT_EQ(header.samplesPerFrame, c.samples);
  }
}

TEST_F(CompressedDecoderTest, CompressedSoundsLoadAndPlay) {
  const auto file = WaveFile(ImaWave(2, 44100, 2048, 6));
  const auto reference = DecodeWithSox(file);
  const int sound = LoadSoundDataFromFileImage(file.data(), static_cast<int>(file.size()), 1, -1);
  ASSERT_NE(sound, -1);
  ASSERT_EQ(PlaySoundData(sound, SoundPlayBack, 1), 0);
  std::vector<std::int16_t> out(reference.size());
  RenderDirectSoundOutput(out.data(), static_cast<int>(reference.size() / 2));
  EXPECT_EQ(out, reference);
  const auto mp3 = EncodeMp3({2, 44100, 20000, false});
  const int music = LoadSoundDataFromFileImage(mp3.data(), static_cast<int>(mp3.size()), 1, -1);
  EXPECT_NE(music, -1);
  EXPECT_EQ(GetSoundTotalSamples(music), static_cast<int>(DecodeWithMpg123(mp3).size() / 2));
}

}  // namespace
