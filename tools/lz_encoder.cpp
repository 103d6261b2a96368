// The LZ encoder: literals, escaped literals and back-references of 4 to 8195 bytes at distances
// of up to 16 MiB, found greedily through hash chains.
#include "tools/lz_encoder.h"

#include <array>
#include <cstring>

namespace {

constexpr std::size_t kMinMatch = 4;
constexpr std::size_t kMaxMatch = 8195;
constexpr std::size_t kMaxDistance = 1u << 24;
constexpr int kHashBits = 16;
constexpr int kChainDepth = 48;

std::uint32_t Hash4(const std::uint8_t* p) {
  std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
  return (v * 2654435761u) >> (32 - kHashBits);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> PackLZBlock(const std::uint8_t* data, std::size_t size,
                                      int forcedEscape) {
  std::uint8_t escape;
  if (forcedEscape >= 0 && forcedEscape <= 255) {
    escape = static_cast<std::uint8_t>(forcedEscape);
  } else {
    std::array<std::size_t, 256> counts{};
    for (std::size_t i = 0; i < size; ++i) ++counts[data[i]];
    escape = 0;
    for (int b = 1; b < 256; ++b)
      if (counts[b] < counts[escape]) escape = static_cast<std::uint8_t>(b);
  }
  std::vector<std::uint8_t> out;
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, 0);
  out.push_back(escape);

  std::vector<std::int64_t> head(std::size_t{1} << kHashBits, -1);
  std::vector<std::int64_t> previous(size, -1);
  auto insert = [&](std::size_t at) {
    if (at + kMinMatch > size) return;
    std::uint32_t h = Hash4(data + at);
    previous[at] = head[h];
    head[h] = static_cast<std::int64_t>(at);
  };

  std::size_t i = 0;
  while (i < size) {
    std::size_t bestLength = 0;
    std::size_t bestDistance = 0;
    if (i + kMinMatch <= size) {
      std::int64_t candidate = head[Hash4(data + i)];
      const std::size_t limit = std::min(kMaxMatch, size - i);
      for (int depth = 0; candidate >= 0 && depth < kChainDepth;
           ++depth, candidate = previous[candidate]) {
        std::size_t distance = i - static_cast<std::size_t>(candidate);
        if (distance > kMaxDistance) break;
        std::size_t length = 0;
        while (length < limit && data[candidate + length] == data[i + length]) ++length;
        if (length > bestLength) {
          bestLength = length;
          bestDistance = distance;
          if (length == limit) break;
        }
      }
    }
    if (bestLength >= kMinMatch) {
      std::size_t m = bestLength - kMinMatch;
      std::size_t d = bestDistance - 1;
      unsigned fieldCode = d < 0x100 ? 0 : d < 0x10000 ? 1 : 2;
      unsigned v = static_cast<unsigned>((m & 31) << 3) | (m >= 32 ? 4u : 0u) | fieldCode;
      out.push_back(escape);
      out.push_back(static_cast<std::uint8_t>(v < escape ? v : v + 1));
      if (m >= 32) out.push_back(static_cast<std::uint8_t>(m >> 5));
      for (unsigned b = 0; b <= fieldCode; ++b)
        out.push_back(static_cast<std::uint8_t>(d >> (8 * b)));
      for (std::size_t k = 0; k < bestLength; ++k) insert(i + k);
      i += bestLength;
    } else {
      out.push_back(data[i]);
      if (data[i] == escape) out.push_back(escape);
      insert(i);
      ++i;
    }
  }
  std::uint32_t packed = static_cast<std::uint32_t>(out.size());
  for (int b = 0; b < 4; ++b) out[4 + b] = static_cast<std::uint8_t>(packed >> (8 * b));
  return out;
}
