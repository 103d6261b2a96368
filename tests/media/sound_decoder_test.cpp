// The sound decoders over memory streams: which WAV files the PCM decoder accepts and what PCM it
// gives, the Ogg Vorbis decoder against libvorbisfile used directly, seeks, and the helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/sound_decoder.h"
#include "sound_fixtures.h"
#include "system/tracked_memory.h"

namespace {

using namespace sound_fixtures;

// A decoder over a memory stream of the given bytes, closed with the stream.
class DecoderOver {
 public:
  explicit DecoderOver(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    memory_ = OpenMemoryStream(bytes_.data(), static_cast<std::int32_t>(bytes_.size()));
    stream_.ops = *GetMemoryStreamOps();
    stream_.handle = reinterpret_cast<std::intptr_t>(memory_);
    result_ = OpenSoundDecoder(&stream_, &decoder_);
  }
  ~DecoderOver() {
    if (result_ == 0) CloseSoundDecoder(&decoder_);
    CloseMemoryStream(reinterpret_cast<std::intptr_t>(memory_));
  }
  int result() const { return result_; }
  SoundDecoderRecord* operator->() { return &decoder_; }
  SoundDecoderRecord* get() { return &decoder_; }

 private:
  std::vector<std::uint8_t> bytes_;
  MemoryStreamRecord* memory_;
  StreamRecord stream_{};
  SoundDecoderRecord decoder_{};
  int result_;
};

std::vector<std::uint8_t> DecodeAll(SoundDecoderRecord* decoder) {
  WAVEFORMATEX format;
  void* pcm = nullptr;
  int bytes = 0;
  if (DecodeSoundToPcm(decoder, &format, &pcm, &bytes) != 0) return {};
  std::vector<std::uint8_t> out(static_cast<std::uint8_t*>(pcm),
                                static_cast<std::uint8_t*>(pcm) + bytes);
  TrackedFree(pcm);
  return out;
}

std::vector<std::uint8_t> Ramp(int bytes) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
  for (int i = 0; i < bytes; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return data;
}

class SoundDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSoundDecoderDisableMask(0);
    blocksBefore_ = GetTrackedBlockCount();
  }
  void TearDown() override {
    SetSoundDecoderDisableMask(0);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore_) << "every tracked block is released";
  }
  int blocksBefore_ = 0;
};

TEST_F(SoundDecoderTest, PcmWaveDecodesToItsDataBytes) {
  const auto data = Ramp(4000);
  DecoderOver decoder(Wave(WaveFields{}, data));
  ASSERT_EQ(decoder.result(), 0);
  EXPECT_EQ(decoder->kind, kSoundDecoderWavePcm);
  WAVEFORMATEX format;
  GetSoundDecoderFormat(decoder.get(), &format);
  EXPECT_EQ(format.nChannels, 2);
  EXPECT_EQ(format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.wBitsPerSample, 16);
  EXPECT_EQ(format.cbSize, 0);
  EXPECT_EQ(GetSoundDecoderTotalBytes(decoder.get()), 4000);
  EXPECT_EQ(DecodeAll(decoder.get()), data);
}

TEST_F(SoundDecoderTest, SixteenByteFormatChunkGetsBitsFromBlockSizeAndChannels) {
  WaveFields fields;
  fields.bits = 0;
  DecoderOver decoder(Wave(fields, Ramp(40)));
  ASSERT_EQ(decoder.result(), 0);
  EXPECT_EQ(decoder->outputFormat.wBitsPerSample, 16);
  EXPECT_EQ(decoder->outputFormat.cbSize, 0);
}

TEST_F(SoundDecoderTest, ChunksBeforeTheFormatAndBetweenFormatAndData) {
  const auto data = Ramp(400);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    bool accepted;
  };
  std::vector<std::uint8_t> withBext, withList, withOddChunk;
  // A WAV file refused for its chunk order would go on to the MP3 decoder and play as noise.
  AddChunk(withBext, "bext", Ramp(10));
  AddChunk(withBext, "fmt ", FormatBody(WaveFields{}));
  AddChunk(withBext, "data", data);
  AddChunk(withList, "LIST", Ramp(10));
  AddChunk(withList, "JUNK", Ramp(7));
  AddChunk(withList, "fmt ", FormatBody(WaveFields{}));
  AddChunk(withList, "data", data);
  AddChunk(withOddChunk, "fmt ", FormatBody(WaveFields{}));
  AddChunk(withOddChunk, "fact", Ramp(5));
  AddChunk(withOddChunk, "data", data);
  const Case cases[] = {
      {"bext first", Riff(withBext), true},
      {"LIST and an odd JUNK first", Riff(withList), true},
      {"odd chunk before data, with its pad byte", Riff(withOddChunk), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecoderOver decoder(c.file);
    ASSERT_EQ(decoder.result(), c.accepted ? 0 : -1);
    if (c.accepted) {
      EXPECT_EQ(DecodeAll(decoder.get()), data);
    }
  }
}

TEST_F(SoundDecoderTest, DamagedWaveFilesAreRefused) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
  };
  auto withFields = [](auto change) {
    WaveFields fields;
    change(fields);
    return Wave(fields, Ramp(400));
  };
  std::vector<std::uint8_t> longData;
  AddChunk(longData, "fmt ", FormatBody(WaveFields{}));
  AddChunk(longData, "data", Ramp(400), 401);
  std::vector<std::uint8_t> noData;
  AddChunk(noData, "fmt ", FormatBody(WaveFields{}));
  AddChunk(noData, "fact", Ramp(8));
  std::vector<std::uint8_t> hugeFormat;
  AddChunk(hugeFormat, "fmt ", FormatBody(WaveFields{}), 0x7FFFFFF0);
  auto truncated = Wave(WaveFields{}, Ramp(400));
  truncated.resize(30);
  const Case cases[] = {
      {"no channels", withFields([](WaveFields& f) { f.channels = 0; })},
      {"no block size", withFields([](WaveFields& f) { f.block = 0; })},
      {"no average bytes", withFields([](WaveFields& f) { f.average = 0; })},
      {"not PCM", withFields([](WaveFields& f) { f.tag = 2; })},
      {"data larger than the file", Riff(longData)},
      {"no data chunk", Riff(noData)},
      {"format chunk larger than the file", Riff(hugeFormat)},
      {"cut inside the format chunk", truncated},
      {"not RIFF", std::vector<std::uint8_t>(64, 'x')},
      {"empty", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecoderOver decoder(c.file);
    EXPECT_EQ(decoder.result(), -1);
  }
}

TEST_F(SoundDecoderTest, DisableMaskSkipsDecoders) {
  const auto file = Wave(WaveFields{}, Ramp(40));
  SetSoundDecoderDisableMask(0x1F);
  EXPECT_EQ(DecoderOver(file).result(), -1);
  SetSoundDecoderDisableMask(kSoundDecoderSkipWavePcm);
  EXPECT_EQ(DecoderOver(file).result(), -1);
  SetSoundDecoderDisableMask(0x1E);
  EXPECT_EQ(DecoderOver(file).result(), 0);
  EXPECT_EQ(GetSoundDecoderDisableMask(), 0x1E);
}

TEST_F(SoundDecoderTest, ReadsInPiecesAndEndsWithZero) {
  const auto data = Ramp(1000);
  DecoderOver decoder(Wave(WaveFields{}, data));
  std::vector<std::uint8_t> out(1000);
  EXPECT_EQ(ReadSoundDecoder(decoder.get(), out.data(), 300), 300);
  EXPECT_EQ(ReadSoundDecoder(decoder.get(), out.data() + 300, 1000), 700);
  EXPECT_EQ(out, data);
  EXPECT_EQ(decoder->endReached, 1);
  EXPECT_EQ(ReadSoundDecoder(decoder.get(), out.data(), 10), 0);
}

TEST_F(SoundDecoderTest, SeeksShorterThanSixteenBytesAreSkipped) {
  const auto data = Ramp(1000);
  DecoderOver decoder(Wave(WaveFields{}, data));
  std::uint8_t byte[4];
  ReadSoundDecoder(decoder.get(), byte, 4);
  // From byte 4: a target of 12 (3 blocks) is 8 bytes away and changes nothing.
  SeekSoundDecoder(decoder.get(), 3);
  ReadSoundDecoder(decoder.get(), byte, 4);
  EXPECT_EQ(0, std::memcmp(byte, data.data() + 4, 4));
  // From byte 8: a target of 24 is 16 bytes away and moves.
  SeekSoundDecoder(decoder.get(), 6);
  EXPECT_EQ(decoder->position, 24);
  ReadSoundDecoder(decoder.get(), byte, 4);
  EXPECT_EQ(0, std::memcmp(byte, data.data() + 24, 4));
}

TEST_F(SoundDecoderTest, OggVorbisDecodesAsLibvorbisfileDoes) {
  const auto file = EncodeOggVorbis(2, 44100, 20000);
  const auto reference = DecodeOggVorbisReference(file);
  ASSERT_EQ(reference.size(), 40000u);
  DecoderOver decoder(file);
  ASSERT_EQ(decoder.result(), 0);
  EXPECT_EQ(decoder->kind, kSoundDecoderOggVorbis);
  EXPECT_EQ(GetSoundDecoderTotalBytes(decoder.get()), 80000);
  EXPECT_EQ(DecodeAll(decoder.get()), Bytes(reference));
}

TEST_F(SoundDecoderTest, MonoOggVorbisFormat) {
  const auto file = EncodeOggVorbis(1, 22050, 5000);
  DecoderOver decoder(file);
  ASSERT_EQ(decoder.result(), 0);
  EXPECT_EQ(decoder->outputFormat.nChannels, 1);
  EXPECT_EQ(decoder->outputFormat.nBlockAlign, 2);
  EXPECT_EQ(decoder->outputFormat.nAvgBytesPerSec, 44100u);
  EXPECT_EQ(decoder->outputFormat.wBitsPerSample, 16);
  EXPECT_EQ(GetSoundDecoderTotalBytes(decoder.get()), 2 * 5000);
}

TEST_F(SoundDecoderTest, OggVorbisSeekToZeroRewindsOnlyAfterReading) {
  const auto file = EncodeOggVorbis(1, 22050, 5000);
  const auto reference = Bytes(DecodeOggVorbisReference(file));
  DecoderOver decoder(file);
  std::vector<std::uint8_t> out(200);
  SeekSoundDecoder(decoder.get(), 0);
  ASSERT_EQ(ReadSoundDecoder(decoder.get(), out.data(), 200), 200);
  EXPECT_EQ(0, std::memcmp(out.data(), reference.data(), 200));
  SeekSoundDecoder(decoder.get(), 0);
  EXPECT_EQ(decoder->position, 0);
  ASSERT_EQ(ReadSoundDecoder(decoder.get(), out.data(), 200), 200);
  EXPECT_EQ(0, std::memcmp(out.data(), reference.data(), 200));
  std::vector<std::uint8_t> rest(20000);
  EXPECT_EQ(ReadSoundDecoder(decoder.get(), rest.data(), 20000), 10000 - 200);
  EXPECT_EQ(ReadSoundDecoder(decoder.get(), rest.data(), 10), 0);
  EXPECT_EQ(decoder->endReached, 1);
}

TEST_F(SoundDecoderTest, OggVorbisSeekLandsOnTheSample) {
  const auto file = EncodeOggVorbis(2, 44100, 20000);
  const auto reference = Bytes(DecodeOggVorbisReference(file));
  DecoderOver decoder(file);
  std::vector<std::uint8_t> out(400);
  for (int sample : {12345, 777, 19990}) {
    SCOPED_TRACE(sample);
    SeekSoundDecoder(decoder.get(), sample);
    EXPECT_EQ(decoder->position, sample * 4);
    const int got = ReadSoundDecoder(decoder.get(), out.data(), 400);
    ASSERT_EQ(got, std::min(400, (20000 - sample) * 4));
    EXPECT_EQ(
        0, std::memcmp(out.data(), reference.data() + sample * 4, static_cast<std::size_t>(got)));
  }
}

TEST_F(SoundDecoderTest, DamagedOggVorbisKeepsWhatDecodedBeforeTheDamage) {
  auto file = EncodeOggVorbis(2, 44100, 44100 * 4);
  const auto reference = Bytes(DecodeOggVorbisReference(file));
  // Scramble bytes in the middle of the audio pages: the decode stops or skips, never crashes.
  for (std::size_t i = file.size() * 3 / 4; i < file.size() * 3 / 4 + 64; ++i) file[i] ^= 0x5A;
  DecoderOver decoder(file);
  ASSERT_EQ(decoder.result(), 0);
  const auto decoded = DecodeAll(decoder.get());
  ASSERT_FALSE(decoded.empty());
  EXPECT_LT(decoded.size(), reference.size()) << "decoding stops at the damage";
  EXPECT_EQ(0, std::memcmp(decoded.data(), reference.data(), decoded.size()))
      << "what came before is kept";
}

TEST_F(SoundDecoderTest, BuildWaveFileImageMakesAFileTheDecoderReads) {
  const auto format = FormatBody(WaveFields{});
  const auto data = Ramp(64);
  void* image = nullptr;
  int bytes = 0;
  ASSERT_EQ(BuildWaveFileImage(&image, &bytes, format.data(), 16, data.data(), 64), 0);
  const std::vector<std::uint8_t> built(static_cast<std::uint8_t*>(image),
                                        static_cast<std::uint8_t*>(image) + bytes);
  TrackedFree(image);
  EXPECT_EQ(built, Wave(WaveFields{}, data));
  DecoderOver decoder(built);
  EXPECT_EQ(DecodeAll(decoder.get()), data);
}

TEST_F(SoundDecoderTest, ReadWholeStreamCopiesEveryByte) {
  const auto bytes = Ramp(333);
  MemoryStreamRecord* memory = OpenMemoryStream(bytes.data(), 333);
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  stream.ops.seek(stream.handle, 100, 0);
  void* data = nullptr;
  int size = 0;
  ASSERT_EQ(ReadWholeStream(&stream, &data, &size), 0);
  EXPECT_EQ(size, 333);
  EXPECT_EQ(0, std::memcmp(data, bytes.data(), 333));
  TrackedFree(data);
  CloseMemoryStream(stream.handle);
}

}  // namespace
