// The kernel file calls over POSIX: path mapping, case-insensitive names, files, find, temp files.
#include "platform/win32/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/file_path.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;

// "表" is 0x95 0x5C in code page 932: its trail byte is the backslash byte.
constexpr const char* kHyouAnsi = "\x95\x5C";
constexpr const char* kHyouUtf8 = "\xE8\xA1\xA8";

class Win32FileCalls : public ::testing::Test {
 protected:
  void WriteBytes(const std::string& posixPath, const std::string& bytes) {
    fs::create_directories(
        fs::path(posixPath).parent_path().empty() ? "." : fs::path(posixPath).parent_path());
    std::ofstream(posixPath, std::ios::binary) << bytes;
  }
  std::string ReadAll(HANDLE file) {
    std::string out(4096, '\0');
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &read, nullptr));
    out.resize(read);
    return out;
  }
  std::string EnginePath(const std::string& posix) {
    std::string out;
    EXPECT_TRUE(MapPosixToEnginePath(posix, out));
    return out;
  }
  TempFolder folder_{"h3file", TempFolder::kEnter};
  const std::string dir_ = folder_.string();
};

TEST(Win32FilePath, MapsEnginePathsToPosix) {
  struct Case {
    const char* engine;
    bool ok;
    std::string posix;
  } cases[] = {
      {"Z:\\home\\a\\game", true, "/home/a/game"},
      {"z:\\x", true, "/x"},
      {"\\x\\y", true, "/x/y"},
      {"Z:a\\b", true, "a/b"},
      {"Z:", true, "."},
      {"image\\player.bmp", true, "image/player.bmp"},
      {"a/b\\c", true, "a/b/c"},
      {"Z:\\tmp\\\x95\x5C\\a", true, std::string("/tmp/") + kHyouUtf8 + "/a"},
      {"C:\\x", false, ""},
      {"\\\\server\\share\\x", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.engine);
    std::string out;
    EXPECT_EQ(MapToPosixPath(c.engine, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.posix);
    }
  }
}

TEST(Win32FilePath, MapsPosixToEngineAndBack) {
  std::string out;
  ASSERT_TRUE(MapPosixToEnginePath("/home/a/game", out));
  EXPECT_EQ(out, "Z:\\home\\a\\game");
  ASSERT_TRUE(MapPosixToEnginePath(std::string("/x/") + kHyouUtf8, out));
  EXPECT_EQ(out, std::string("Z:\\x\\") + kHyouAnsi);
  ASSERT_TRUE(MapPosixToEnginePath("/", out));
  EXPECT_EQ(out, "Z:\\");
  EXPECT_FALSE(MapPosixToEnginePath("relative", out));
}

TEST(Win32FilePath, MatchesWildcardsWithoutCase) {
  EXPECT_TRUE(MatchWildcard("*.bmp", "Player.BMP"));
  EXPECT_TRUE(MatchWildcard("*.*", "noextension"));
  EXPECT_TRUE(MatchWildcard("p?ayer.*", "PLAYER.bmp"));
  EXPECT_FALSE(MatchWildcard("*.bmp", "player.png"));
  EXPECT_TRUE(MatchWildcard("?.txt", (std::string(kHyouUtf8) + ".txt").c_str()));
}

TEST_F(Win32FileCalls, CurrentDirectoryIsOnDriveZ) {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  EXPECT_EQ(std::string(buffer, length), EnginePath(fs::current_path().string()));
  char tiny[4] = {'x', 0, 0, 0};
  EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);
  EXPECT_EQ(tiny[0], 'x');

  fs::create_directory("Sub");
  EXPECT_TRUE(SetCurrentDirectoryA("sub"));
  EXPECT_EQ(fs::current_path(), fs::path(dir_) / "Sub");
  EXPECT_TRUE(SetCurrentDirectoryA(EnginePath(dir_).c_str()));
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\"));
}

TEST_F(Win32FileCalls, OpensMixedCaseNamesAndPrefersTheExactOne) {
  WriteBytes("Image/Player.BMP", "player");
  HANDLE file = CreateFileA("IMAGE\\player.bmp", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(file), "player");
  EXPECT_TRUE(CloseHandle(file));

  WriteBytes("Image/player.bmp", "exact");
  file = CreateFileA("Image\\player.bmp", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(file), "exact");
  CloseHandle(file);
  // Neither spelling is exact: the first entry in byte order wins, every time.
  file = CreateFileA("image\\PLAYER.bmp", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(file), "player");
  CloseHandle(file);

  EXPECT_EQ(CreateFileA("image\\missing.bmp", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(Win32FileCalls, OpensShiftJisNamesWhoseTrailByteIsABackslash) {
  WriteBytes(std::string(kHyouUtf8) + "/a.txt", "sjis");
  std::string engine = std::string(kHyouAnsi) + "\\A.TXT";
  HANDLE file = CreateFileA(engine.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(file), "sjis");
  CloseHandle(file);
}

TEST_F(Win32FileCalls, RefusesDirectoriesAndOtherDrives) {
  fs::create_directory("folder");
  EXPECT_EQ(CreateFileA("folder", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  WriteBytes("x.txt", "x");
  EXPECT_EQ(CreateFileA("D:x.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE file = CreateFileA("Z:x.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_FALSE(DeleteFileA("folder"));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(Win32FileCalls, ReadsWritesSeeksAndSizes) {
  HANDLE file =
      CreateFileA("new.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "0123456789", 10, &written, nullptr));
  EXPECT_EQ(written, 10u);
  CloseHandle(file);
  EXPECT_EQ(CreateFileA("NEW.BIN", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);

  file = CreateFileA("new.bin", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 10u);
  EXPECT_TRUE(WriteFile(file, "ab", 2, &written, nullptr));
  CloseHandle(file);

  file = CreateFileA("new.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 12u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(file, 8, nullptr, FILE_BEGIN), 8u);
  char buffer[8] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file, buffer, 8, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "89ab");
  EXPECT_TRUE(ReadFile(file, buffer, 8, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 10u);
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  CloseHandle(file);
  EXPECT_TRUE(DeleteFileA("NEW.bin"));
  EXPECT_FALSE(fs::exists("new.bin"));
}

TEST_F(Win32FileCalls, FindsEntriesInNameOrder) {
  WriteBytes("b.BMP", "12345");
  WriteBytes("a.bmp", "1");
  WriteBytes("c.png", "1");
  fs::create_directory("d.bmp");
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("*.bmp", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "a.bmp");
  ASSERT_TRUE(FindNextFileA(find, &data));
  EXPECT_STREQ(data.cFileName, "b.BMP");
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_TRUE(FindNextFileA(find, nullptr));
  EXPECT_FALSE(FindNextFileA(find, &data));
  EXPECT_TRUE(FindClose(find));

  find = FindFirstFileA(("Z:" + dir_ + "/D.*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "d.bmp");
  EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  FindClose(find);

  find = FindFirstFileA("*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, ".");
  FindClose(find);
  EXPECT_EQ(FindFirstFileA("*.wav", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileA("nowhere\\*", &data), INVALID_HANDLE_VALUE);
}

TEST_F(Win32FileCalls, TempFilesAreUniqueAndEmpty) {
  setenv("TMPDIR", dir_.c_str(), 1);
  char folder[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, folder);
  unsetenv("TMPDIR");
  EXPECT_EQ(std::string(folder, length), EnginePath(dir_) + "\\");
  char first[MAX_PATH], second[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(folder, "tmp", 0, first), 0u);
  ASSERT_NE(GetTempFileNameA(folder, "tmp", 0, second), 0u);
  EXPECT_STRNE(first, second);
  std::string posix;
  ASSERT_TRUE(MapToPosixPath(first, posix));
  EXPECT_TRUE(fs::exists(posix));
  EXPECT_EQ(fs::file_size(posix), 0u);
  EXPECT_EQ(fs::path(posix).extension(), ".tmp");
}

TEST(Win32FileTime, ConvertsToBrokenDownTime) {
  // 2000-01-02 03:04:05.678 UTC.
  const std::uint64_t ticks =
      125911584000000000ULL + (86400ULL + 3 * 3600 + 4 * 60 + 5) * 10000000ULL + 6780000ULL;
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 2000);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 2);
  EXPECT_EQ(st.wDayOfWeek, 0);
  EXPECT_EQ(st.wHour, 3);
  EXPECT_EQ(st.wMinute, 4);
  EXPECT_EQ(st.wSecond, 5);
  EXPECT_EQ(st.wMilliseconds, 678);

  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "JST-9", 1);
  tzset();
  FILETIME local;
  ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
  EXPECT_EQ(st.wHour, 12);
  if (oldTz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
