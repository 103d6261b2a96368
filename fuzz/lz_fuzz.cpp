// Fuzz target: the LZ block decoder with an output of bounded size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/lz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::int64_t unpacked = UnpackLZBlock(data, size, nullptr, 0);
  if (unpacked < 0) return 0;
  // The header may claim more than is worth allocating: the decoder must refuse it, not overrun.
  std::vector<std::uint8_t> output(
      static_cast<std::size_t>(unpacked < (1 << 20) ? unpacked : (1 << 20)));
  UnpackLZBlock(data, size, output.data(), output.size());
  return 0;
}
