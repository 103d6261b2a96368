// The PNG and JPEG decoders, over files written here with the libraries' own writers, and over
// images made by ImageMagick, whose own decoding is the reference.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_fixtures.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

using fixtures::Bytes;

struct PngLayout {
  int width = 3, height = 2;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;
  Bytes transparency;
  Bytes rows;  // packed as the file stores them
};

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

Bytes WritePng(const PngLayout& s) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty())
    png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.transparency.empty())
    png_set_tRNS(png, info, s.transparency.data(), static_cast<int>(s.transparency.size()),
                 nullptr);
  png_write_info(png, info);
  const std::size_t rowBytes = s.rows.size() / s.height;
  std::vector<png_bytep> rows;
  for (int y = 0; y < s.height; ++y)
    rows.push_back(const_cast<png_bytep>(s.rows.data() + y * rowBytes));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes WriteJpeg(int width, int height, int components, J_COLOR_SPACE space, const Bytes& pixels,
                bool progressive, int quality = 100) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * width * components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  Bytes out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

class PngJpegTest : public ::testing::Test {
 protected:
  void SetUp() override { blocks_ = GetTrackedBlockCount(); }
  void TearDown() override { EXPECT_EQ(GetTrackedBlockCount(), blocks_); }
  int blocks_ = 0;
};

TEST_F(PngJpegTest, PngColourTypesBecomeTheEnginesFormats) {
  struct Case {
    const char* name;
    PngLayout layout;
    int bitDepth;
    int pitch;
    Bytes pixels;  // the image's first row of bytes
  };
  std::vector<Case> cases;
  {
    PngLayout s;
    s.width = 9, s.height = 1, s.colorType = PNG_COLOR_TYPE_GRAY, s.bitDepth = 1,
    s.rows = {0xA5, 0x80};
    cases.push_back({"1-bit grey", s, 8, 9, {255, 0, 255, 0, 0, 255, 0, 255, 255}});
  }
  {
    PngLayout s;
    s.width = 1, s.height = 1, s.bitDepth = 16, s.rows = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    cases.push_back({"16-bit RGB", s, 24, 3, {0x9A, 0x56, 0x12}});
  }
  {
    PngLayout s;
    s.width = 2, s.height = 1, s.colorType = PNG_COLOR_TYPE_RGBA, s.rows = {1, 2, 3, 4, 5, 6, 7, 8};
    cases.push_back({"RGBA", s, 32, 8, {3, 2, 1, 4, 7, 6, 5, 8}});
  }
  {
    PngLayout s;
    s.width = 4, s.height = 1, s.colorType = PNG_COLOR_TYPE_PALETTE, s.bitDepth = 2;
    s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    s.rows = {0x1A};  // indices 0, 1, 2, 2
    cases.push_back({"palette", s, 8, 4, {0, 1, 2, 2}});
    s.transparency = {128, 255};
    cases.push_back({"palette with transparency",
                     s,
                     32,
                     16,
                     {30, 20, 10, 128, 60, 50, 40, 255, 90, 80, 70, 255, 90, 80, 70, 255}});
  }
  {
    PngLayout s;
    s.width = 2, s.height = 1, s.colorType = PNG_COLOR_TYPE_GRAY_ALPHA, s.rows = {100, 7, 200, 9};
    cases.push_back({"grey with alpha", s, 16, 4, {100, 7, 200, 9}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodePNGStream, WritePng(c.layout), &image), 0);
    EXPECT_EQ(image.format.bitDepth, c.bitDepth);
    EXPECT_EQ(image.pitch, c.pitch);
    EXPECT_EQ(Bytes(image.pixels, image.pixels + c.pixels.size()), c.pixels);
    if (std::string(c.name) == "palette") {
      EXPECT_EQ(image.format.palette[1].red, 40);
      EXPECT_EQ(image.format.palette[1].blue, 60);
      EXPECT_EQ(image.format.palette[1].alpha, 0);
      EXPECT_EQ(image.format.palette[3].red, 0);
    }
    if (std::string(c.name) == "grey with alpha") {
      EXPECT_EQ(fixtures::Argb(image)[1] & 0xFFFFFF, 0xC8C8C8u);
    }
    ReleaseStandardImage(&image);
  }
}

TEST_F(PngJpegTest, InterlacedPngMatchesPlain) {
  PngLayout s;
  s.width = 13, s.height = 11;
  for (int i = 0; i < 13 * 11 * 3; ++i) s.rows.push_back(static_cast<std::uint8_t>(i * 37));
  StandardImage plain, interlaced;
  ASSERT_EQ(fixtures::DecodeWith(DecodePNGStream, WritePng(s), &plain), 0);
  s.interlaced = true;
  ASSERT_EQ(fixtures::DecodeWith(DecodePNGStream, WritePng(s), &interlaced), 0);
  EXPECT_EQ(fixtures::Argb(plain), fixtures::Argb(interlaced));
  ReleaseStandardImage(&plain);
  ReleaseStandardImage(&interlaced);
}

TEST_F(PngJpegTest, DamagedPngsAreRefusedWithoutLeaks) {
  PngLayout s;
  s.width = 40, s.height = 40;
  for (int i = 0; i < 40 * 40 * 3; ++i) s.rows.push_back(static_cast<std::uint8_t>(i * 13));
  Bytes good = WritePng(s);
  for (std::size_t cut :
       {good.size() - 20, good.size() / 2, std::size_t{40}, std::size_t{8}, std::size_t{3}}) {
    SCOPED_TRACE(cut);
    StandardImage image;
    EXPECT_EQ(
        fixtures::DecodeWith(DecodePNGStream, Bytes(good.begin(), good.begin() + cut), &image), -1);
  }
  Bytes damaged = good;
  damaged[good.size() / 2] ^= 0xFF;
  StandardImage image;
  EXPECT_EQ(fixtures::DecodeWith(DecodePNGStream, damaged, &image), -1);
  EXPECT_EQ(fixtures::DecodeWith(DecodePNGStream, fixtures::WriteBmp({}), &image), -1);
}

// The chunk check of PNG: CRC-32 over the type and the data.
std::uint32_t PngCrc(const Bytes& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// One chunk as a file stores it: its length (which need not be the data's), type, data and check.
Bytes PngChunk(const char* type, const Bytes& data, std::uint32_t length) {
  Bytes chunk;
  for (int shift = 24; shift >= 0; shift -= 8)
    chunk.push_back(static_cast<std::uint8_t>(length >> shift));
  Bytes checked(type, type + 4);
  checked.insert(checked.end(), data.begin(), data.end());
  chunk.insert(chunk.end(), checked.begin(), checked.end());
  const std::uint32_t crc = PngCrc(checked);
  for (int shift = 24; shift >= 0; shift -= 8)
    chunk.push_back(static_cast<std::uint8_t>(crc >> shift));
  return chunk;
}

Bytes PngHeader(std::uint32_t width, std::uint32_t height, std::uint8_t colorType) {
  Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  for (std::uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8)
      ihdr.push_back(static_cast<std::uint8_t>(v >> shift));
  ihdr.insert(ihdr.end(), {8, colorType, 0, 0, 0});
  const Bytes chunk = PngChunk("IHDR", ihdr, 13);
  file.insert(file.end(), chunk.begin(), chunk.end());
  return file;
}

// Small files that claim much: a text chunk declaring 1.6 GB, and a 4096 x 4096 image held in a
// few bytes, are refused before anything is sized from their claims, alone and through the whole
// decoder chain (as when such a file is saved under a .bmp name).
TEST_F(PngJpegTest, PngsClaimingMoreThanTheyHoldAreRefused) {
  Bytes text = PngHeader(1, 1, PNG_COLOR_TYPE_RGB);
  const Bytes huge = PngChunk("tEXt", {'a', 'b', 'c'}, 0x65000000);
  text.insert(text.end(), huge.begin(), huge.end() - 4);  // the file ends inside the chunk
  ASSERT_EQ(text.size(), 44u);
  Bytes large = PngHeader(4096, 4096, PNG_COLOR_TYPE_RGB_ALPHA);
  const Bytes idat = PngChunk("IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01}, 9);
  const Bytes iend = PngChunk("IEND", {}, 0);
  large.insert(large.end(), idat.begin(), idat.end());
  large.insert(large.end(), iend.begin(), iend.end());
  for (const Bytes* file : {&text, &large}) {
    SCOPED_TRACE(file->size());
    StandardImage image;
    EXPECT_EQ(fixtures::DecodeWith(DecodePNGStream, *file, &image), -1);
    EXPECT_EQ(fixtures::DecodeWith(DecodeImageStream, *file, &image), -1);
  }
}

TEST_F(PngJpegTest, JpegGreyColourAndProgressive) {
  Bytes grey(16 * 16, 100);
  StandardImage image;
  ASSERT_EQ(fixtures::DecodeWith(DecodeJPEGStream, WriteJpeg(16, 16, 1, JCS_GRAYSCALE, grey, false),
                                 &image),
            0);
  EXPECT_EQ(image.format.bitDepth, 8);
  EXPECT_EQ(image.pitch, 16);
  EXPECT_NEAR(image.pixels[0], 100, 1);
  EXPECT_EQ(image.format.palette[100].red, 100);
  ReleaseStandardImage(&image);

  Bytes colour;
  for (int i = 0; i < 16 * 8; ++i) colour.insert(colour.end(), {200, 100, 50});
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    ASSERT_EQ(fixtures::DecodeWith(DecodeJPEGStream,
                                   WriteJpeg(16, 8, 3, JCS_RGB, colour, progressive), &image),
              0);
    EXPECT_EQ(image.format.bitDepth, 24);
    EXPECT_EQ(image.pitch, 48);
    EXPECT_NEAR(image.pixels[0], 50, 2);
    EXPECT_NEAR(image.pixels[1], 100, 2);
    EXPECT_NEAR(image.pixels[2], 200, 2);
    ReleaseStandardImage(&image);
  }
}

TEST_F(PngJpegTest, JpegEndsAndRefusals) {
  Bytes pixels;
  for (int i = 0; i < 64 * 64 * 3; ++i) pixels.push_back(static_cast<std::uint8_t>(i * 7));
  Bytes jpeg = WriteJpeg(64, 64, 3, JCS_RGB, pixels, false, 90);
  StandardImage image;
  // Cut inside the scan: an end-of-image marker is supplied and the image comes back.
  ASSERT_EQ(fixtures::DecodeWith(DecodeJPEGStream,
                                 Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3), &image),
            0);
  EXPECT_EQ(image.width, 64);
  ReleaseStandardImage(&image);
  EXPECT_EQ(fixtures::DecodeWith(DecodeJPEGStream, Bytes(), &image), -1);
  EXPECT_EQ(fixtures::DecodeWith(DecodeJPEGStream, Bytes({0xFF, 0xD8}), &image), -1);
  EXPECT_EQ(fixtures::DecodeWith(DecodeJPEGStream, Bytes(jpeg.begin(), jpeg.begin() + 100), &image),
            -1);
  Bytes cmyk(8 * 8 * 4, 60);
  EXPECT_EQ(
      fixtures::DecodeWith(DecodeJPEGStream, WriteJpeg(8, 8, 4, JCS_CMYK, cmyk, false), &image),
      -1);
  EXPECT_EQ(fixtures::DecodeWith(DecodeJPEGStream, fixtures::WriteBmp({}), &image), -1);
}

TEST_F(PngJpegTest, AgreesWithImageMagickOnItsOwnImages) {
  if (!fixtures::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  const TempFolder folder("h3im");
  const std::string base = folder.string();
  struct Case {
    const char* file;
    const char* make;  // convert arguments that write the file
    int tolerance;
  } cases[] = {
      {"swirl.png", "-size 48x32 gradient:red-blue -swirl 90 -depth 8", 0},
      {"plasma.png", "-seed 7 -size 40x30 plasma:fractal -depth 8", 0},
      {"palette.png", "-seed 7 -size 40x30 plasma:fractal -colors 12 PNG8:", 0},
      {"grey.png", "-size 33x17 gradient:white-black -colorspace gray -depth 8", 0},
      // 16-bit channels: the decoder keeps the high byte where convert rounds.
      {"deep.png", "-size 20x20 gradient:yellow-navy -depth 16", 1},
      {"swirl.jpg", "-size 48x32 gradient:red-blue -swirl 90 -quality 92", 1},
      {"plasma.jpg", "-seed 7 -size 40x30 plasma:fractal -quality 80", 1},
      {"grey.jpg", "-size 33x17 gradient:white-black -colorspace gray", 1},
      {"progressive.jpg", "-seed 3 -size 37x21 plasma:fractal -interlace JPEG", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = base + "/" + c.file;
    std::string make = c.make;
    std::string target = make.back() == ':' ? make.substr(make.rfind(' ') + 1) + path : path;
    if (make.back() == ':') make = make.substr(0, make.rfind(' '));
    ASSERT_EQ(std::system(("/usr/bin/convert " + make + " " + target + " 2>/dev/null").c_str()), 0);
    Bytes reference;
    ASSERT_TRUE(fixtures::DecodeWithImageMagick(
        path, std::string(c.file).find(".png") != std::string::npos ? "PNG" : "JPEG", &reference));
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodeImageStream, fixtures::ReadFile(path), &image), 0);
    Bytes ours = fixtures::ToRgb(image);
    ASSERT_EQ(ours.size(), reference.size());
    int worst = 0;
    for (std::size_t i = 0; i < ours.size(); ++i)
      worst = std::max(worst, std::abs(ours[i] - reference[i]));
    EXPECT_LE(worst, c.tolerance);
    ReleaseStandardImage(&image);
  }
}

}  // namespace
