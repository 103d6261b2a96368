// Fuzz target: the BMP decoder over arbitrary bytes in a memory stream.
#include <cstddef>
#include <cstdint>

#include "files/file_table.h"
#include "files/image_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(OpenMemoryStream(
                                                 data, static_cast<std::int32_t>(size)))};
  StandardImage image{};
  if (DecodeBMPStream(&stream, &image) == 0) ReleaseStandardImage(&image);
  stream.ops.close(stream.handle);
  return 0;
}
