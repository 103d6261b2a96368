// The kvapack program: a folder packed, listed and unpacked, and the engine reading the packed
// folder from its archive alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "files/archive.h"
#include "files/archive_file.h"
#include "files/file_table.h"
#include "files/image_loader.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"
#include "tools/archive_writer.h"
#include "xvfb_support.h"

namespace {

namespace fs = std::filesystem;

std::string RunKvapack(const std::string& arguments, int* status) {
  std::string command = std::string(KVAPACK_PROGRAM) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[256];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) output += buffer;
  int raw = pipe ? pclose(pipe) : -1;
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every regular file below a folder, by relative path.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      tree[fs::relative(entry.path(), root).generic_string()] = Slurp(entry.path());
  return tree;
}

// A 2 x 1 24-bit BMP.
std::string TinyBmp() {
  const unsigned char bytes[] = {'B', 'M', 62, 0, 0, 0, 0,  0,  0,  0,  54, 0,  0,  0, 40, 0,
                                 0,   0,   2,  0, 0, 0, 1,  0,  0,  0,  1,  0,  24, 0, 0,  0,
                                 0,   0,   8,  0, 0, 0, 0,  0,  0,  0,  0,  0,  0,  0, 0,  0,
                                 0,   0,   0,  0, 0, 0, 10, 20, 30, 40, 50, 60, 0,  0};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

class KvapackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Spit(dir_ / "image" / "title.bmp", TinyBmp());
    Spit(dir_ / "image" / "Sub" / "repeat.bin", std::string(20000, 'r'));
    Spit(dir_ / "image" / "\xE8\xA1\xA8.txt", "hyou");  // "表" in UTF-8
    Spit(dir_ / "image" / "empty.dat", "");
    fs::create_directories(dir_ / "image" / "nothing");
  }
  TempFolder folder_{"h3pack"};
  const fs::path dir_ = folder_.path();
};

TEST_F(KvapackTest, PacksListsAndUnpacksEveryVersion) {
  const auto original = Tree(dir_ / "image");
  for (int version = 1; version <= 4; ++version) {
    SCOPED_TRACE(version);
    int status = -1;
    fs::path archive = dir_ / ("v" + std::to_string(version) + ".kva");
    RunKvapack("pack " + (dir_ / "image").string() + " " + archive.string() + " --version " +
                   std::to_string(version),
               &status);
    ASSERT_EQ(status, 0);
    std::string listing = RunKvapack("list " + archive.string(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(listing.find("Sub/repeat.bin"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\xE8\xA1\xA8.txt"), std::string::npos) << listing;
    EXPECT_NE(listing.find("nothing/"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("(packed)") != std::string::npos, version >= 2) << listing;
    fs::path out = dir_ / ("out" + std::to_string(version));
    RunKvapack("unpack " + archive.string() + " " + out.string(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Tree(out), original);
    EXPECT_TRUE(fs::is_directory(out / "nothing"));
  }
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos)
        << "a temporary file was left behind";
}

TEST_F(KvapackTest, TheEngineReadsThePackedFolderAlone) {
  int status = -1;
  RunKvapack("pack " + (dir_ / "image").string(), &status);
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(fs::exists(dir_ / "image.kva"));
  fs::remove_all(dir_ / "image");

  const fs::path old = fs::current_path();
  fs::current_path(dir_);
  const int blocks = GetTrackedBlockCount();
  SelectFileFunctions(nullptr);
  StandardImage image;
  ASSERT_EQ(LoadStandardImagePlain("image\\TITLE.BMP", nullptr, 0, 0, &image, 0), 0);
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(image.pixels[3], 40);
  ReleaseStandardImage(&image);
  FileHandle file = OpenStreamFile("image/sub/REPEAT.bin", 0, 1, 0);
  ASSERT_NE(file, 0);
  std::string bytes(30000, 0);
  EXPECT_EQ(ReadStreamFile(bytes.data(), 1, bytes.size(), file), 20000u);
  EXPECT_EQ(bytes.substr(0, 20000), std::string(20000, 'r'));
  CloseStreamFile(file);
  file = OpenStreamFile("image\\\x95\x5C.txt", 0, 1, 0);
  ASSERT_NE(file, 0);
  char text[8] = {};
  EXPECT_EQ(ReadStreamFile(text, 1, 8, file), 4u);
  EXPECT_STREQ(text, "hyou");
  CloseStreamFile(file);
  EXPECT_EQ(OpenStreamFile("image\\missing.bmp", 0, 1, 0), 0);
  FlushArchiveCache();
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
  fs::current_path(old);
}

TEST_F(KvapackTest, RefusesWhatItCannotDo) {
  int status = 0;
  RunKvapack("pack " + (dir_ / "missing").string(), &status);
  EXPECT_NE(status, 0);
  Spit(dir_ / "junk.kva", "not an archive");
  RunKvapack("list " + (dir_ / "junk.kva").string(), &status);
  EXPECT_NE(status, 0);
  RunKvapack("frobnicate x", &status);
  EXPECT_EQ(status, 2);
  RunKvapack("pack " + (dir_ / "image").string() + " --version 9", &status);
  EXPECT_EQ(status, 2);
  // A file larger than an entry may hold would pack but never unpack (sparse: no disk is used).
  Spit(dir_ / "large" / "movie.bin", "");
  fs::resize_file(dir_ / "large" / "movie.bin", (64u << 20) + 1);
  const std::string output = RunKvapack("pack " + (dir_ / "large").string(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("movie.bin is larger than the 64 MiB one entry may hold"),
            std::string::npos)
      << output;
  EXPECT_FALSE(fs::exists(dir_ / "large.kva"));
}

// Names up to the file system's limit of 255 bytes pack and unpack: the temporary file written
// beside each one must not pass that limit itself.
TEST_F(KvapackTest, NamesAsLongAsTheFileSystemTakesRoundTrip) {
  for (const std::size_t length : {246u, 250u, 255u}) {
    SCOPED_TRACE(length);
    const fs::path work = dir_ / "work";
    const std::string name(length, 'n');
    Spit(work / "long" / name, "long name");
    int status = -1;
    std::string output = RunKvapack("pack " + (work / "long").string(), &status);
    ASSERT_EQ(status, 0) << output;
    output = RunKvapack("unpack " + (work / "long.kva").string() + " " + (work / "out").string(),
                        &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(Tree(work / "out"), (std::map<std::string, std::string>{{name, "long name"}}));
    fs::remove_all(work);
  }
}

// An archive whose entries carry the given names exactly, even names the writer would never make
// (separators inside one name, duplicates): each name is written as a placeholder of its length,
// then the placeholder's search form and stored name are replaced in the descrambled bytes.
std::vector<std::uint8_t> ArchiveWithNames(
    const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<ArchiveWriterFile> entries;
  std::vector<std::pair<std::string, std::string>> renames;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& name = files[i].first;
    std::string placeholder(name.size(), 'Q');
    placeholder.replace(0, std::min<std::size_t>(3, name.size()), std::to_string(100 + i), 0,
                        std::min<std::size_t>(3, name.size()));
    ArchiveWriterFile file;
    file.path = placeholder;
    file.bytes.assign(files[i].second.begin(), files[i].second.end());
    entries.push_back(file);
    renames.emplace_back(placeholder, name);
  }
  ArchiveWriterOptions options;
  options.pack = false;
  std::vector<std::uint8_t> bytes = WriteArchive(entries, options);
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  for (const auto& [placeholder, name] : renames) {
    std::string form = name;
    for (char& c : form) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int replaced = 0;
    for (auto at = bytes.begin(); replaced < 2;) {
      at = std::search(at, bytes.end(), placeholder.begin(), placeholder.end());
      if (at == bytes.end()) break;
      const std::string& with = replaced++ == 0 ? form : name;  // the form comes first
      at = std::copy(with.begin(), with.end(), at);
    }
    EXPECT_EQ(replaced, 2) << name;
  }
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  return bytes;
}

TEST_F(KvapackTest, UnpackNeverWritesOutsideItsFolderAndNamesWhatItRefuses) {
  const std::string absolute = (dir_ / "abs").string();
  for (const std::string name : {"../x", "..\\x", "a/../../x", "./x", "C:x", absolute.c_str()}) {
    SCOPED_TRACE(name);
    const fs::path work = dir_ / "work";
    Spit(work / "a.kva", "");
    const auto bytes = ArchiveWithNames({{name, "evil"}, {"fine.txt", "good"}});
    std::ofstream(work / "a.kva", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    int status = 0;
    const std::string output =
        RunKvapack("unpack " + (work / "a.kva").string() + " " + (work / "out").string(), &status);
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find(name + ": would lie outside the output folder"), std::string::npos)
        << output;
    EXPECT_EQ(Slurp(work / "out" / "fine.txt"), "good");
    EXPECT_EQ(Tree(dir_ / "work").size(), 2u);  // a.kva and out/fine.txt
    EXPECT_FALSE(fs::exists(dir_ / "x"));
    EXPECT_FALSE(fs::exists(dir_ / "abs"));
    fs::remove_all(work);
  }
}

// Each entry gives its own bytes, or the unpacker exits non-zero naming the entry it could not
// write; it never aborts.
TEST_F(KvapackTest, UnpackWritesEachEntryFromItselfOrNamesIt) {
  const std::string longName(300, 'n');
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    int status;
    std::map<std::string, std::string> written;
    std::string refused;
  };
  const Case cases[] = {
      {"two of one name",
       {{"dup.txt", "first"}, {"dup.txt", "second"}},
       1,
       {{"dup.txt", "first"}},
       "dup.txt: has the name of an entry already unpacked"},
      {"names that differ in case",
       {{"Dup.txt", "upper"}, {"dup.txt", "lower"}},
       0,
       {{"Dup.txt", "upper"}, {"dup.txt", "lower"}},
       ""},
      {"a name too long for the file system",
       {{longName, "x"}, {"ok", "y"}},
       1,
       {{"ok", "y"}},
       longName + ": File name too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path work = dir_ / "work";
    fs::create_directories(work);
    const auto bytes = ArchiveWithNames(c.files);
    std::ofstream(work / "a.kva", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    int status = 0;
    const std::string output =
        RunKvapack("unpack " + (work / "a.kva").string() + " " + (work / "out").string(), &status);
    EXPECT_EQ(status, c.status) << output;
    EXPECT_EQ(Tree(work / "out"), c.written);
    if (!c.refused.empty()) {
      EXPECT_NE(output.find(c.refused), std::string::npos) << output;
    }
    fs::remove_all(work);
  }
}

TEST_F(KvapackTest, UnpackNamesAFileThatClashesWithAFolder) {
  Spit(dir_ / "clash" / "abc", "file");
  int status = 0;
  RunKvapack("pack " + (dir_ / "clash").string(), &status);
  ASSERT_EQ(status, 0);
  fs::create_directories(dir_ / "out" / "abc");  // a folder where the file goes
  const std::string output = RunKvapack(
      "unpack " + (dir_ / "clash.kva").string() + " " + (dir_ / "out").string(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("kvapack: abc: "), std::string::npos) << output;
  EXPECT_TRUE(fs::is_directory(dir_ / "out" / "abc"));
}

// The file's bytes reach the disk before the rename, and the folder's record of the rename
// after it, before the call returns.
TEST_F(KvapackTest, SyncsTheFileBeforeTheRenameAndTheFolderAfterIt) {
  if (!xvfb::IsOnPath("strace") || std::system("strace -o /dev/null true 2>/dev/null") != 0)
    GTEST_SKIP() << "strace cannot trace here";
  const fs::path trace = dir_ / "trace";
  const std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + trace.string() +
                              " -e trace=openat,fsync,rename,renameat,renameat2 " +
                              KVAPACK_PROGRAM + " pack " + (dir_ / "image").string() +
                              " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  // Each call of interest, in order, with the descriptors resolved to what they named.
  std::vector<std::string> calls;
  std::map<std::string, std::string> opened;  // descriptor -> path
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    const std::size_t call = line.find_first_not_of("0123456789 ");
    line = line.substr(call);
    if (line.rfind("openat(", 0) == 0 && line.find(dir_.string()) != std::string::npos) {
      const std::size_t quote = line.find('"');
      const std::string path = line.substr(quote + 1, line.find('"', quote + 1) - quote - 1);
      opened[line.substr(line.rfind("= ") + 2)] = path;
    } else if (line.rfind("fsync(", 0) == 0) {
      const std::string fd = line.substr(6, line.find(')') - 6);
      if (opened.count(fd)) calls.push_back("fsync " + opened[fd]);
    } else if (line.rfind("rename", 0) == 0 && line.find(dir_.string()) != std::string::npos) {
      calls.push_back("rename");
    }
  }
  ASSERT_EQ(calls.size(), 3u) << ::testing::PrintToString(calls);
  EXPECT_EQ(calls[0].rfind("fsync " + (dir_ / "image.kva.tmp").string(), 0), 0u) << calls[0];
  EXPECT_EQ(calls[1], "rename");
  EXPECT_EQ(calls[2], "fsync " + dir_.string());
}

// The archive's descrambled bytes, and back.
std::vector<std::uint8_t> Plain(std::vector<std::uint8_t> bytes) {
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(bytes.size(), bytes.data(), 0, key);
  return bytes;
}

std::uint32_t Get32(const std::vector<std::uint8_t>& plain, std::size_t at) {
  return plain[at] | (plain[at + 1] << 8) | (plain[at + 2] << 16) |
         (std::uint32_t{plain[at + 3]} << 24);
}

void Put32(std::vector<std::uint8_t>& plain, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) plain[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Hostile archives cost no more than they are worth: an entry claiming more than one entry may
// hold (a block of 33 KB unpacking to 64 MiB and more) and a packed entry of no bytes are refused
// by name before anything is sized from their claims, and the other entries are still written.
TEST_F(KvapackTest, UnpackRefusesEntriesClaimingMoreThanTheyMayHold) {
  // 'x' and then 8,200 items of 8,195 bytes each: 67,199,001 bytes in all.
  std::vector<std::uint8_t> block(9, 0);
  block.push_back('x');
  for (int i = 0; i < 8200; ++i) block.insert(block.end(), {0x00, 0xFD, 0xFF, 0x00});
  const std::uint32_t unpacked = 1 + 8200u * 8195u;
  Put32(block, 0, unpacked);
  Put32(block, 4, static_cast<std::uint32_t>(block.size()));
  std::vector<ArchiveWriterFile> files(3);
  files[0].path = "BOMB.BIN";
  files[0].bytes = block;
  files[1].path = "EMPTY.BIN";
  files[1].bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  files[2].path = "FINE.TXT";
  files[2].bytes = {'f', 'i', 'n', 'e'};
  ArchiveWriterOptions options;
  options.pack = false;
  std::vector<std::uint8_t> plain = Plain(WriteArchive(files, options));
  // The root's entries in name order: BOMB.BIN, EMPTY.BIN, FINE.TXT.
  const std::size_t table = Get32(plain, 12) + Get32(plain, 16);
  Put32(plain, table + 36, unpacked);
  Put32(plain, table + 40, static_cast<std::uint32_t>(block.size()));
  Put32(plain, table + 44 + 36, 5000);
  Put32(plain, table + 44 + 40, 0);
  WriteBytes(dir_ / "bomb.kva", Plain(plain));
  int status = 0;
  const std::string output =
      RunKvapack("unpack " + (dir_ / "bomb.kva").string() + " " + (dir_ / "out").string(), &status);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("BOMB.BIN: is larger than the 64 MiB one entry may hold"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("EMPTY.BIN: cannot be read"), std::string::npos) << output;
  EXPECT_EQ(Tree(dir_ / "out"), (std::map<std::string, std::string>{{"FINE.TXT", "fine"}}));
}

// Folders that list the same entries would make the output grow with the square of their
// number: each entry is unpacked once, and a folder listing an entry already listed is refused
// from there on.
TEST_F(KvapackTest, UnpackWritesAnEntryListedByTwoFoldersOnce) {
  std::vector<ArchiveWriterFile> files(2);
  files[0].path = "A\\x.txt";
  files[0].bytes = {'x'};
  files[1].path = "B\\y.txt";
  files[1].bytes = {'y'};
  std::vector<std::uint8_t> plain = Plain(WriteArchive(files, ArchiveWriterOptions{}));
  // Folder B is made to list folder A's entry instead of its own.
  const std::size_t dirs = Get32(plain, 12) + Get32(plain, 20);
  const std::uint32_t firstA = Get32(plain, dirs + 16 + 12);
  const std::uint32_t firstB = Get32(plain, dirs + 32 + 12);
  ASSERT_LT(firstA, firstB);
  Put32(plain, dirs + 32 + 12, firstA);
  WriteBytes(dir_ / "twice.kva", Plain(plain));
  int status = 0;
  const std::string output = RunKvapack(
      "unpack " + (dir_ / "twice.kva").string() + " " + (dir_ / "out").string(), &status);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("B/x.txt: is listed twice; the rest of its folder is not unpacked"),
            std::string::npos)
      << output;
  EXPECT_EQ(Tree(dir_ / "out"), (std::map<std::string, std::string>{{"A/x.txt", "x"}}));
}

}  // namespace
