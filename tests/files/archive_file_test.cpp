// The archive-aware file operations: archive or loose file, the open-file table, the archive
// cache, finds, and images loaded from inside an archive.
#include "files/archive_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive_fixtures.h"
#include "files/image_loader.h"
#include "image_fixtures.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;
using fixtures::Bytes;

Bytes SmallBmp() {
  fixtures::BmpLayout s;
  s.width = 2, s.height = 2, s.bitCount = 24;
  s.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  return fixtures::WriteBmp(s);
}

class ArchiveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectFileFunctions(nullptr);
    blocks_ = GetTrackedBlockCount();
  }
  void TearDown() override {
    FlushArchiveCache();
    EXPECT_EQ(GetTrackedBlockCount(), blocks_);
  }
  void PutArchive(const std::string& name, const std::vector<ArchiveWriterFile>& files) {
    ASSERT_TRUE(fixtures::WriteFile(name, WriteArchive(files, ArchiveWriterOptions{})));
  }
  void PutLoose(const std::string& name, const Bytes& bytes) {
    fs::create_directories(fs::path(name).parent_path());
    ASSERT_TRUE(fixtures::WriteFile(name, bytes));
  }
  static Bytes ReadAll(const char* path, bool* opened) {
    FileHandle file = ArchiveFSOpen(path, 0, 1, 0);
    *opened = file != 0;
    Bytes bytes;
    if (!file) return bytes;
    std::uint8_t chunk[64];
    std::size_t n;
    while ((n = ArchiveFSRead(chunk, 1, sizeof chunk, file)) > 0)
      bytes.insert(bytes.end(), chunk, chunk + n);
    EXPECT_EQ(ArchiveFSEof(file), -1);
    EXPECT_EQ(ArchiveFSClose(file), 0);
    return bytes;
  }
  TempFolder folder_{"h3afs", TempFolder::kEnter};
  const std::string dir_ = folder_.string();
  int blocks_ = 0;
};

TEST_F(ArchiveFileTest, AnArchiveStandsForItsFolder) {
  const Bytes inArchive = fixtures::Pattern(300, 1);
  const Bytes loose = fixtures::Pattern(50, 9);
  struct Case {
    const char* name;
    const char* archiveName;  // null: no archive
    bool archiveHoldsPlayer;
    const char* path;
    bool opened;
    bool fromArchive;
  } cases[] = {
      {"archive holds the file", "IMAGE.KVA", true, "image/player.bmp", true, true},
      {"no archive", nullptr, false, "image/player.bmp", true, false},
      {"archive without the file", "IMAGE.KVA", false, "image/player.bmp", false, false},
      {"archive named in lower case", "image.kva", true, "IMAGE\\PLAYER.BMP", true, true},
      {"path through ..", "IMAGE.KVA", true, "elsewhere\\..\\image\\.\\player.bmp", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlushArchiveCache();
    fs::remove("IMAGE.KVA");
    fs::remove("image.kva");
    PutLoose("image/player.bmp", loose);
    if (c.archiveName) {
      std::vector<ArchiveWriterFile> files = fixtures::StandardTree(inArchive);
      if (!c.archiveHoldsPlayer) files.erase(files.begin());
      PutArchive(c.archiveName, files);
    }
    bool opened = false;
    Bytes bytes = ReadAll(c.path, &opened);
    EXPECT_EQ(opened, c.opened);
    if (c.opened) {
      EXPECT_EQ(bytes, c.fromArchive ? inArchive : loose);
    }
  }
}

TEST_F(ArchiveFileTest, ImagesLoadFromInsideAnArchiveLikeLooseFiles) {
  PutLoose("loose/title.bmp", SmallBmp());
  PutArchive("IMAGE.KVA", fixtures::StandardTree(SmallBmp()));
  StandardImage fromArchive, fromDisk;
  ASSERT_EQ(LoadStandardImagePlain("image\\player.bmp", nullptr, 0, 0, &fromArchive, 0), 0);
  ASSERT_EQ(LoadStandardImagePlain("loose\\title.bmp", nullptr, 0, 0, &fromDisk, 0), 0);
  EXPECT_EQ(fixtures::Argb(fromArchive), fixtures::Argb(fromDisk));
  EXPECT_EQ(fromArchive.pitch, fromDisk.pitch);
  ReleaseStandardImage(&fromArchive);
  ReleaseStandardImage(&fromDisk);
  StandardImage colour, alpha;
  EXPECT_EQ(LoadStandardImageWithAlpha("image/player.bmp", nullptr, 0, 0, nullptr, 0, 0, &colour,
                                       &alpha, 0),
            1);
  ReleaseStandardImage(&colour);
}

TEST_F(ArchiveFileTest, OpenFileTableHasFiveHundredTwelveSlots) {
  PutArchive("DATA.KVA", fixtures::StandardTree());
  std::vector<FileHandle> handles;
  for (int i = 0; i < kArchiveFileSlotCount; ++i) {
    FileHandle handle = ArchiveFSOpen("data\\hundred.bin", 0, 1, 0);
    ASSERT_NE(handle, 0) << i;
    handles.push_back(handle);
  }
  EXPECT_EQ(handles[0], 0xF0000000);
  EXPECT_EQ(handles[511], 0xF00001FF);
  EXPECT_EQ(ArchiveFSOpen("data\\hundred.bin", 0, 1, 0), 0);
  ASSERT_EQ(ArchiveFSClose(handles[7]), 0);
  FileHandle again = ArchiveFSOpen("data\\empty.dat", 0, 1, 0);
  EXPECT_EQ(again, handles[7]);
  handles[7] = again;

  const ArchiveCacheEntry* entry = nullptr;
  for (int i = 0; i < kArchiveCacheSlotCount && !entry; ++i) entry = GetArchiveCacheEntry(i);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->useCount, kArchiveFileSlotCount);

  // Handles this set never gave out touch nothing, the failed open's 0 included.
  for (FileHandle bad :
       {FileHandle{0}, FileHandle{0xF0000000 | 512}, FileHandle{0x12345}, FileHandle{-1}}) {
    EXPECT_EQ(ArchiveFSClose(bad), -1);
    EXPECT_EQ(ArchiveFSTell(bad), -1);
    EXPECT_EQ(ArchiveFSSeek(bad, 0, 0), -1);
    EXPECT_EQ(ArchiveFSEof(bad), -1);
    EXPECT_EQ(ArchiveFSIdleCheck(bad), -1);
    char byte;
    EXPECT_EQ(ArchiveFSRead(&byte, 1, 1, bad), 0u);
  }
  EXPECT_EQ(ArchiveFSTell(handles[0]), 0);
  for (FileHandle handle : handles) EXPECT_EQ(ArchiveFSClose(handle), 0);
  EXPECT_EQ(ArchiveFSClose(handles[0]), -1);
  EXPECT_EQ(entry->useCount, 0);
}

TEST_F(ArchiveFileTest, ArchivesStayCachedUntilReleased) {
  PutArchive("DATA.KVA", fixtures::StandardTree());
  FileHandle a = ArchiveFSOpen("data/player.bmp", 0, 1, 0);
  FileHandle b = ArchiveFSOpen("DATA/SUB/X.BIN", 0, 1, 0);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  int used = 0;
  int index = -1;
  for (int i = 0; i < kArchiveCacheSlotCount; ++i)
    if (GetArchiveCacheEntry(i)) ++used, index = i;
  const ArchiveCacheEntry* entry = GetArchiveCacheEntry(index);
  EXPECT_EQ(used, 1);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->useCount, 2);
  EXPECT_EQ(std::string(entry->path).substr(std::string(entry->path).size() - 9), "\\DATA.KVA");

  std::uint8_t buffer[128];
  EXPECT_EQ(ArchiveFSRead(buffer, 0, 5, b), 0u);
  EXPECT_EQ(ArchiveFSRead(buffer, 3, 40, b), 40u);
  EXPECT_EQ(ArchiveFSSeek(b, -10, 2), 0);
  EXPECT_EQ(ArchiveFSRead(buffer, 3, 40, b), 3u);  // 10 bytes: three whole elements
  EXPECT_EQ(ArchiveFSIdleCheck(b), 1);
  ArchiveFSClose(a);
  ArchiveFSClose(b);
  EXPECT_EQ(entry->useCount, 0);
  EXPECT_EQ(GetArchiveCacheEntry(index), entry);  // kept until released
  ReleaseUnusedArchives();
  for (int i = 0; i < kArchiveCacheSlotCount; ++i) EXPECT_EQ(GetArchiveCacheEntry(i), nullptr);
}

TEST_F(ArchiveFileTest, FindsInsideArchivesOrOnDisk) {
  PutArchive("DATA.KVA", fixtures::StandardTree());
  PutLoose("notes/a.txt", {1});
  PutLoose("notes/b.txt", {1, 2});
  auto list = [](const char* pattern) {
    std::vector<std::string> names;
    FindResultRecord result;
    FindHandle find = ArchiveFSFindFirst(pattern, &result);
    if (find == -1) return names;
    do names.push_back(result.name);
    while (ArchiveFSFindNext(find, &result) == 0);
    EXPECT_EQ(ArchiveFSFindClose(find), 0);
    return names;
  };
  EXPECT_EQ(list("data\\*.bin"), std::vector<std::string>({"HUNDRED.BIN"}));
  EXPECT_EQ(list("data\\sub\\*"), std::vector<std::string>({".", "..", "X.BIN"}));
  EXPECT_EQ(list("notes\\*.txt"), std::vector<std::string>({"a.txt", "b.txt"}));
  EXPECT_EQ(list("data\\*.wav"), std::vector<std::string>());
  EXPECT_EQ(list("notes\\*.wav"), std::vector<std::string>());
  char buffer[MAX_PATH];
  EXPECT_EQ(ArchiveFSGetDir(buffer), 0);
  EXPECT_EQ(std::string(buffer).substr(0, 2), "Z:");
  EXPECT_EQ(ArchiveFSChangeDir("notes"), 0);
  EXPECT_EQ(fs::current_path(), fs::path(dir_) / "notes");
  EXPECT_EQ(ArchiveFSChangeDir(".."), 0);
}

}  // namespace
