// Whole-file replacement: the new bytes or the old file, never anything in between, and a
// failure that says so.
#include "system/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "write_failures.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class AtomicFileTest : public ::testing::Test {
 protected:
  // A test may take away the folder's write permission; the folder is removed with it back.
  void TearDown() override { chmod(dir_.c_str(), 0700); }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Only the named files are in the folder: no temporary file was left behind.
  void ExpectOnly(std::initializer_list<const char*> names) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_))
      found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, std::vector<std::string>(names.begin(), names.end()));
  }
  TempFolder folder_{"atomic"};
  const fs::path dir_ = folder_.path();
};

TEST_F(AtomicFileTest, ReplacesTheFileAndKeepsItsPermissions) {
  const fs::path path = dir_ / "save.sdt";
  std::ofstream(path) << "old";
  chmod(path.c_str(), 0640);
  const Bytes bytes = {'n', 'e', 'w', 0, 1};
  ASSERT_EQ(WriteFileAtomically(path.c_str(), bytes), 0);
  EXPECT_EQ(Read(path), std::string("new\0\1", 5));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(WriteFileAtomically((dir_ / "fresh").c_str(), {}), 0);
  EXPECT_EQ(Read(dir_ / "fresh"), "");
  ExpectOnly({"fresh", "save.sdt"});
}

TEST_F(AtomicFileTest, AFailedWriteKeepsThePreviousFileAndSaysWhy) {
  const fs::path path = dir_ / "save.sdt";
  std::ofstream(path) << "previous";
  const Bytes big(4096, 7);
  {
    writefail::FileSizeLimit full(100);  // the disk fills up part way through
    errno = 0;
    EXPECT_EQ(WriteFileAtomically(path.c_str(), big), -1);
    EXPECT_EQ(errno, EFBIG);
  }
  EXPECT_EQ(Read(path), "previous");
  ExpectOnly({"save.sdt"});

  fs::create_directory(dir_ / "folder");  // a folder where the file should go
  EXPECT_EQ(WriteFileAtomically((dir_ / "folder").c_str(), big), -1);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(WriteFileAtomically((dir_ / "missing" / "x").c_str(), big), -1);
  EXPECT_EQ(errno, ENOENT);
  ExpectOnly({"folder", "save.sdt"});

  if (geteuid() != 0) {  // permissions do not bind root
    chmod(dir_.c_str(), 0500);
    EXPECT_EQ(WriteFileAtomically(path.c_str(), big), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(Read(path), "previous");
  }
}

// A write killed part way leaves "<name>.tmpXXXXXX" behind: the next write to that file removes
// its own leftovers and nothing else, and leaves alone one that a live writer still holds.
TEST_F(AtomicFileTest, TheNextWriteRemovesItsOwnStaleTemporaries) {
  const char* kept[] = {"config.dat.tmpAb12Cd",  // another file's
                        "save.sdt.tmpAb12C",     // not six letters
                        "save.sdt.tmpAb12C-",    // not a letter or digit
                        "save.sdt.tmpAb12Cd7",   // seven
                        "save.sdt.tmp",          // none
                        "xsave.sdt.tmpAb12Cd",   // a longer name's
                        "save.sdt.tmpLocked"};   // held by a writer still at work
  for (const char* name : kept) std::ofstream(dir_ / name) << "x";
  std::ofstream(dir_ / "save.sdt.tmpAb12Cd") << "cut short";
  std::ofstream(dir_ / "save.sdt.tmp000000");
  const int held = open((dir_ / "save.sdt.tmpLocked").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  ASSERT_EQ(WriteFileAtomically((dir_ / "save.sdt").c_str(), Bytes{1, 2}), 0);
  close(held);
  EXPECT_EQ(Read(dir_ / "save.sdt"), std::string("\1\2", 2));
  ExpectOnly({"config.dat.tmpAb12Cd", "save.sdt", "save.sdt.tmp", "save.sdt.tmpAb12C",
              "save.sdt.tmpAb12C-", "save.sdt.tmpAb12Cd7", "save.sdt.tmpLocked",
              "xsave.sdt.tmpAb12Cd"});
}

}  // namespace
