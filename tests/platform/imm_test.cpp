// The IMM over SDL's text editing: a composition becomes WM_IME_* messages and a composition
// string in code page 932 with its cursor as a byte offset; committed text ends it as the result
// string instead of WM_CHAR; with the IME switched off, typing still arrives as WM_CHAR.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/imm/imm.h"
#include "platform/win32/user.h"

namespace {

LRESULT CALLBACK QuietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

class ImmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = QuietProc;
    c.lpszClassName = "ImmTestClass";
    RegisterClassExA(&c);
    window = CreateWindowExA(0, "ImmTestClass", "ime", WS_POPUP, 0, 0, 320, 240, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    WINNLSEnableIME(window, TRUE);
    Drain();
  }
  void TearDown() override {
    WINNLSEnableIME(window, TRUE);
    DestroyWindow(window);
    UnregisterClassA("ImmTestClass", nullptr);
  }
  std::vector<MSG> Drain() {
    std::vector<MSG> out;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
      if (m.message != WM_PAINT) out.push_back(m);
    return out;
  }
  std::string Read(DWORD index) {
    HIMC context = ImmGetContext(window);
    LONG size = ImmGetCompositionStringA(context, index, nullptr, 0);
    std::string out(static_cast<std::size_t>(std::max<LONG>(size, 0)), '\0');
    ImmGetCompositionStringA(context, index, out.data(), static_cast<DWORD>(out.size()));
    ImmReleaseContext(window, context);
    return out;
  }
  HWND window = nullptr;
};

TEST_F(ImmTest, CompositionAndItsResultArriveAsImeMessagesInCodePage932) {
  // "にほん" with the cursor after two characters.
  ASSERT_EQ(InjectPlatformComposition(window, "\xE3\x81\xAB\xE3\x81\xBB\xE3\x82\x93", 2), 0);
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message, WM_IME_STARTCOMPOSITION);
  EXPECT_EQ(messages[1].message, WM_IME_COMPOSITION);
  EXPECT_EQ(messages[1].lParam, static_cast<LPARAM>(GCS_COMPSTR | GCS_CURSORPOS));
  EXPECT_EQ(Read(GCS_COMPSTR), "\x82\xC9\x82\xD9\x82\xF1");
  HIMC context = ImmGetContext(window);
  EXPECT_EQ(ImmGetCompositionStringA(context, GCS_CURSORPOS, nullptr, 0), 4);
  EXPECT_EQ(ImmGetCompositionStringA(context, GCS_COMPCLAUSE, nullptr, 0), 0);
  EXPECT_EQ(ImmGetCandidateListA(context, 0, nullptr, 0), 0u);

  ASSERT_EQ(InjectPlatformText(window, "\xE6\x97\xA5\xE6\x9C\xAC"), 0);  // "日本" committed
  messages = Drain();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message, WM_IME_COMPOSITION);
  EXPECT_EQ(messages[0].lParam, static_cast<LPARAM>(GCS_RESULTSTR));
  EXPECT_EQ(messages[1].message, WM_IME_ENDCOMPOSITION);
  EXPECT_EQ(Read(GCS_RESULTSTR), "\x93\xFA\x96\x7B");
  EXPECT_EQ(Read(GCS_COMPSTR), "");
  // A copy into a small buffer is cut and not terminated.
  char two[3] = {'-', '-', '-'};
  EXPECT_EQ(ImmGetCompositionStringA(context, GCS_RESULTSTR, two, 2), 2);
  EXPECT_EQ(std::string(two, 3), "\x93\xFA-");
  ImmReleaseContext(window, context);
}

TEST_F(ImmTest, WithTheImeOffTypingStillArrivesAsCharactersAndUnmappedOnesAreDropped) {
  WINNLSEnableIME(window, FALSE);
  ASSERT_EQ(InjectPlatformComposition(window, "\xE3\x81\xAB", 1), 0);
  ASSERT_EQ(InjectPlatformText(window, "a\xF0\x9F\x98\x80\xE6\x97\xA5"), 0);  // a, an emoji, 日
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 3u);
  const WPARAM expected[] = {'a', 0x93, 0xFA};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(messages[i].message, WM_CHAR);
    EXPECT_EQ(messages[i].wParam, expected[i]);
  }
}

TEST_F(ImmTest, CancellingAndAnEmptyEditEndTheComposition) {
  ASSERT_EQ(InjectPlatformComposition(window, "a", 1), 0);
  Drain();
  HIMC context = ImmGetContext(window);
  ASSERT_NE(context, nullptr);
  EXPECT_TRUE(ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0));
  EXPECT_EQ(Read(GCS_COMPSTR), "");
  // An empty edit with no composition running says nothing.
  ASSERT_EQ(InjectPlatformComposition(window, "", 0), 0);
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].message, WM_IME_ENDCOMPOSITION);

  ASSERT_EQ(InjectPlatformComposition(window, "b", 1), 0);
  ASSERT_EQ(InjectPlatformComposition(window, "", 0), 0);
  messages = Drain();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages.back().message, WM_IME_ENDCOMPOSITION);
  EXPECT_TRUE(ImmSetOpenStatus(context, TRUE));
  EXPECT_TRUE(ImmGetOpenStatus(context));
  EXPECT_EQ(ImmGetContext(nullptr), nullptr);
  ImmReleaseContext(window, context);
}

}  // namespace
