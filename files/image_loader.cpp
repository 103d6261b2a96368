// The decoder chain and the image loaders: from a file or memory into a StandardImage, mirrored,
// as a DIB, or with its "_a" alpha image.
#include "files/image_loader.h"

#include <cstring>

#include "files/color_convert.h"
#include "files/dxt_decompress.h"
#include "files/win32_file.h"
#include "platform/win32/gdi_dib.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

const ImageDecodeFunc ImageDecoderTable[] = {
    DecodeBMPStream, DecodeJPEGStream, DecodePNGStream, DecodeBGRAStream,
    DecodeTGAStream, DecodeDDSStream,  nullptr,
};

UserImageDecoderList UserImageDecoderTable = {};

std::int64_t ReadStreamBytes(StreamRecord* stream, void* buffer, std::int64_t n) {
  if (n <= 0) return 0;
  return static_cast<std::int64_t>(
      stream->ops.read(buffer, 1, static_cast<std::size_t>(n), stream->handle));
}

std::int64_t MeasureStream(StreamRecord* stream) {
  if (stream->ops.seek(stream->handle, 0, 2) != 0) return -1;
  std::int64_t size = stream->ops.tell(stream->handle);
  if (stream->ops.seek(stream->handle, 0, 0) != 0) return -1;
  return size;
}

TrackedBuffer::~TrackedBuffer() { TrackedFree(bytes); }

bool TrackedBuffer::Allocate(std::int64_t size, bool zeroed) {
  TrackedFree(bytes);
  bytes = static_cast<std::uint8_t*>(zeroed ? TrackedAllocZeroed(size) : TrackedAlloc(size));
  return bytes != nullptr;
}

std::uint8_t* TrackedBuffer::Release() {
  std::uint8_t* out = bytes;
  bytes = nullptr;
  return out;
}

int DecodeImageStream(StreamRecord* stream, StandardImage* image) {
  *image = StandardImage{};
  auto attempt = [&](ImageDecodeFunc decoder) {
    stream->ops.seek(stream->handle, 0, 0);
    *image = StandardImage{};
    return decoder(stream, image) == 0;
  };
  const int userCount = UserImageDecoderTable.count < kUserImageDecoderMax
                            ? UserImageDecoderTable.count
                            : kUserImageDecoderMax;
  for (int i = 0; i < userCount; ++i)
    if (UserImageDecoderTable.decoders[i] && attempt(UserImageDecoderTable.decoders[i])) return 0;
  for (const ImageDecodeFunc* decoder = ImageDecoderTable; *decoder; ++decoder)
    if (attempt(*decoder)) return 0;
  *image = StandardImage{};
  return -1;
}

int LoadStandardImage(const char* path, const void* data, std::int32_t size, int fromMemory,
                      int makeDIB, int mirror, StandardImage* image, BITMAPINFO** info,
                      void** dibPixels) {
  StreamRecord stream{};
  if (fromMemory) {
    MemoryStreamRecord* memory = OpenMemoryStream(data, size);
    if (!memory) return -1;
    stream.ops = *GetMemoryStreamOps();
    stream.handle = reinterpret_cast<std::intptr_t>(memory);
  } else {
    FileHandle file = OpenStreamFile(path, 0, 1, 0);
    if (!file) return -1;
    stream.ops = *GetFileStreamOps();
    stream.handle = file;
  }
  StandardImage local{};
  const int decoded = DecodeImageStream(&stream, &local);
  stream.ops.close(stream.handle);
  if (decoded != 0) return -1;

  if (mirror) {
    if (DecompressDXTStandardImage(&local) != 0) {
      ReleaseStandardImage(&local);
      return -1;
    }
    const std::int64_t bytes = std::int64_t{local.pitch} * local.height;
    auto* mirrored = static_cast<std::uint8_t*>(TrackedAlloc(bytes));
    const RECT whole{0, 0, local.width, local.height};
    if (!mirrored || ConvertPixelRect(mirrored, local.pitch, &local.format, local.pixels,
                                      local.pitch, &local.format, nullptr, 0, nullptr, 0, 0, &whole,
                                      1, 0, 0, 0, 0, 0, 0, 0) < 0) {
      TrackedFree(mirrored);
      ReleaseStandardImage(&local);
      return -1;
    }
    TrackedFree(local.pixels);
    local.pixels = mirrored;
  }

  if (makeDIB) {
    if (DecompressDXTStandardImage(&local) != 0) {
      ReleaseStandardImage(&local);
      return -1;
    }
    auto* bitmapInfo = static_cast<BITMAPINFO*>(
        TrackedAllocZeroed(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)));
    if (!bitmapInfo) {
      ReleaseStandardImage(&local);
      return -1;
    }
    const int made = MakeDIBFromStandardImage(&local, bitmapInfo, dibPixels, 0, 0);
    if (made < 0) {
      ReleaseStandardImage(&local);
      TrackedFree(bitmapInfo);
      return -1;
    }
    // 1: the DIB has pixels of its own; 0: the image's pixels became the caller's.
    if (made == 1) ReleaseStandardImage(&local);
    *info = bitmapInfo;
    return 0;
  }
  *image = local;
  return 0;
}

int LoadStandardImagePlain(const char* path, const void* data, std::int32_t size, int fromMemory,
                           StandardImage* image, int mirror) {
  return LoadStandardImage(path, data, size, fromMemory, 0, mirror, image, nullptr, nullptr);
}

int LoadStandardImageWithAlpha(const char* path, const void* data, std::int32_t size,
                               int fromMemory, const void* alphaData, std::int32_t alphaSize,
                               int alphaMode, StandardImage* image, StandardImage* alphaImage,
                               int mirror) {
  if (LoadStandardImagePlain(path, data, size, fromMemory, image, mirror) != 0) return -1;
  if (alphaMode == 0) {
    char name[kFilePathBufferSize + 4];
    if (!path || std::strlen(path) >= kFilePathBufferSize) return 1;
    MakeAlphaImageFileName(path, name);
    return LoadStandardImagePlain(name, nullptr, 0, 0, alphaImage, mirror) == 0 ? 0 : 1;
  }
  if (alphaMode == 1)
    return LoadStandardImagePlain(nullptr, alphaData, alphaSize, 1, alphaImage, mirror) == 0 ? 0
                                                                                             : 1;
  return 1;
}

int MakeAlphaImageFileName(const char* sourceName, char* nameOut) {
  const int kind = GetCodePageKind();
  // The extension's dot is searched in the last component only, so a dot in a folder name
  // ("dir.v2\image") is never taken for it.
  const char* dot = nullptr;
  for (const char* p = sourceName; *p;) {
    if (IsLeadByteForCodePage(p, kind) && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '.') dot = p;
    if (*p == '\\' || *p == '/') dot = nullptr;
    ++p;
  }
  const std::size_t stem =
      dot ? static_cast<std::size_t>(dot - sourceName) : std::strlen(sourceName);
  std::memcpy(nameOut, sourceName, stem);
  std::memcpy(nameOut + stem, "_a", 2);
  std::strcpy(nameOut + stem + 2, sourceName + stem);
  return 0;
}
