// Text input and the IME: the ring of typed bytes that the window procedure fills, the IME's
// composition as the window procedure reports it, and the per-frame step that edits the active
// key-input field from the ring. The program makes no key-input field, so the step only runs the
// IME housekeeping; tests make one through MakeKeyInputForTest.
#pragma once

#include <cstdint>

#include "platform/win32/user.h"
#include "system/engine_handle.h"

struct KeyInputRecord {
  std::int32_t inUse;
  std::int32_t checkNumber;
  std::int32_t ended;  // Enter or a cancel ended the input
  std::int32_t cancelled;
  std::int32_t length;          // bytes
  std::int32_t maxLength;       // bytes
  std::int32_t selectionStart;  // where the selection was begun; -1 = none
  std::int32_t selectionEnd;
  std::int32_t displayStart;
  std::int32_t cursor;  // byte position
  char* text;           // tracked memory, maxLength + 1 bytes, always terminated
  std::int32_t cancelAllowed;
  std::int32_t singleByteOnly;
  std::int32_t numberOnly;
};

// The colours a key-input line is drawn with, made in the screen's colour format at
// initialisation, and the period of the cursor's blink.
enum KeyInputColorIndex {
  KeyInputTextColor,
  KeyInputTextEdgeColor,
  KeyInputCursorColor,
  KeyInputSelectedTextColor,
  KeyInputSelectionBackColor,
  KeyInputCompositionTextColor,
  KeyInputCompositionEdgeColor,
  KeyInputCompositionCursorColor,
  KeyInputCompositionLineColor,
  KeyInputConvertingTextColor,
  KeyInputConvertingBackColor,
  KeyInputCandidateTextColor,
  KeyInputCandidateEdgeColor,
  KeyInputCandidateSelectedColor,
  KeyInputCandidateFrameColor,
  KeyInputColorCount
};

int InitializeKeyInput();
// 0 for an index outside the table.
std::uint32_t GetKeyInputColor(int index);
int GetKeyInputCursorBlinkPeriod();
int ProcessKeyInput();
int DeleteKeyInput(EngineHandle handle);
int DeleteAllKeyInputs();
int SetImeUse(int on);
int IsImeUseOn();
// Called when the window is activated: with IME use and the IME-restore setting on, the next
// frames put the IME's composition back.
int MarkImeRestoreOnActivation();

// 0 when the byte was stored, -1 when the ring has no room for it. A lead byte waits for its trail
// byte, and the two are stored together or not at all.
int PushTypedCharacter(int code);
int IsTypedCharacterBufferFull();
// The next character: 0 none (or a lead byte whose trail has not arrived), 1 a single byte, 2 a
// double-byte character; with consume 0 it stays in the ring.
int TakeTypedCharacter(char out[2], int consume);
// The character code the key-to-control-code table gives a virtual key, or 0 for none.
int LookUpKeyControlCode(int virtualKey);
int IsControlKeyCode(int code);
// The count of characters in the first n bytes of a text (a double-byte character is one).
int CharactersInBytes(const char* text, int n);
LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the IME reported: the composition string (always terminated), its cursor in characters,
// and whether a composition is in progress.
const char* GetImeCompositionString();
int GetImeCompositionCursor();
int IsImeComposing();

// For tests: a key-input field of `maxLength` bytes, made active; its record (to set up a text,
// a cursor or a selection, and to read the result).
EngineHandle MakeKeyInputForTest(int maxLength, int cancelAllowed, int singleByteOnly,
                                 int numberOnly);
KeyInputRecord* GetKeyInputRecord(EngineHandle handle);
