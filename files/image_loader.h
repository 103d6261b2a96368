// Image loading: the chain of image decoders that turns a stream into a StandardImage, the loaders
// that read from a file or from memory (with mirroring, a DIB, or an "_a" alpha image beside), and
// the decoders themselves.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "files/file_table.h"

struct BITMAPINFO;

// A decoder reads the stream from its start into a zeroed image: 0 when it recognised and decoded
// the data (the image then owns tracked pixels), -1 after freeing what it allocated. It never
// closes the stream.
using ImageDecodeFunc = int (*)(StreamRecord* stream, StandardImage* image);

// The built-in decoders in the order they are tried, ended by null.
extern const ImageDecodeFunc ImageDecoderTable[];

// Decoders of the engine's user, tried before the built-in ones.
constexpr int kUserImageDecoderMax = 10;
struct UserImageDecoderList {
  ImageDecodeFunc decoders[kUserImageDecoderMax];
  int count;
};
extern UserImageDecoderList UserImageDecoderTable;

// Pixel buffers larger than this (4096 x 4096 at 32 bits) are refused by every decoder, so that a
// small damaged file cannot claim gigabytes.
constexpr std::int64_t kImagePixelBytesMax = 0x4000000;
// True when rows of rowBytes fit that limit; the product is formed only once it cannot overflow.
inline bool FitsImageBytes(std::int64_t rowBytes, std::int64_t rows) {
  return rowBytes >= 0 && rows >= 0 && rowBytes <= kImagePixelBytesMax &&
         rows <= kImagePixelBytesMax && rowBytes * rows <= kImagePixelBytesMax;
}

int DecodeImageStream(StreamRecord* stream, StandardImage* image);

// Reads from size bytes at data (fromMemory 1) or from the file path. With makeDIB the image
// goes to *info (a tracked BITMAPINFO with room for 256 colours) and *dibPixels instead of image.
int LoadStandardImage(const char* path, const void* data, std::int32_t size, int fromMemory,
                      int makeDIB, int mirror, StandardImage* image, BITMAPINFO** info,
                      void** dibPixels);
int LoadStandardImagePlain(const char* path, const void* data, std::int32_t size, int fromMemory,
                           StandardImage* image, int mirror);
// -1 when the colour image fails, 1 when there is no alpha image, 0 when both were loaded. Alpha
// mode 0 reads the file named by MakeAlphaImageFileName(path), 1 alphaSize bytes at alphaData.
int LoadStandardImageWithAlpha(const char* path, const void* data, std::int32_t size,
                               int fromMemory, const void* alphaData, std::int32_t alphaSize,
                               int alphaMode, StandardImage* image, StandardImage* alphaImage,
                               int mirror);
// "image/txt.bmp" gives "image/txt_a.bmp"; a name without extension gets "_a" at its end. The
// name out needs the source's length + 3 bytes.
int MakeAlphaImageFileName(const char* sourceName, char* nameOut);

int DecodeBMPStream(StreamRecord* stream, StandardImage* image);
int DecodeJPEGStream(StreamRecord* stream, StandardImage* image);
int DecodePNGStream(StreamRecord* stream, StandardImage* image);
int DecodeBGRAStream(StreamRecord* stream, StandardImage* image);
int DecodeTGAStream(StreamRecord* stream, StandardImage* image);
int DecodeDDSStream(StreamRecord* stream, StandardImage* image);

// Helpers the decoders share.
// Reads up to n bytes through the stream's Read slot; returns the bytes read.
std::int64_t ReadStreamBytes(StreamRecord* stream, void* buffer, std::int64_t n);
// The stream's size (seek to the end, tell, back to the start), or -1.
std::int64_t MeasureStream(StreamRecord* stream);
// A tracked buffer freed on every path that does not hand it on (not for functions that jump).
struct TrackedBuffer {
  std::uint8_t* bytes = nullptr;
  TrackedBuffer() = default;
  TrackedBuffer(const TrackedBuffer&) = delete;
  TrackedBuffer& operator=(const TrackedBuffer&) = delete;
  ~TrackedBuffer();
  bool Allocate(std::int64_t size, bool zeroed);
  std::uint8_t* Release();
};
