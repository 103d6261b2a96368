// Text input: the ring of typed bytes, double-byte characters kept whole, the characters each
// window message gives, IME results through the IMM stand-in, and the editing rules of a key-input
// field made by the test hook.
#include "host/text_input.h"

#include <SDL.h>

#include <cctype>
#include <cstring>
#include <string>

#include "engine_fixture.h"
#include "graphics/screen_mode.h"
#include "host/input_state.h"

namespace {

using TextInputTest = EngineFixture;

// Everything in the ring, taken out.
std::string TakeAll() {
  std::string out;
  char c[2];
  while (int n = TakeTypedCharacter(c, 1)) out.append(c, static_cast<std::size_t>(n));
  return out;
}

TEST_F(TextInputTest, TheRingHolds1024BytesInOrderAcrossItsEnd) {
  ASSERT_EQ(InitializeEngine(), 0);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(PushTypedCharacter('a' + i % 26), 0) << i;
  EXPECT_TRUE(IsTypedCharacterBufferFull());
  EXPECT_EQ(PushTypedCharacter('!'), -1);
  char c[2];
  for (int i = 0; i < 500; ++i) ASSERT_EQ(TakeTypedCharacter(c, 1), 1);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(PushTypedCharacter('0' + i % 10), 0) << i;
  std::string expected;
  for (int i = 500; i < 1024; ++i) expected += static_cast<char>('a' + i % 26);
  for (int i = 0; i < 500; ++i) expected += static_cast<char>('0' + i % 10);
  EXPECT_EQ(TakeAll(), expected);
}

TEST_F(TextInputTest, ADoubleByteCharacterIsReadWholeAndStoredOnlyWhenBothBytesFit) {
  ASSERT_EQ(InitializeEngine(), 0);
  char c[2];
  PushTypedCharacter(0x82);
  EXPECT_EQ(TakeTypedCharacter(c, 0), 0);
  PushTypedCharacter(0xA0);
  EXPECT_EQ(TakeTypedCharacter(c, 0), 2);
  EXPECT_EQ(TakeTypedCharacter(c, 1), 2);
  EXPECT_EQ(std::string(c, 2), "\x82\xA0");
  // One byte of room: the character is dropped whole and the next one is not misread.
  for (int i = 0; i < 1023; ++i) PushTypedCharacter('x');
  EXPECT_EQ(PushTypedCharacter(0x93), -1);
  EXPECT_EQ(PushTypedCharacter(0xFA), -1);
  EXPECT_EQ(PushTypedCharacter('y'), 0);
  std::string all = TakeAll();
  EXPECT_EQ(all.size(), 1024u);
  EXPECT_EQ(all.back(), 'y');
}

TEST_F(TextInputTest, WindowMessagesGiveTheirCharacters) {
  ASSERT_EQ(InitializeEngine(), 0);
  struct Case {
    UINT message;
    WPARAM wParam;
    const char* expected;
  };
  const Case cases[] = {
      {WM_CHAR, 'a', "a"},
      {WM_CHAR, 10, "\r"},
      {WM_CHAR, 1, "\x01"},
      {WM_CHAR, 3, "\x03"},
      {WM_CHAR, 8, "\b"},
      {WM_CHAR, 9, "\t"},
      {WM_CHAR, 13, "\r"},
      {WM_CHAR, 16, "\x10"},
      {WM_CHAR, 22, "\x16"},
      {WM_CHAR, 24, "\x18"},
      {WM_CHAR, 27, "\x1B"},
      {WM_CHAR, 2, ""},
      {WM_CHAR, 7, ""},
      {WM_CHAR, 11, ""},
      {WM_KEYDOWN, VK_DELETE, "\x10"},
      {WM_KEYDOWN, VK_END, "\x19"},
      {WM_KEYDOWN, VK_HOME, "\x1A"},
      {WM_KEYDOWN, VK_RIGHT, "\x1C"},
      {WM_KEYDOWN, VK_LEFT, "\x1D"},
      {WM_KEYDOWN, VK_UP, "\x1E"},
      {WM_KEYDOWN, VK_DOWN, "\x1F"},
      {WM_KEYDOWN, VK_NEXT, "\x15"},
      {WM_KEYDOWN, VK_PRIOR, "\x17"},
      {WM_KEYDOWN, 'A', ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.message << " " << c.wParam);
    SendMessageA(GetEngineWindowHandle(), c.message, c.wParam, 1);
    EXPECT_EQ(TakeAll(), c.expected);
  }
}

TEST_F(TextInputTest, AnImeResultReachesTheRingAndTypingGoesOnWithTheImeOff) {
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  // The start switched the IME off: typed text still arrives.
  ASSERT_EQ(InjectPlatformText(window, "ab"), 0);
  ASSERT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(TakeAll(), "ab");

  SetImeUse(1);
  ASSERT_EQ(InjectPlatformComposition(window, "\xE3\x81\xAB\xE3\x81\xBB", 1), 0);  // "にほ"
  ASSERT_EQ(ProcessWindowMessages(), 0);
  EXPECT_TRUE(IsImeComposing());
  EXPECT_STREQ(GetImeCompositionString(), "\x82\xC9\x82\xD9");
  EXPECT_EQ(GetImeCompositionCursor(), 1);
  EXPECT_EQ(TakeAll(), "");
  ASSERT_EQ(InjectPlatformText(window, "\xE6\x97\xA5\xE6\x9C\xAC"), 0);  // "日本"
  ASSERT_EQ(ProcessWindowMessages(), 0);
  EXPECT_FALSE(IsImeComposing());
  EXPECT_EQ(TakeAll(), "\x93\xFA\x96\x7B");

  // A composition longer than the buffer is cut to whole characters and terminated.
  std::string longComposition;
  for (int i = 0; i < 600; ++i) longComposition += "\xE3\x81\x82";  // "あ"
  ASSERT_EQ(InjectPlatformComposition(window, longComposition.c_str(), 0), 0);
  ASSERT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(std::strlen(GetImeCompositionString()), 1022u);
  SetImeUse(0);
  EXPECT_STREQ(GetImeCompositionString(), "");
  EXPECT_FALSE(IsImeComposing());
}

struct EditCase {
  const char* name;
  const char* text;
  int cursor;
  int selectionStart, selectionEnd;
  int maxLength;
  int singleByteOnly, numberOnly;
  bool shift;
  const char* typed;
  const char* expectedText;
  int expectedCursor;
  int expectedSelectionStart, expectedSelectionEnd;
};

// "あ" is 82 A0, "い" 82 A2.
const EditCase kEditCases[] = {
    {"type in the middle", "ac", 1, -1, -1, 20, 0, 0, false, "b", "abc", 2, -1, -1},
    {"backspace over a double byte", "a\x82\xA0", 3, -1, -1, 20, 0, 0, false, "\b", "a", 1, -1, -1},
    {"left over a double byte", "a\x82\xA0", 3, -1, -1, 20, 0, 0, false, "\x1D", "a\x82\xA0", 1, -1,
     -1},
    {"right over a double byte", "\x82\xA0z", 0, -1, -1, 20, 0, 0, false, "\x1C", "\x82\xA0z", 2,
     -1, -1},
    {"delete at a lead byte", "\x82\xA0z", 0, -1, -1, 20, 0, 0, false, "\x10", "z", 0, -1, -1},
    {"shift end selects", "abcd", 1, -1, -1, 20, 0, 0, true, "\x19", "abcd", 4, 1, 4},
    {"shift home selects backwards", "abcd", 3, -1, -1, 20, 0, 0, true, "\x1A", "abcd", 0, 3, 0},
    {"shift right grows a selection", "\x82\xA0z", 0, -1, -1, 20, 0, 0, true, "\x1C\x1C",
     "\x82\xA0z", 3, 0, 3},
    {"typing replaces a selection", "abcd", 3, 3, 1, 20, 0, 0, false, "X", "aXd", 2, -1, -1},
    {"home and end", "abcd", 2, -1, -1, 20, 0, 0, false, "\x1A", "abcd", 0, -1, -1},
    {"number only", "", 0, -1, -1, 20, 0, 1, false, "-1-a.2.", "-1.2", 4, -1, -1},
    {"single byte only", "", 0, -1, -1, 20, 1, 0, false,
     "a\x82\xA2"
     "b",
     "ab", 2, -1, -1},
    {"a full field loses its tail", "ab\x82\xA0", 0, -1, -1, 4, 0, 0, false, "X", "Xab", 1, -1, -1},
    {"too large for the field", "", 0, -1, -1, 1, 0, 0, false, "\x82\xA2", "", 0, -1, -1},
    {"ctrl+a inserts nothing", "ab", 2, -1, -1, 20, 0, 0, false, "\x01", "ab", 2, -1, -1},
    {"enter ends the input", "ab", 2, -1, -1, 20, 0, 0, false, "\rc", "ab", 2, -1, -1},
};

void PrintTo(const EditCase& c, std::ostream* out) { *out << c.name; }

class KeyInputEditTest : public EngineFixture, public ::testing::WithParamInterface<EditCase> {};

TEST_P(KeyInputEditTest, EditsTheField) {
  const EditCase& c = GetParam();
  ASSERT_EQ(InitializeEngine(), 0);
  EngineHandle handle = MakeKeyInputForTest(c.maxLength, 1, c.singleByteOnly, c.numberOnly);
  KeyInputRecord* record = GetKeyInputRecord(handle);
  ASSERT_NE(record, nullptr);
  std::strcpy(record->text, c.text);
  record->length = static_cast<int>(std::strlen(c.text));
  record->cursor = c.cursor;
  record->selectionStart = c.selectionStart;
  record->selectionEnd = c.selectionEnd;
  GetInputState().keyStates[42] = c.shift ? 0x80 : 0;
  for (const char* p = c.typed; *p; ++p) PushTypedCharacter(static_cast<unsigned char>(*p));
  ProcessKeyInput();
  GetInputState().keyStates[42] = 0;
  EXPECT_EQ(std::string(record->text), c.expectedText);
  EXPECT_EQ(record->length, static_cast<int>(std::strlen(c.expectedText)));
  EXPECT_EQ(record->cursor, c.expectedCursor);
  EXPECT_EQ(record->selectionStart, c.expectedSelectionStart);
  EXPECT_EQ(record->selectionEnd, c.expectedSelectionEnd);
  EXPECT_EQ(DeleteKeyInput(handle), 0);
  EXPECT_EQ(DeleteKeyInput(handle), -1);
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyInputEditTest, ::testing::ValuesIn(kEditCases),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

TEST_F(TextInputTest, CutAndPasteGoThroughTheClipboardAndAPasteStopsAtItsFirstLine) {
  ASSERT_EQ(InitializeEngine(), 0);
  EngineHandle handle = MakeKeyInputForTest(40, 1, 0, 0);
  KeyInputRecord* record = GetKeyInputRecord(handle);
  std::strcpy(record->text, "hello world");
  record->length = 11;
  record->cursor = 11;
  record->selectionStart = 5;
  record->selectionEnd = 11;
  PushTypedCharacter(24);  // Ctrl+X
  PushTypedCharacter(26);  // Home
  PushTypedCharacter(22);  // Ctrl+V
  ProcessKeyInput();
  EXPECT_STREQ(record->text, " worldhello");
  EXPECT_EQ(record->cursor, 6);

  ASSERT_EQ(WriteClipboardText("ab\x93\xFA"
                               "cd\r\nnext line"),
            0);            // "日" in code page 932
  PushTypedCharacter(25);  // End
  PushTypedCharacter(22);
  ProcessKeyInput();
  EXPECT_EQ(std::string(record->text),
            " worldhelloab\x93\xFA"
            "cd");
  EXPECT_EQ(record->ended, 0);  // the line break did not end the input
  DeleteAllKeyInputs();
  EXPECT_EQ(GetKeyInputRecord(handle), nullptr);
}

// The key-input colours are codes in the screen's format, worked out here by hand from the
// channel layouts (R5G6B5 keeps the top 5, 6 and 5 bits; X8R8G8B8 sets its unused top byte).
struct KeyInputColorCase {
  int index;
  std::uint32_t code16;
  std::uint32_t code32;
};
constexpr KeyInputColorCase kKeyInputColorCases[] = {
    {KeyInputTextColor, 0xFFFF, 0xFFFFFFFF},            // white
    {KeyInputTextEdgeColor, 0x0000, 0xFF000000},        // black
    {KeyInputCursorColor, 0xFFE0, 0xFFFFFF00},          // yellow
    {KeyInputSelectionBackColor, 0x07FF, 0xFF00FFFF},   // cyan
    {KeyInputConvertingTextColor, 0xFFE2, 0xFFFFFF14},  // 255, 255, 20
    {KeyInputConvertingBackColor, 0xF800, 0xFFFF0000},  // red
    {KeyInputCandidateFrameColor, 0x8410, 0xFF808080},  // grey 128
};

class KeyInputColorTest : public EngineFixture, public ::testing::WithParamInterface<int> {};

TEST_P(KeyInputColorTest, InitialisationMakesTheColoursInTheScreenFormatAndTheBlinkPeriod) {
  ASSERT_EQ(ChangeScreenMode(640, 480, GetParam(), 0, -1), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  // A window takes the desktop's depth: the codes follow the screen the engine did start.
  const int bits = GetScreenColorBitDepth();
  ASSERT_TRUE(bits == 16 || bits == 32) << bits;
  for (const KeyInputColorCase& c : kKeyInputColorCases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(GetKeyInputColor(c.index), bits == 16 ? c.code16 : c.code32);
  }
  // Every one of the 15 is made, and nothing lies past them.
  for (int i = 0; i < KeyInputColorCount; ++i) {
    if (bits == 32) {
      EXPECT_NE(GetKeyInputColor(i) & 0xFF000000u, 0u) << i;
    }
  }
  EXPECT_EQ(KeyInputColorCount, 15);
  EXPECT_EQ(GetKeyInputColor(KeyInputColorCount), 0u);
  EXPECT_EQ(GetKeyInputColor(-1), 0u);
  EXPECT_EQ(GetKeyInputCursorBlinkPeriod(), 500);
}

INSTANTIATE_TEST_SUITE_P(Bits, KeyInputColorTest, ::testing::Values(16, 32));

}  // namespace
