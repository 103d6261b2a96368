// Desktop services of the layer: clipboard text in code page 932, display modes and device
// capabilities, the cursor count, message boxes headless, FindWindowA across processes, and the
// system information it reports.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/gdi.h"
#include "platform/win32/sysinfo.h"
#include "platform/win32/user.h"

namespace {

TEST(UserClipboardTest, TextRoundTripsAsCodePageBytesWithCrLf) {
  const char text[] = "\x82\xA0 line\r\nnext";  // HIRAGANA A, a CR LF
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_FALSE(OpenClipboard(nullptr));  // already open
  ASSERT_TRUE(EmptyClipboard());
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, sizeof text);
  std::memcpy(GlobalLock(block), text, sizeof text);
  GlobalUnlock(block);
  ASSERT_EQ(SetClipboardData(CF_TEXT, block), block);
  CloseClipboard();
  char* utf8 = SDL_GetClipboardText();
  EXPECT_STREQ(utf8, "\xE3\x81\x82 line\nnext");  // SDL holds UTF-8 with LF
  SDL_free(utf8);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
  HANDLE data = GetClipboardData(CF_TEXT);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(GlobalSize(data), sizeof text);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(data)), text);
  EXPECT_EQ(GetClipboardData(1234), nullptr);
  CloseClipboard();
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);  // closed
}

TEST(UserDisplayTest, ModesAreTheDesktopAndThreeSizesAtTwoDepthsWithA32BitDesktop) {
  std::vector<std::pair<int, int>> sizes;
  DEVMODEA mode{};
  for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &mode); ++i) {
    EXPECT_EQ(mode.dmBitsPerPel, i % 2 == 0 ? 32u : 16u);
    if (i % 2 == 0) sizes.emplace_back(mode.dmPelsWidth, mode.dmPelsHeight);
  }
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  std::vector<std::pair<int, int>> expected{{640, 480}, {800, 600}, {1024, 768}};
  if (std::find(expected.begin(), expected.end(), std::pair{width, height}) == expected.end())
    expected.emplace_back(width, height);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sizes, expected);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES), 32);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), width);
  ReleaseDC(nullptr, screen);
}

TEST(UserCursorTest, DisplayCountGoesBelowZeroToHide) {
  int start = ShowCursor(TRUE) - 1;
  EXPECT_EQ(ShowCursor(FALSE), start);
  EXPECT_EQ(ShowCursor(FALSE), start - 1);
  EXPECT_EQ(ShowCursor(TRUE), start);
}

TEST(UserScreenSaverTest, SwitchesFollowSdl) {
  BOOL active = TRUE;
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDWININICHANGE));
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
  EXPECT_FALSE(active);
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDWININICHANGE);
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
}

TEST(UserMessageBoxTest, HeadlessWritesOneUtf8LineToStandardError) {
  ASSERT_TRUE(IsPlatformHeadless());
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "\x93\xC7\x8D\x9E", "\x83G\x83\x89\x81[", MB_OK),
            IDOK);  // 読込, エラー
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC: \xE8\xAA\xAD\xE8\xBE\xBC\n");
}

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(w, m, wp, lp);
}

TEST(UserFindWindowTest, SeesTheSameClassInAnotherProcessUntilItsWindowIsGone) {
  const char* className = "UserFindWindowTestClass-cross";
  EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
  SetPlatformWindowsSeenAcrossProcesses(1);
  // A second process of this test program holds a real top-level window of the class.
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    setenv("USER_FIND_WINDOW_HOLDER", "1", 1);
    execl("/proc/self/exe", "platform_tests", "--gtest_filter=UserFindWindowTest.HolderProcess",
          nullptr);
    _exit(127);
  }
  int status = 0;
  HWND found = nullptr;
  for (int i = 0; i < 500 && !found; ++i) {
    found = FindWindowA(className, nullptr);
    if (!found) usleep(10000);
  }
  EXPECT_NE(found, nullptr);
  EXPECT_FALSE(IsWindow(found));  // a handle of another process is of no use here
  SetPlatformWindowsSeenAcrossProcesses(0);
  EXPECT_EQ(FindWindowA(className, nullptr), nullptr);  // a headless default: not seen
  SetPlatformWindowsSeenAcrossProcesses(1);
  waitpid(holder, &status, 0);
  EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
  SetPlatformWindowsSeenAcrossProcesses(-1);
}

// Run by the test above as a separate process: holds a window of the class for a moment.
TEST(UserFindWindowTest, HolderProcess) {
  if (!getenv("USER_FIND_WINDOW_HOLDER"))
    GTEST_SKIP() << "runs only as the helper of the test above";
  SetPlatformWindowsSeenAcrossProcesses(1);
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = PlainProc;
  c.lpszClassName = "UserFindWindowTestClass-cross";
  ASSERT_NE(RegisterClassExA(&c), 0);
  HWND w = CreateWindowExA(0, c.lpszClassName, "holder", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  usleep(400000);
  DestroyWindow(w);
}

TEST(SysinfoTest, ReportsWindowsNt62Build9200AndTheMachine) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  EXPECT_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(version.dwMajorVersion, 6u);
  EXPECT_EQ(version.dwMinorVersion, 2u);
  EXPECT_EQ(version.dwBuildNumber, 9200u);
  EXPECT_STREQ(version.szCSDVersion, "");
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
  SetPlatformProcessorCount(1);
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwNumberOfProcessors, 1u);
  SetPlatformProcessorCount(0);
  MEMORYSTATUSEX memory{};
  memory.dwLength = 60;
  EXPECT_FALSE(GlobalMemoryStatusEx(&memory));
  memory.dwLength = sizeof memory;
  ASSERT_EQ(sizeof memory, 64u);
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_GT(memory.ullTotalPhys, 0u);
  EXPECT_LE(memory.ullAvailPhys, memory.ullTotalPhys);
  UINT registers[4];
  ASSERT_TRUE(QueryProcessorId(0, registers));
  EXPECT_GE(registers[0], 1u);
  EXPECT_FALSE(QueryProcessorId(0x7FFFFFFF, registers));
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(
      reinterpret_cast<BOOL (*)(MEMORYSTATUSEX*)>(GetProcAddress(kernel, "GlobalMemoryStatusEx")),
      &GlobalMemoryStatusEx);
  FreeLibrary(kernel);
}

}  // namespace
