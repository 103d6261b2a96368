// Fuzz target: the DDS decoder over arbitrary bytes in a memory stream, then DXT decompression of
// whatever it accepted.
#include <cstddef>
#include <cstdint>

#include "files/dxt_decompress.h"
#include "files/file_table.h"
#include "files/image_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(OpenMemoryStream(
                                                 data, static_cast<std::int32_t>(size)))};
  StandardImage image{};
  if (DecodeDDSStream(&stream, &image) == 0) {
    if (static_cast<std::int64_t>(image.width) * image.height <= (1 << 20))
      DecompressDXTStandardImage(&image);
    ReleaseStandardImage(&image);
  }
  stream.ops.close(stream.handle);
  return 0;
}
