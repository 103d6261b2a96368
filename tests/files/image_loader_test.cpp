// The decoder chain and the image loaders: order and stream position, files and memory, mirror,
// DIB output, alpha images, and every stream closed exactly once.
#include "files/image_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/win32_file.h"
#include "image_fixtures.h"
#include "platform/win32/gdi_dib.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;
using fixtures::Bytes;

// 3 x 2, 24-bit, top-down: pixel (x, y) is blue x, green y, red 0x40.
Bytes SmallBmp(std::uint8_t red = 0x40) {
  fixtures::BmpLayout s;
  s.width = 3, s.height = -2, s.bitCount = 24;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x)
      s.pixels.insert(s.pixels.end(),
                      {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), red});
    s.pixels.insert(s.pixels.end(), 3, 0);
  }
  return fixtures::WriteBmp(s);
}

std::vector<std::int32_t> positionsSeen;
int RecordingDecoder(StreamRecord* stream, StandardImage*) {
  positionsSeen.push_back(stream->ops.tell(stream->handle));
  char byte;
  stream->ops.read(&byte, 1, 1, stream->handle);  // moves on, so the next one must be put back
  return -1;
}

int openCount = 0;
int closeCount = 0;
FileHandle CountingOpen(const char* path, int cache, int reserved, int noWait) {
  FileHandle handle = Win32FileOpen(path, cache, reserved, noWait);
  if (handle) ++openCount;
  return handle;
}
int CountingClose(FileHandle handle) {
  ++closeCount;
  return Win32FileClose(handle);
}

class ImageLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ + "/image");
    blocks_ = GetTrackedBlockCount();
    FileFunctionTable counting = *GetWin32FileFunctions();
    counting.open = CountingOpen;
    counting.close = CountingClose;
    SelectFileFunctions(&counting);
    openCount = closeCount = 0;
  }
  void TearDown() override {
    EXPECT_EQ(openCount, closeCount);
    SelectFileFunctions(nullptr);
    UserImageDecoderTable = {};
    EXPECT_EQ(GetTrackedBlockCount(), blocks_);
  }
  std::string Put(const std::string& name, const Bytes& bytes) {
    EXPECT_TRUE(fixtures::WriteFile(dir_ + "/" + name, bytes));
    return "Z:" + dir_ + "/" + name;
  }
  TempFolder folder_{"h3load"};
  const std::string dir_ = folder_.string();
  int blocks_ = 0;
};

TEST_F(ImageLoaderTest, EveryDecoderStartsAtTheBeginning) {
  positionsSeen.clear();
  UserImageDecoderTable.decoders[0] = RecordingDecoder;
  UserImageDecoderTable.decoders[1] = RecordingDecoder;
  UserImageDecoderTable.decoders[2] = RecordingDecoder;
  UserImageDecoderTable.count = 3;
  Bytes bmp = SmallBmp();
  StandardImage image;
  StreamRecord stream{*GetMemoryStreamOps(),
                      reinterpret_cast<std::intptr_t>(
                          OpenMemoryStream(bmp.data(), static_cast<std::int32_t>(bmp.size())))};
  stream.ops.seek(stream.handle, 20, 0);
  ASSERT_EQ(DecodeImageStream(&stream, &image), 0);
  EXPECT_EQ(positionsSeen, std::vector<std::int32_t>({0, 0, 0}));
  EXPECT_EQ(image.width, 3);
  ReleaseStandardImage(&image);

  Bytes junk(64, 0x55);
  MemoryStreamRecord* memory = OpenMemoryStream(junk.data(), 64);
  stream.ops.close(stream.handle);
  stream.handle = reinterpret_cast<std::intptr_t>(memory);
  positionsSeen.clear();
  image.pixels = reinterpret_cast<std::uint8_t*>(&junk);
  EXPECT_EQ(DecodeImageStream(&stream, &image), -1);
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(positionsSeen.size(), 3u);
  stream.ops.close(stream.handle);
}

TEST_F(ImageLoaderTest, FileAndMemoryGiveTheSameImage) {
  Bytes bmp = SmallBmp();
  std::string path = Put("image/Player.BMP", bmp);
  StandardImage fromFile, fromMemory;
  ASSERT_EQ(LoadStandardImagePlain(("Z:" + dir_ + "\\IMAGE\\player.bmp").c_str(), nullptr, 0, 0,
                                   &fromFile, 0),
            0);
  ASSERT_EQ(LoadStandardImagePlain(nullptr, bmp.data(), static_cast<std::int32_t>(bmp.size()), 1,
                                   &fromMemory, 0),
            0);
  EXPECT_EQ(fixtures::Argb(fromFile), fixtures::Argb(fromMemory));
  EXPECT_EQ(fixtures::Argb(fromFile)[4], 0x00400101u);
  ReleaseStandardImage(&fromFile);
  ReleaseStandardImage(&fromMemory);
  EXPECT_EQ(openCount, 1);
}

TEST_F(ImageLoaderTest, MirrorReversesEveryRow) {
  Bytes bmp = SmallBmp();
  StandardImage plain, mirrored;
  ASSERT_EQ(LoadStandardImagePlain(nullptr, bmp.data(), static_cast<std::int32_t>(bmp.size()), 1,
                                   &plain, 0),
            0);
  ASSERT_EQ(LoadStandardImagePlain(nullptr, bmp.data(), static_cast<std::int32_t>(bmp.size()), 1,
                                   &mirrored, 1),
            0);
  std::vector<std::uint32_t> a = fixtures::Argb(plain), b = fixtures::Argb(mirrored);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(b[y * 3 + x], a[y * 3 + (2 - x)]);
  ReleaseStandardImage(&plain);
  ReleaseStandardImage(&mirrored);
}

TEST_F(ImageLoaderTest, MakesADibInsteadOfAnImage) {
  Bytes bmp = SmallBmp();
  StandardImage image{};
  BITMAPINFO* info = nullptr;
  void* pixels = nullptr;
  ASSERT_EQ(LoadStandardImage(nullptr, bmp.data(), static_cast<std::int32_t>(bmp.size()), 1, 1, 0,
                              &image, &info, &pixels),
            0);
  ASSERT_NE(info, nullptr);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(info->bmiHeader.biWidth, 3);
  EXPECT_EQ(std::abs(info->bmiHeader.biHeight), 2);
  TrackedFree(pixels);
  TrackedFree(info);
}

TEST_F(ImageLoaderTest, AlphaImageBesideTheColourImage) {
  std::string title = Put("image/title.bmp", SmallBmp());
  StandardImage colour, alpha;
  EXPECT_EQ(
      LoadStandardImageWithAlpha(title.c_str(), nullptr, 0, 0, nullptr, 0, 0, &colour, &alpha, 0),
      1);
  EXPECT_EQ(colour.width, 3);
  ReleaseStandardImage(&colour);

  Put("image/title_a.bmp", SmallBmp(0x99));
  ASSERT_EQ(
      LoadStandardImageWithAlpha(title.c_str(), nullptr, 0, 0, nullptr, 0, 0, &colour, &alpha, 0),
      0);
  EXPECT_EQ(fixtures::Argb(alpha)[0], 0x00990000u);
  ReleaseStandardImage(&colour);
  ReleaseStandardImage(&alpha);

  Bytes alphaBytes = SmallBmp(0x77);
  ASSERT_EQ(LoadStandardImageWithAlpha(title.c_str(), nullptr, 0, 0, alphaBytes.data(),
                                       static_cast<std::int32_t>(alphaBytes.size()), 1, &colour,
                                       &alpha, 0),
            0);
  EXPECT_EQ(fixtures::Argb(alpha)[0], 0x00770000u);
  ReleaseStandardImage(&colour);
  ReleaseStandardImage(&alpha);
  EXPECT_EQ(LoadStandardImageWithAlpha(title.c_str(), nullptr, 0, 0, alphaBytes.data(), 3, 1,
                                       &colour, &alpha, 0),
            1);
  ReleaseStandardImage(&colour);
  EXPECT_EQ(
      LoadStandardImageWithAlpha(title.c_str(), nullptr, 0, 0, nullptr, 0, 2, &colour, &alpha, 0),
      1);
  ReleaseStandardImage(&colour);

  std::string missing = "Z:" + dir_ + "/image/none.bmp";
  EXPECT_EQ(
      LoadStandardImageWithAlpha(missing.c_str(), nullptr, 0, 0, nullptr, 0, 0, &colour, &alpha, 0),
      -1);
  std::string notImage = Put("image/text.bmp", Bytes(100, 'x'));
  EXPECT_EQ(LoadStandardImageWithAlpha(notImage.c_str(), nullptr, 0, 0, nullptr, 0, 0, &colour,
                                       &alpha, 0),
            -1);
}

TEST(MakeAlphaImageFileName, InsertsBeforeTheExtension) {
  struct Case {
    const char* source;
    const char* expected;
  } cases[] = {
      {"image/txt.bmp", "image/txt_a.bmp"},
      {"image\\title.BMP", "image\\title_a.BMP"},
      {"noext", "noext_a"},
      {"a.b.c", "a.b_a.c"},
      {"dir.v2\\image", "dir.v2\\image_a"},
      {"\x95\x5C.bmp", "\x95\x5C_a.bmp"},
      {"\x95\x5C\\x.png", "\x95\x5C\\x_a.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    char out[64];
    EXPECT_EQ(MakeAlphaImageFileName(c.source, out), 0);
    EXPECT_STREQ(out, c.expected);
  }
}

}  // namespace
