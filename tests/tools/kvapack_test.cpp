// The kvapack program: a folder packed, listed and unpacked, and the engine reading the packed
// folder from its archive alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "files/archive_file.h"
#include "files/file_table.h"
#include "files/image_loader.h"
#include "system/tracked_memory.h"

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
    char pattern[] = "/tmp/h3packXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Spit(dir_ / "image" / "title.bmp", TinyBmp());
    Spit(dir_ / "image" / "Sub" / "repeat.bin", std::string(20000, 'r'));
    Spit(dir_ / "image" / "\xE8\xA1\xA8.txt", "hyou");  // "表" in UTF-8
    Spit(dir_ / "image" / "empty.dat", "");
    fs::create_directories(dir_ / "image" / "nothing");
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
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
}

}  // namespace
