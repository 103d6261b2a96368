// The archive reader: every version and key, streamed and in memory, look-up, entry streams,
// wildcards and searches, and damaged archives refused without reading outside the buffers.
#include "files/archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_fixtures.h"
#include "files/lz_decoder.h"
#include "image_fixtures.h"
#include "platform/win32/kernel.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

using fixtures::Bytes;

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override { blocks_ = GetTrackedBlockCount(); }
  void TearDown() override { EXPECT_EQ(GetTrackedBlockCount(), blocks_); }
  // Opens the archive either from a file (streamed) or from memory.
  int Open(ArchiveRecord* record, Bytes& bytes, bool streamed, const char* key = nullptr) {
    *record = ArchiveRecord{};
    if (!streamed)
      return OpenArchiveImage(record, bytes.data(), static_cast<std::uint32_t>(bytes.size()), key);
    std::string path = dir_ + "/test.kva";
    fixtures::WriteFile(path, bytes);
    return OpenArchiveStreamed(record, ("Z:" + path).c_str(), key);
  }
  static Bytes ReadEntry(ArchiveRecord* record, const std::string& path, bool* ok) {
    ArchiveEntryStream stream;
    *ok = OpenArchiveEntry(&stream, record, path.c_str(), 0) == 0;
    if (!*ok) return {};
    Bytes bytes(stream.entry.dataSize + 8, 0xEE);
    std::uint32_t read =
        ReadArchiveEntry(&stream, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    bytes.resize(read);
    CloseArchiveEntry(&stream);
    return bytes;
  }
  TempFolder folder_{"h3kva"};
  const std::string dir_ = folder_.string();
  int blocks_ = 0;
};

TEST_F(ArchiveTest, EveryVersionAndKeyRoundTrips) {
  const std::vector<ArchiveWriterFile> tree = fixtures::StandardTree();
  for (int version = 1; version <= 4; ++version) {
    for (ArchiveKeyChoice key : {ArchiveKeyChoice::kDerived, ArchiveKeyChoice::kFallback}) {
      for (bool streamed : {false, true}) {
        SCOPED_TRACE(testing::Message() << "version " << version
                                        << (key == ArchiveKeyChoice::kFallback ? " fallback" : "")
                                        << (streamed ? " streamed" : " memory"));
        ArchiveWriterOptions options;
        options.version = static_cast<std::uint16_t>(version);
        options.key = key;
        Bytes bytes = WriteArchive(tree, options);
        ASSERT_FALSE(bytes.empty());
        ArchiveRecord record;
        ASSERT_EQ(Open(&record, bytes, streamed), 0);
        EXPECT_EQ(record.version, version);
        EXPECT_EQ(record.codePageKind, version == 4 ? 1 : 0);
        for (const ArchiveWriterFile& file : tree) {
          SCOPED_TRACE(file.path);
          ArchiveFileEntry entry;
          ASSERT_EQ(FindArchiveFileEntry(file.path.c_str(), &record, &entry), 0);
          if (version == 1) {
            EXPECT_EQ(entry.packedSize, kArchivePlain);
          }
          if (file.path == "SUB\\X.BIN" && version >= 2) {
            EXPECT_NE(entry.packedSize, kArchivePlain);
          }
          bool ok = false;
          EXPECT_EQ(ReadEntry(&record, file.path, &ok), file.bytes);
          EXPECT_TRUE(ok);
        }
        EXPECT_EQ(ReleaseArchiveRecord(&record), 0);
      }
    }
  }
}

TEST_F(ArchiveTest, KeyStringsAndWrongKeys) {
  ArchiveWriterOptions options;
  options.key = ArchiveKeyChoice::kString;
  options.keyString = "secret";
  Bytes bytes = WriteArchive(fixtures::StandardTree(), options);
  const Bytes original = bytes;
  ArchiveRecord record;
  EXPECT_EQ(Open(&record, bytes, false), -1);
  EXPECT_EQ(bytes, original);
  EXPECT_EQ(Open(&record, bytes, true), -1);
  ASSERT_EQ(Open(&record, bytes, false, "secret"), 0);
  bool ok;
  EXPECT_EQ(ReadEntry(&record, "hundred.bin", &ok), fixtures::Pattern(100, 5));
  ReleaseArchiveRecord(&record);
  EXPECT_EQ(bytes, original);
  // Twelve bytes or more: only the first twelve count.
  std::uint8_t a[kArchiveKeySize], b[kArchiveKeySize];
  DeriveArchiveKey("abcdefghijklXYZ", a);
  DeriveArchiveKey("abcdefghijkl", b);
  EXPECT_EQ(Bytes(a, a + 12), Bytes(b, b + 12));
}

TEST_F(ArchiveTest, InMemoryImageComesBackUnchanged) {
  Bytes bytes = WriteArchive(fixtures::StandardTree(), ArchiveWriterOptions{});
  const Bytes original = bytes;
  ArchiveRecord record;
  ASSERT_EQ(Open(&record, bytes, false), 0);
  EXPECT_NE(bytes, original);  // descrambled while open
  EXPECT_EQ(GetArchiveImagePointer(&record), bytes.data());
  ReleaseArchiveRecord(&record);
  EXPECT_EQ(bytes, original);

  // A version above 4 with a good signature: refused, and the bytes are given back as they were.
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  bytes[2] = 5;
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  const Bytes version5 = bytes;
  EXPECT_EQ(Open(&record, bytes, false), -1);
  EXPECT_EQ(bytes, version5);
  EXPECT_EQ(Open(&record, bytes, true), -1);
  Bytes junk(64, 0x77);
  EXPECT_EQ(Open(&record, junk, false), -1);
  EXPECT_EQ(Open(&record, junk, true), -1);
}

TEST_F(ArchiveTest, LooksUpNamesWithoutCaseAndKeepsTheCurrentFolder) {
  Bytes bytes = WriteArchive(fixtures::StandardTree(), ArchiveWriterOptions{});
  ArchiveRecord record;
  ASSERT_EQ(Open(&record, bytes, false), 0);
  struct Case {
    std::string path;
    int result;
  } cases[] = {
      {"player.bmp", 0},
      {"Player.BMP", 0},
      {"LOWER\\CASE.TXT", 0},
      {"Lower/Case.txt", 0},
      {"mixedcase.txt", 0},
      {"sub\\x.bin", 0},
      {"\\sub\\x.bin", 0},
      {"sub\\\\x.bin", -1},
      {"SUB", -1},
      {"SUB\\", -1},
      {"sub\\missing", -1},
      {"SUB\\X.BIN\\Z", -1},
      {"X.BIN", -1},
      {"sub\\..\\player.bmp", -1},
      {fixtures::kHyou + "\\" + fixtures::kHyou + ".BIN", 0},
      {fixtures::kHyou, -1},
      {std::string(2000, 'A'), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ArchiveFileEntry entry;
    EXPECT_EQ(FindArchiveFileEntry(c.path.c_str(), &record, &entry), c.result);
    EXPECT_EQ(record.currentDir, 0u);
  }
  EXPECT_EQ(ChangeArchiveDir(&record, "sub", 1, nullptr), 0);
  ArchiveFileEntry entry;
  EXPECT_EQ(FindArchiveFileEntry("x.bin", &record, &entry), 0);
  EXPECT_EQ(FindArchiveFileEntry("player.bmp", &record, &entry), -1);
  const std::uint32_t sub = record.currentDir;
  EXPECT_EQ(ChangeArchiveDir(&record, "nowhere\\deeper", 1, nullptr), -1);
  EXPECT_EQ(record.currentDir, sub);
  EXPECT_EQ(ChangeArchiveDir(&record, "..", 1, nullptr), 0);
  EXPECT_EQ(record.currentDir, 0u);
  EXPECT_EQ(ChangeArchiveDir(&record, "..", 1, nullptr), -1);
  std::uint32_t position = 0, size = 0;
  EXPECT_EQ(GetArchiveFileLocation(&record, "HUNDRED.BIN", &position, &size), 0);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(Bytes(bytes.begin() + position, bytes.begin() + position + size),
            fixtures::Pattern(100, 5));
  ReleaseArchiveRecord(&record);
}

TEST_F(ArchiveTest, EntryStreamsReadSeekAndEnd) {
  Bytes bytes = WriteArchive(fixtures::StandardTree(), ArchiveWriterOptions{});
  for (bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "memory");
    ArchiveRecord record;
    ASSERT_EQ(Open(&record, bytes, streamed), 0);
    ArchiveEntryStream stream;
    ASSERT_EQ(OpenArchiveEntry(&stream, &record, "HUNDRED.BIN", 0), 0);
    std::uint8_t buffer[16];
    EXPECT_EQ(SeekArchiveEntry(&stream, 95, 0), 0);
    EXPECT_EQ(ReadArchiveEntry(&stream, buffer, 10), 5u);
    EXPECT_EQ(buffer[4], fixtures::Pattern(100, 5)[99]);
    EXPECT_EQ(ReadArchiveEntry(&stream, buffer, 10), 0u);
    EXPECT_EQ(EofArchiveEntry(&stream), -1);
    EXPECT_EQ(SeekArchiveEntry(&stream, -3, 0), 0);
    EXPECT_EQ(TellArchiveEntry(&stream), 0);
    EXPECT_EQ(EofArchiveEntry(&stream), 0);
    EXPECT_EQ(SeekArchiveEntry(&stream, 1000, 1), 0);
    EXPECT_EQ(TellArchiveEntry(&stream), 100);
    EXPECT_EQ(SeekArchiveEntry(&stream, -10, 2), 0);
    EXPECT_EQ(ReadArchiveEntry(&stream, buffer, 16), 10u);
    EXPECT_EQ(PollArchiveEntryRead(&stream), 1);
    CloseArchiveEntry(&stream);

    // No-wait reads finish in the background and are whole once polled.
    ArchiveEntryStream packed, plain;
    ASSERT_EQ(OpenArchiveEntry(&packed, &record, "sub/x.bin", 1), 0);
    ASSERT_EQ(OpenArchiveEntry(&plain, &record, "mixedcase.txt", 1), 0);
    Bytes a(5000), b(120);
    EXPECT_EQ(ReadArchiveEntry(&packed, a.data(), 5000), 5000u);
    EXPECT_EQ(ReadArchiveEntry(&plain, b.data(), 120), 120u);
    while (!PollArchiveEntryRead(&plain)) Sleep(1);
    EXPECT_EQ(a, Bytes(5000, 0x61));
    EXPECT_EQ(b, fixtures::Pattern(120, 3));
    CloseArchiveEntry(&packed);
    CloseArchiveEntry(&plain);

    ASSERT_EQ(OpenArchiveEntry(&stream, &record, "empty.dat", 0), 0);
    EXPECT_EQ(ReadArchiveEntry(&stream, buffer, 4), 0u);
    EXPECT_EQ(EofArchiveEntry(&stream), -1);
    CloseArchiveEntry(&stream);
    EXPECT_EQ(OpenArchiveEntry(&stream, &record, "SUB", 0), -1);
    ReleaseArchiveRecord(&record);
  }
}

TEST_F(ArchiveTest, EntriesOfOneStreamedArchiveInterleave) {
  Bytes bytes = WriteArchive(fixtures::StandardTree(), ArchiveWriterOptions{});
  ArchiveRecord record;
  ASSERT_EQ(Open(&record, bytes, true), 0);
  ArchiveEntryStream first, second;
  ASSERT_EQ(OpenArchiveEntry(&first, &record, "PLAYER.BMP", 0), 0);
  ASSERT_EQ(OpenArchiveEntry(&second, &record, "MixedCase.Txt", 0), 0);
  Bytes a, b;
  std::uint8_t chunk[7];
  for (;;) {
    std::uint32_t n1 = ReadArchiveEntry(&first, chunk, 7);
    a.insert(a.end(), chunk, chunk + n1);
    std::uint32_t n2 = ReadArchiveEntry(&second, chunk, 5);
    b.insert(b.end(), chunk, chunk + n2);
    if (n1 == 0 && n2 == 0) break;
  }
  EXPECT_EQ(a, fixtures::Pattern(300, 1));
  EXPECT_EQ(b, fixtures::Pattern(120, 3));
  CloseArchiveEntry(&first);
  CloseArchiveEntry(&second);
  ReleaseArchiveRecord(&record);
}

TEST(ArchiveWildcard, MatchesAsWindowsDoes) {
  ArchiveRecord record{};
  struct Case {
    const char* name;
    const char* pattern;
    int result;
  } cases[] = {
      {"PLAYER.BMP", "*.BMP", 0},
      {"PLAYER.BMPX", "*.BMP", -1},
      {"PLAYER.BMP", "P?AYER*", 0},
      {"PLAYER.BMP", "**", 0},
      {"A.B.BMP", "*.BMP", 0},
      {"PLAYER.BMP", "PLAYER.BM", -1},
      {"\x95\x5C.BMP", "?*.BMP", 0},
      {"\x95\x5C", "\x95\x5C", 0},
      {"\x95\x5D", "\x95\x5C", -1},
      {"", "*", 0},
      {"X", "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " / " << c.pattern);
    EXPECT_EQ(MatchArchiveWildcard(c.name, c.pattern, &record), c.result);
  }
}

TEST_F(ArchiveTest, SearchesListEachEntryOnce) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  Bytes bytes = WriteArchive(fixtures::StandardTree(), ArchiveWriterOptions{});
  ArchiveRecord record;
  ASSERT_EQ(Open(&record, bytes, false), 0);
  auto list = [&](const char* pattern) {
    std::vector<std::string> names;
    FindResultRecord result;
    ArchiveFindState* state = BeginArchiveFind(&record, pattern, &result);
    if (!state) return names;
    do {
      names.push_back(std::string(result.name) + (result.directory ? "/" : "") + ":" +
                      std::to_string(result.sizeLow));
    } while (FetchNextArchiveMatch(state, &result) == 0);
    EndArchiveFind(state);
    return names;
  };
  EXPECT_EQ(list("*"), std::vector<std::string>({"./:0", "EMPTY.DAT:0", "HUNDRED.BIN:100",
                                                 "MixedCase.Txt:120", "PLAYER.BMP:300", "SUB/:0",
                                                 "lower/:0", fixtures::kHyou + "/:0"}));
  EXPECT_EQ(list("sub\\*"), std::vector<std::string>({"./:0", "../:0", "X.BIN:5000"}));
  EXPECT_EQ(list("*.bin"), std::vector<std::string>({"HUNDRED.BIN:100"}));
  EXPECT_EQ(list("*.wav"), std::vector<std::string>());
  EXPECT_EQ(list("nowhere\\*"), std::vector<std::string>());
  FindResultRecord result;
  ArchiveFindState* state = BeginArchiveFind(&record, "hundred.*", &result);
  ASSERT_NE(state, nullptr);
  const DateRecord expected{2001, 9, 9, 1, 56, 40};  // 1000000600 seconds after 1970
  EXPECT_EQ(std::memcmp(&result.lastWriteTime, &expected, sizeof expected), 0);
  EndArchiveFind(state);
  ReleaseArchiveRecord(&record);
  if (oldTz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// Overwrites a 32-bit field of the plain archive and scrambles it again.
Bytes Damage(Bytes bytes, std::size_t at, std::uint32_t value) {
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  return bytes;
}

std::uint32_t Field(Bytes bytes, std::size_t at) {
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (std::uint32_t{bytes[at + 3]} << 24);
}

TEST_F(ArchiveTest, DamagedArchivesAreRefusedOrEntriesMissing) {
  const Bytes good = WriteArchive(fixtures::StandardTree(), ArchiveWriterOptions{});
  const std::uint32_t head = Field(good, 12);
  const std::uint32_t fileTable = head + Field(good, 16);
  const std::uint32_t dirTable = head + Field(good, 20);
  // PLAYER.BMP is the 4th root entry in byte order: EMPTY, HUNDRED, MixedCase, PLAYER.
  const std::uint32_t player = fileTable + 3 * 44;
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {"head block size", 4, 0x7FFFFFF0},
      {"data area offset", 8, 0x7FFFFFF0},
      {"head block offset", 12, 0x7FFFFFF0},
      {"file table offset", 16, 0x7FFFFFF0},
      {"directory table offset", 20, 0x7FFFFFF0},
      {"root entry count", dirTable + 8, 0x10000000},
      {"root first entry", dirTable + 12, 0x7FFFFFF0},
      {"name offset", player, 0x7FFFFFF0},
      {"data offset", player + 32, 0x7FFFFFF0},
      {"data size", player + 36, 0x7FFFFFF0},
      {"packed size", player + 40, 0x7FFFFFF0},
      {"packed size small", player + 40, 4},
      {"folder record", fileTable + 5 * 44 + 32, 0x7FFFFFF0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool streamed : {false, true}) {
      Bytes bytes = Damage(good, c.at, c.value);
      ArchiveRecord record;
      if (Open(&record, bytes, streamed) != 0) continue;
      bool ok = true;
      for (const ArchiveWriterFile& file : fixtures::StandardTree()) {
        Bytes read = ReadEntry(&record, file.path, &ok);
        if (ok && file.path != "PLAYER.BMP") {
          EXPECT_EQ(read, file.bytes);
        }
      }
      FindResultRecord result;
      if (ArchiveFindState* state = BeginArchiveFind(&record, "*", &result)) {
        while (FetchNextArchiveMatch(state, &result) == 0) {
        }
        EndArchiveFind(state);
      }
      ReleaseArchiveRecord(&record);
    }
  }
  // A packed block whose own sizes disagree with its entry is refused.
  Bytes bytes = good;
  ArchiveRecord record;
  ASSERT_EQ(Open(&record, bytes, false), 0);
  ArchiveFileEntry entry;
  ASSERT_EQ(FindArchiveFileEntry("SUB\\X.BIN", &record, &entry), 0);
  const std::uint32_t block = record.dataAreaOffset + entry.dataOffset;
  ReleaseArchiveRecord(&record);
  for (std::uint32_t field : {block, block + 4}) {
    Bytes damaged = Damage(good, field, Field(good, field) + 1);
    for (bool streamed : {false, true}) {
      ASSERT_EQ(Open(&record, damaged, streamed), 0);
      bool ok = true;
      ReadEntry(&record, "SUB\\X.BIN", &ok);
      EXPECT_FALSE(ok);
      ReleaseArchiveRecord(&record);
    }
  }
}

// A packed entry's record claims what its LZ block holds. A claim the block's bytes cannot yield
// (a packed size of 0 behind 2 GiB, or more than the format's largest expansion) is refused at
// once, streamed or in memory, and the archive's other uses go on.
TEST_F(ArchiveTest, PackedEntriesClaimingMoreThanTheirBytesCanHoldAreRefused) {
  ArchiveWriterFile big;
  big.path = "BIG.BIN";
  big.bytes.assign(5000, 0x61);
  const Bytes good = WriteArchive({big}, ArchiveWriterOptions{});
  const std::uint32_t entry = Field(good, 12) + Field(good, 16);  // the root's only entry
  const std::uint32_t packed = Field(good, entry + 40);
  ASSERT_NE(packed, kArchivePlain);
  const std::uint32_t block = Field(good, 8) + Field(good, entry + 32);
  const auto beyond = static_cast<std::uint32_t>(MaxLZUnpackedSize(packed) + 1);
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"packed size 0 claiming 2 GiB", Damage(Damage(good, entry + 40, 0), entry + 36, 0x7FFFFFFF)},
      {"packed size 0", Damage(good, entry + 40, 0)},
      {"packed size below the block header", Damage(good, entry + 40, 8)},
      {"more than the block can expand to",
       Damage(Damage(good, entry + 36, beyond), block, beyond)},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool streamed : {false, true}) {
      ArchiveRecord record;
      ASSERT_EQ(Open(&record, c.bytes, streamed), 0);
      bool ok = true;
      ReadEntry(&record, "BIG.BIN", &ok);
      EXPECT_FALSE(ok);
      // Refused at the open, before any read of the claimed bytes is started.
      ArchiveEntryStream stream;
      EXPECT_EQ(OpenArchiveEntry(&stream, &record, "BIG.BIN", 1), -1);
      FindResultRecord result;
      ArchiveFindState* state = BeginArchiveFind(&record, "*.BIN", &result);
      ASSERT_NE(state, nullptr);
      EXPECT_STREQ(result.name, "BIG.BIN");
      EndArchiveFind(state);
      ReleaseArchiveRecord(&record);
    }
  }
  Bytes intact = good;
  ArchiveRecord record;
  ASSERT_EQ(Open(&record, intact, true), 0);
  bool ok = false;
  EXPECT_EQ(ReadEntry(&record, "BIG.BIN", &ok), big.bytes);
  EXPECT_TRUE(ok);
  ReleaseArchiveRecord(&record);
}

}  // namespace
