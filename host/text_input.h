// Text input and the IME as the start-up, the window procedure and the message pump call them.
#pragma once

#include "platform/win32/user.h"

int InitializeKeyInput();
int ProcessKeyInput();
int DeleteAllKeyInputHandles();
// 0 when the character was stored, -1 when the buffer is full.
int PushTypedCharacter(int character);
int IsTypedCharacterBufferFull();
// The character code the key-to-control-code table gives a virtual key, or 0 for none.
int LookUpKeyControlCode(int virtualKey);
LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
