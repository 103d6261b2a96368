// The LZ block decoder: the format's items, round trips through the packer's encoder, and damaged
// blocks refused without reading or writing outside the buffers.
#include "files/lz_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/lz_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Block(std::uint32_t unpacked, std::uint8_t escape, const Bytes& code,
            std::int64_t packedOverride = -1) {
  Bytes b;
  std::uint32_t packed = packedOverride >= 0
                             ? static_cast<std::uint32_t>(packedOverride)
                             : static_cast<std::uint32_t>(code.size() + kLZBlockHeaderSize);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(unpacked >> (8 * i)));
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(packed >> (8 * i)));
  b.push_back(escape);
  b.insert(b.end(), code.begin(), code.end());
  return b;
}

std::int64_t Unpack(const Bytes& block, Bytes& out) {
  return UnpackLZBlock(block.data(), block.size(), out.data(), out.size());
}

TEST(LZDecoder, TheFormatsOwnExample) {
  Bytes block = Block(9, 0x00, {0x61, 0x62, 0x00, 0x11, 0x01, 0x00, 0x00});
  ASSERT_EQ(block.size(), 16u);
  Bytes out(9, 0xEE);
  EXPECT_EQ(Unpack(block, out), 9);
  EXPECT_EQ(out, Bytes({'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b', 0}));
}

TEST(LZDecoder, DecodesEachKindOfItem) {
  struct Case {
    const char* name;
    Bytes block;
    Bytes expected;
  } cases[] = {
      {"escape as code byte", Block(3, 0x41, {0x41, 0x41, 0x42, 0x41, 0x41}), {0x41, 0x42, 0x41}},
      {"empty block", Block(0, 7, {}), {}},
      // v = 0x04 (length byte follows), length byte 1: length 4 + 32 = 36, distance 1.
      {"length byte", Block(37, 0xFF, {0x7A, 0xFF, 0x04, 0x01, 0x00}), Bytes(37, 0x7A)},
      // v = 0x01: two-byte distance 0x0102 + 1 = 259, length 4.
      {"two-byte distance",
       [] {
         Bytes code;
         for (int i = 0; i < 259; ++i) code.push_back(static_cast<std::uint8_t>(i % 200));
         code.insert(code.end(), {0xFF, 0x01, 0x02, 0x01});
         return Block(263, 0xFF, code);
       }(),
       [] {
         Bytes e;
         for (int i = 0; i < 259; ++i) e.push_back(static_cast<std::uint8_t>(i % 200));
         e.insert(e.end(), {0, 1, 2, 3});
         return e;
       }()},
      // v = 0x03 - 1 ... code byte above the escape 0x00: c = v + 1. v = 0x02: three-byte field
      // 0,0,0 -> distance 1.
      {"three-byte distance", Block(5, 0x00, {0x09, 0x00, 0x03, 0x00, 0x00, 0x00}), Bytes(5, 0x09)},
      // length 8195 at distance 1: v = (31 << 3) | 4 = 0xFC, length byte 255.
      {"longest run", Block(8196, 0xFF, {0x33, 0xFF, 0xFC, 0xFF, 0x00}), Bytes(8196, 0x33)},
      // length 10 at distance 3: v = (6 << 3) = 0x30.
      {"period three",
       Block(13, 0xFF, {1, 2, 3, 0xFF, 0x30, 0x02}),
       {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.expected.size() + 4, 0xEE);
    EXPECT_EQ(Unpack(c.block, out), static_cast<std::int64_t>(c.expected.size()));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(c.expected.size())),
              c.expected);
    EXPECT_EQ(out[c.expected.size()], 0xEE);
  }
}

TEST(LZDecoder, NullOutputGivesTheSizeOnly) {
  Bytes block = Block(1234, 0, {0x00, 0x03});  // a damaged stream is never looked at
  EXPECT_EQ(UnpackLZBlock(block.data(), block.size(), nullptr, 0), 1234);
  EXPECT_EQ(UnpackLZBlock(block.data(), 8, nullptr, 0), -1);
}

// Every 4 code bytes yield at most 8195 bytes: a block at that ratio decodes, and a header
// claiming more than its packed size can yield is refused even when only its size is asked.
TEST(LZDecoder, ClaimsBeyondTheLargestExpansionAreRefused) {
  Bytes code = {'x'};
  for (int i = 0; i < 3; ++i) code.insert(code.end(), {0x00, 0xFD, 0xFF, 0x00});  // 8195 x 'x'
  const std::uint32_t longest = 1 + 3 * 8195;
  Bytes block = Block(longest, 0x00, code);
  Bytes out(longest);
  EXPECT_EQ(Unpack(block, out), longest);
  EXPECT_EQ(out, Bytes(longest, 'x'));
  EXPECT_LE(longest, MaxLZUnpackedSize(block.size()));
  const auto beyond = static_cast<std::uint32_t>(MaxLZUnpackedSize(block.size()) + 1);
  Bytes bomb = Block(beyond, 0x00, code);
  EXPECT_EQ(UnpackLZBlock(bomb.data(), bomb.size(), nullptr, 0), -1);
  Bytes empty = Block(1, 0x00, {});
  EXPECT_EQ(UnpackLZBlock(empty.data(), empty.size(), nullptr, 0), -1);
}

TEST(LZDecoder, RefusesDamagedBlocks) {
  struct Case {
    const char* name;
    Bytes block;
    std::size_t capacity;
  } cases[] = {
      {"distance field size 3", Block(8, 0xFF, {1, 2, 3, 4, 0xFF, 0x03, 0, 0, 0}), 8},
      {"distance before the start", Block(6, 0xFF, {1, 0xFF, 0x00, 0x05}), 6},
      {"item cut after the escape", Block(2, 0xFF, {1, 0xFF}), 2},
      {"item cut in the length byte", Block(40, 0xFF, {1, 0xFF, 0x04}), 40},
      {"item cut in the distance", Block(6, 0xFF, {1, 2, 0xFF, 0x01, 0x00}), 6},
      {"output beyond the unpacked size", Block(3, 0xFF, {1, 0xFF, 0x00, 0x00}), 16},
      {"literals beyond the unpacked size", Block(2, 0xFF, {1, 2, 3}), 16},
      {"output short of the unpacked size", Block(5, 0xFF, {1, 2}), 16},
      {"unpacked size beyond the capacity",
       Block(9, 0x00, {0x61, 0x62, 0x00, 0x11, 0x01, 0x00, 0x00}), 8},
      {"packed size below the header", Block(0, 0xFF, {}, 4), 16},
      {"packed size beyond the block", Block(1, 0xFF, {7}, 100), 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.capacity);
    EXPECT_EQ(UnpackLZBlock(c.block.data(), c.block.size(), out.data(), out.size()), -1);
  }
}

TEST(LZDecoder, RoundTripsThroughTheEncoder) {
  std::mt19937 random(99);
  std::vector<std::pair<std::string, Bytes>> inputs;
  inputs.push_back({"empty", {}});
  inputs.push_back({"one byte", {42}});
  inputs.push_back({"all equal", Bytes(100000, 0x55)});
  Bytes noise(70000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  inputs.push_back({"random", noise});
  std::string text;
  while (text.size() < 50000)
    text +=
        "The quick brown fox jumps over the lazy dog " + std::to_string(text.size() % 97) + ". ";
  inputs.push_back({"text", Bytes(text.begin(), text.end())});
  Bytes far = noise;
  far.insert(far.end(), noise.begin(), noise.begin() + 30000);  // matches 70000 bytes back
  inputs.push_back({"far matches", far});
  Bytes every;
  for (int i = 0; i < 20000; ++i) every.push_back(static_cast<std::uint8_t>(i % 256));
  inputs.push_back({"every byte value", every});
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    for (int escape : {-1, 0, 0x55, 0xFF}) {
      Bytes block = PackLZBlock(input.data(), input.size(), escape);
      Bytes out(input.size());
      ASSERT_EQ(UnpackLZBlock(block.data(), block.size(), out.data(), out.size()),
                static_cast<std::int64_t>(input.size()));
      EXPECT_EQ(out, input);
    }
  }
  EXPECT_LT(PackLZBlock(inputs[2].second.data(), 100000).size(), 200u);
}

}  // namespace
