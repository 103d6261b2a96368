// The JPEG decoder: libjpeg reads through a source manager over the stream record, one scanline
// at a time; grey images become grey palette pixels, colour images blue, green, red. Errors jump
// back here, which frees everything made so far.
#include <cstdio>

#include <csetjmp>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "files/image_loader.h"
#include "system/tracked_memory.h"

namespace {

constexpr std::size_t kJPEGInputBufferSize = 4096;

struct JPEGSourceManager {
  jpeg_source_mgr base;
  JOCTET* buffer;
  StreamRecord* stream;
  std::int64_t size;  // from the position at set-up to the end
  boolean startOfFile;
};

struct JPEGErrorRecord {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void TermJPEGStreamSource(j_decompress_ptr) {}

void JPEGErrorExitToCaller(j_common_ptr info) {
  (*info->err->output_message)(info);
  std::longjmp(reinterpret_cast<JPEGErrorRecord*>(info->err)->jump, 1);
}

void InitJPEGStreamSource(j_decompress_ptr info) {
  reinterpret_cast<JPEGSourceManager*>(info->src)->startOfFile = TRUE;
}

boolean FillJPEGStreamBuffer(j_decompress_ptr info) {
  auto* source = reinterpret_cast<JPEGSourceManager*>(info->src);
  const std::int64_t position = source->stream->ops.tell(source->stream->handle);
  std::int64_t remaining = source->size - position;
  if (remaining < 0) remaining = 0;
  const std::int64_t wanted = remaining < static_cast<std::int64_t>(kJPEGInputBufferSize)
                                  ? remaining
                                  : kJPEGInputBufferSize;
  std::int64_t read = ReadStreamBytes(source->stream, source->buffer, wanted);
  if (read <= 0) {
    if (source->startOfFile) ERREXIT(info, JERR_INPUT_EMPTY);
    // A stream that ends early gets an end-of-image marker, so the image comes out as far as it
    // goes.
    WARNMS(info, JWRN_JPEG_EOF);
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    read = 2;
  }
  source->base.next_input_byte = source->buffer;
  source->base.bytes_in_buffer = static_cast<std::size_t>(read);
  source->startOfFile = FALSE;
  return TRUE;
}

void SkipJPEGStreamData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = info->src;
  while (count > static_cast<long>(source->bytes_in_buffer)) {
    count -= static_cast<long>(source->bytes_in_buffer);
    FillJPEGStreamBuffer(info);
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void SetJPEGStreamSource(j_decompress_ptr info, StreamRecord* stream) {
  if (!info->src) {
    auto* source = static_cast<JPEGSourceManager*>((*info->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(info), JPOOL_PERMANENT, sizeof(JPEGSourceManager)));
    source->buffer = static_cast<JOCTET*>((*info->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(info), JPOOL_PERMANENT, kJPEGInputBufferSize));
    info->src = &source->base;
  }
  auto* source = reinterpret_cast<JPEGSourceManager*>(info->src);
  source->base.init_source = InitJPEGStreamSource;
  source->base.fill_input_buffer = FillJPEGStreamBuffer;
  source->base.skip_input_data = SkipJPEGStreamData;
  source->base.resync_to_restart = jpeg_resync_to_restart;
  source->base.term_source = TermJPEGStreamSource;
  source->stream = stream;
  const std::int32_t start = stream->ops.tell(stream->handle);
  stream->ops.seek(stream->handle, 0, 2);
  source->size = std::int64_t{stream->ops.tell(stream->handle)};
  stream->ops.seek(stream->handle, start, 0);
  source->base.bytes_in_buffer = 0;
  source->base.next_input_byte = nullptr;
}

}  // namespace

int DecodeJPEGStream(StreamRecord* stream, StandardImage* image) {
  // Anything that does not start with a start-of-image marker is refused before libjpeg is asked.
  std::uint8_t marker[2];
  if (ReadStreamBytes(stream, marker, 2) != 2 || marker[0] != 0xFF || marker[1] != 0xD8 ||
      stream->ops.seek(stream->handle, 0, 0) != 0)
    return -1;
  jpeg_decompress_struct info;
  std::memset(&info, 0, sizeof info);
  JPEGErrorRecord error;
  info.err = jpeg_std_error(&error.base);
  error.base.error_exit = JPEGErrorExitToCaller;
  // What the error jump must free; volatile, since it is changed between setjmp and longjmp.
  std::uint8_t* volatile pixels = nullptr;
  if (setjmp(error.jump)) {
    TrackedFree(pixels);
    jpeg_destroy_decompress(&info);
    return -1;
  }
  jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info);
  // A progressive image keeps every coefficient of the whole image while it reads; a small file
  // claiming a large one is held to the pixels' own ceiling (libjpeg has no disk to spill to, so
  // it refuses beyond it).
  info.mem->max_memory_to_use = kImagePixelBytesMax;
  SetJPEGStreamSource(&info, stream);
  jpeg_read_header(&info, TRUE);
  // Refused before decompression starts, which for a progressive image reads the whole file.
  if (!FitsImageBytes(std::int64_t{info.image_width} * info.num_components, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  jpeg_start_decompress(&info);
  const int components = info.output_components;
  const std::int64_t rowBytes = std::int64_t{info.output_width} * components;
  // CMYK and other layouts have no place in the engine's formats: refused rather than mislabelled.
  if ((components != 1 && components != 3) || !FitsImageBytes(rowBytes, info.output_height) ||
      info.output_height == 0) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  JSAMPARRAY line = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                              static_cast<JDIMENSION>(rowBytes), 1);
  pixels = static_cast<std::uint8_t*>(TrackedAllocZeroed(rowBytes * info.output_height));
  if (!pixels) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  while (info.output_scanline < info.output_height) {
    std::uint8_t* target = pixels + rowBytes * info.output_scanline;
    if (jpeg_read_scanlines(&info, line, 1) != 1) break;
    if (components == 1) {
      std::memcpy(target, line[0], static_cast<std::size_t>(rowBytes));
      continue;
    }
    for (std::int64_t x = 0; x < rowBytes; x += 3) {
      target[x] = line[0][x + 2];
      target[x + 1] = line[0][x + 1];
      target[x + 2] = line[0][x];
    }
  }
  jpeg_finish_decompress(&info);
  image->format = ColorFormat{};
  if (components == 1) {
    MakeGrayColorFormat(&image->format);
  } else {
    MakeRGB24ColorFormat(&image->format);
  }
  image->width = static_cast<std::int32_t>(info.output_width);
  image->height = static_cast<std::int32_t>(info.output_height);
  image->pitch = static_cast<std::int32_t>(rowBytes);
  image->pixels = pixels;
  jpeg_destroy_decompress(&info);
  return 0;
}
