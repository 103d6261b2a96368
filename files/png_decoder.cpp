// The PNG decoder: libpng reads through the stream record; its output becomes palette, grey,
// 24-bit or 32-bit pixels. Errors jump back here, which frees everything made so far.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "files/image_loader.h"
#include "system/tracked_memory.h"

namespace {

// Ancillary chunks other than tRNS (text, profiles, palettes of suggestions) are never used here,
// so libpng skips them unread; whatever it still keeps may take at most this much memory each,
// decompressed or not, and at most this many are kept. A chunk claiming gigabytes then costs
// nothing: libpng only warns of such a length and would otherwise allocate and zero it.
constexpr png_alloc_size_t kPNGChunkBytesMax = 1 << 20;
constexpr png_uint_32 kPNGChunkCountMax = 128;
// Deflate yields at most 1032 bytes per byte it reads, so the filtered rows (a filter byte and the
// row's bytes each) of a genuine file fit within 1032 times its size; a header claiming more is
// refused before the pixels are allocated from it.
constexpr std::int64_t kDeflateExpansionMax = 1032;

struct PNGSourceRecord {
  StreamRecord* stream;
  std::int64_t size;  // from the position at set-up to the end
};

void ReadPNGFromStream(png_structp png, png_bytep buffer, png_size_t length) {
  auto* source = static_cast<PNGSourceRecord*>(png_get_io_ptr(png));
  const std::int64_t position = source->stream->ops.tell(source->stream->handle);
  if (position < 0 || source->size - position < static_cast<std::int64_t>(length) ||
      ReadStreamBytes(source->stream, buffer, static_cast<std::int64_t>(length)) !=
          static_cast<std::int64_t>(length))
    png_error(png, "Read Error");
}

void SetPNGStreamReader(png_structp png, void* sourceRecord, StreamRecord* stream) {
  auto* source = static_cast<PNGSourceRecord*>(sourceRecord);
  source->stream = stream;
  const std::int32_t start = stream->ops.tell(stream->handle);
  stream->ops.seek(stream->handle, 0, 2);
  source->size = std::int64_t{stream->ops.tell(stream->handle)};
  stream->ops.seek(stream->handle, start, 0);
  png_set_read_fn(png, source, ReadPNGFromStream);
}

}  // namespace

int DecodePNGStream(StreamRecord* stream, StandardImage* image) {
  // Anything without the signature is refused before libpng is asked, so that it prints nothing.
  png_byte signature[8];
  if (ReadStreamBytes(stream, signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0 ||
      stream->ops.seek(stream->handle, 0, 0) != 0)
    return -1;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return -1;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return -1;
  }
  PNGSourceRecord source{};
  // What the error jump must free; volatile, since it is changed between setjmp and longjmp.
  std::uint8_t* volatile pixels = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    TrackedFree(pixels);
    png_destroy_read_struct(&png, &info, nullptr);
    return -1;
  }
  SetPNGStreamReader(png, &source, stream);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_chunk_malloc_max(png, kPNGChunkBytesMax);
  png_set_chunk_cache_max(png, kPNGChunkCountMax);
  png_set_user_limits(png, kImagePixelBytesMax, kImagePixelBytesMax);
  png_set_sig_bytes(png, 0);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
  const std::int64_t filteredRowBytes = static_cast<std::int64_t>(png_get_rowbytes(png, info)) + 1;
  if (!FitsImageBytes(filteredRowBytes, height) ||
      filteredRowBytes * height > kDeflateExpansionMax * source.size)
    png_error(png, "Image Too Large");
  png_set_strip_16(png);
  png_set_packing(png);
  png_set_packswap(png);
  bool expanded = false;
  if ((colorType == PNG_COLOR_TYPE_GRAY && bitDepth <= 8) ||
      png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_expand(png);
    expanded = true;
  }
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::int64_t rowBytes = static_cast<std::int64_t>(png_get_rowbytes(png, info));
  const int channels = png_get_channels(png, info);
  if (width == 0 || height == 0 || !FitsImageBytes(rowBytes, height))
    png_error(png, "Image Too Large");

  // The rows are read straight into the image's tracked buffer: one copy of the pixels, not two,
  // and no table of row pointers sized from the header.
  pixels = static_cast<std::uint8_t*>(TrackedAlloc(rowBytes * height));
  if (!pixels) png_error(png, "Out Of Memory");
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, pixels + rowBytes * y, nullptr);
  png_read_end(png, nullptr);

  ColorFormat format{};
  if (colorType == PNG_COLOR_TYPE_PALETTE && !expanded) {
    MakePaletteColorFormat(&format);
    png_colorp palette = nullptr;
    int count = 0;
    // The file's entries are copied; the rest stay black.
    if (png_get_PLTE(png, info, &palette, &count) && palette) {
      for (int i = 0; i < count && i < 256; ++i)
        format.palette[i] = ColorPaletteEntry{palette[i].blue, palette[i].green, palette[i].red, 0};
    }
  } else if (colorType != PNG_COLOR_TYPE_GRAY && colorType != PNG_COLOR_TYPE_GRAY_ALPHA) {
    if (channels == 4) {
      MakeARGB8ColorFormat(&format);
    } else {
      MakeRGB24ColorFormat(&format);
    }
  } else if (rowBytes / 2 < static_cast<std::int64_t>(width)) {
    MakeGrayColorFormat(&format);
  } else {
    // Grey with alpha: the grey byte gives all three colours and the alpha byte is not used.
    MakeColorFormatFromMasks(&format, 16, 0xFF, 0xFF, 0xFF, 0);
  }
  image->format = format;
  image->width = static_cast<std::int32_t>(width);
  image->height = static_cast<std::int32_t>(height);
  image->pitch = static_cast<std::int32_t>(rowBytes);
  image->pixels = pixels;
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}
