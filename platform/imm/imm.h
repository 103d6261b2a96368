// The Input Method Manager over SDL's text editing: SDL's composition (text and cursor) becomes the
// input context's composition string in the engine's code page, announced to the window with
// WM_IME_STARTCOMPOSITION, WM_IME_COMPOSITION and WM_IME_ENDCOMPOSITION; text committed while
// composing becomes the result string (GCS_RESULTSTR) instead of WM_CHAR. While the IME is switched
// off for the windows (WINNLSEnableIME), no composition is announced and committed text arrives
// as WM_CHAR: switching the IME off never stops plain typing. SDL gives no clauses, attributes or
// candidates, so those read as empty.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/win32/kernel.h"
#include "platform/win32/win32_types.h"

constexpr DWORD GCS_COMPSTR = 0x0008;
constexpr DWORD GCS_COMPATTR = 0x0010;
constexpr DWORD GCS_COMPCLAUSE = 0x0020;
constexpr DWORD GCS_CURSORPOS = 0x0080;
constexpr DWORD GCS_RESULTSTR = 0x0800;
constexpr DWORD SCS_SETSTR = 0x0009;
constexpr DWORD NI_COMPOSITIONSTR = 0x0015;
constexpr DWORD CPS_CANCEL = 0x0004;
constexpr WPARAM IMN_CHANGECANDIDATE = 0x0003;
constexpr WPARAM IMN_CLOSECANDIDATE = 0x0004;
constexpr WPARAM IMN_OPENCANDIDATE = 0x0005;
constexpr WPARAM IMN_SETOPENSTATUS = 0x0008;
constexpr WPARAM IMN_SETCANDIDATEPOS = 0x0009;

struct CANDIDATELIST {
  DWORD dwSize;
  DWORD dwStyle;
  DWORD dwCount;
  DWORD dwSelection;
  DWORD dwPageStart;
  DWORD dwPageSize;
  DWORD dwOffset[1];
};

// The context of a live window (one context serves every window); null for a bad handle.
HIMC ImmGetContext(HWND window);
BOOL ImmReleaseContext(HWND window, HIMC context);
// With a size of 0, the bytes the string needs; else copies at most `size` bytes, without a
// terminator, and returns the count. GCS_CURSORPOS returns the cursor as a byte offset into the
// composition string. Negative for a bad context.
LONG ImmGetCompositionStringA(HIMC context, DWORD index, LPVOID buffer, DWORD size);
// No candidate list is ever known: 0.
DWORD ImmGetCandidateListA(HIMC context, DWORD index, CANDIDATELIST* list, DWORD size);
BOOL ImmGetOpenStatus(HIMC context);
BOOL ImmSetOpenStatus(HIMC context, BOOL open);
// NI_COMPOSITIONSTR with CPS_CANCEL drops the composition (SDL's text input restarts, which tells
// the input method to drop its own) and ends it with WM_IME_ENDCOMPOSITION.
BOOL ImmNotifyIME(HIMC context, DWORD action, DWORD index, DWORD value);
// SCS_SETSTR stores the composition string; the input method behind SDL cannot be given it.
BOOL ImmSetCompositionStringA(HIMC context, DWORD index, LPVOID composition, DWORD compositionSize,
                              LPVOID reading, DWORD readingSize);

// The entry points of "Imm32.dll" for the module table.
std::span<const PlatformModuleEntry> ImmModuleEntries();

// For the window layer's event drain. A composition from SDL (UTF-8; cursor in characters).
void HandlePlatformComposition(HWND window, const char* utf8, int cursor);
// Committed text in the engine's code page: true when it ended a composition and was delivered
// as its result; false when the caller delivers it as WM_CHAR.
bool HandlePlatformCommittedText(HWND window, const std::string& text);
// UTF-8 to the engine's code page, dropping the characters it cannot hold. `offsets`, when given,
// receives for each UTF-8 character the byte offset its text starts at in `out`, and last the
// length of `out`.
void ConvertUtf8ToAnsiDroppingUnmapped(const char* utf8, std::string& out,
                                       std::vector<int>* offsets);
