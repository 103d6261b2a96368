// Text input: the ring of typed bytes, the IME's composition as its messages report it, the IME
// restore after activation, and the per-frame editing of the active key-input field. The IME is
// reached through the entry points the start-up looked up in "Imm32.dll".
#include "host/text_input.h"

#include <algorithm>
#include <cstring>

#include "graphics/draw_settings.h"
#include "host/host.h"
#include "host/input.h"
#include "host/input_state.h"
#include "host/window_system.h"
#include "platform/imm/imm.h"
#include "system/log.h"
#include "system/system.h"
#include "system/system_info.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

constexpr int kRingSize = 1025;  // one slot stays free: 1,024 bytes at most
constexpr int kCompositionSize = 1024;
constexpr int kKeyInputSlots = 256;
constexpr int kLeftShift = 42;
constexpr int kRightShift = 54;
constexpr int kCursorBlinkPeriod = 500;  // ms

struct Rgb {
  int red, green, blue;
};
constexpr Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0}, kYellow{255, 255, 0}, kCyan{0, 255, 255},
    kRed{255, 0, 0}, kPaleYellow{255, 255, 20}, kGrey{128, 128, 128};
// By KeyInputColorIndex.
constexpr Rgb kKeyInputColors[KeyInputColorCount] = {
    kWhite, kBlack,      kYellow, kBlack, kCyan,  kWhite,  kBlack, kYellow,
    kWhite, kPaleYellow, kRed,    kWhite, kBlack, kYellow, kGrey,
};

struct KeyControlCode {
  int virtualKey;
  int code;
};
// Keys that give no WM_CHAR but edit a field.
constexpr KeyControlCode kKeyControlCodes[] = {
    {VK_DELETE, 16}, {VK_END, 25},  {VK_HOME, 26}, {VK_RIGHT, 28}, {VK_LEFT, 29},
    {VK_UP, 30},     {VK_DOWN, 31}, {VK_NEXT, 21}, {VK_PRIOR, 23}, {0, 0},
};

struct ImmCalls {
  decltype(&ImmGetContext) getContext;
  decltype(&ImmReleaseContext) releaseContext;
  decltype(&ImmGetCompositionStringA) getCompositionString;
  decltype(&ImmGetCandidateListA) getCandidateList;
  decltype(&ImmGetOpenStatus) getOpenStatus;
  decltype(&ImmSetOpenStatus) setOpenStatus;
  decltype(&ImmNotifyIME) notify;
  decltype(&ImmSetCompositionStringA) setCompositionString;
};

struct TextInputState {
  unsigned char ring[kRingSize];
  int writePosition;
  int readPosition;
  int hasPendingLead;  // a lead byte waits for its trail byte
  int pendingLead;

  int imeUse;
  int imeRestoreSetting;
  int imeOpen;
  int composing;
  char composition[kCompositionSize];
  int compositionCursor;  // characters
  std::uint32_t clauses[1024];
  int clauseCount;
  unsigned char attributes[1024];
  int attributeCount;
  CANDIDATELIST* candidates;
  int candidateSize;
  int restoreStep;
  char restoreComposition[kCompositionSize];
  int imeMessageArrived;
  int openStatusBusy;
  int blinkStart;
  int blinkOn;
  int blinkPeriod;  // ms
  std::uint32_t colors[KeyInputColorCount];

  KeyInputRecord records[kKeyInputSlots];
  EngineHandleKind kind;
  EngineHandle active;
  int keepCompositionInField;  // the two composition limits: no setter in this program
  int maxCompositionLength;
};

TextInputState text{};

template <class Function>
Function LookUpImm(const char* name) {
  return reinterpret_cast<Function>(GetEngineModuleEntry("Imm32.dll", name));
}

ImmCalls Imm() {
  return ImmCalls{
      LookUpImm<decltype(&ImmGetContext)>("ImmGetContext"),
      LookUpImm<decltype(&ImmReleaseContext)>("ImmReleaseContext"),
      LookUpImm<decltype(&ImmGetCompositionStringA)>("ImmGetCompositionStringA"),
      LookUpImm<decltype(&ImmGetCandidateListA)>("ImmGetCandidateListA"),
      LookUpImm<decltype(&ImmGetOpenStatus)>("ImmGetOpenStatus"),
      LookUpImm<decltype(&ImmSetOpenStatus)>("ImmSetOpenStatus"),
      LookUpImm<decltype(&ImmNotifyIME)>("ImmNotifyIME"),
      LookUpImm<decltype(&ImmSetCompositionStringA)>("ImmSetCompositionStringA"),
  };
}

int HeldBytes() { return (text.writePosition - text.readPosition + kRingSize) % kRingSize; }
int FreeBytes() { return kRingSize - 1 - HeldBytes(); }

void StoreByte(int byte) {
  text.ring[text.writePosition] = static_cast<unsigned char>(byte);
  text.writePosition = (text.writePosition + 1) % kRingSize;
}

bool IsLead(const char* byte) { return IsLeadByteForCodePage(byte, GetCodePageKind()) != 0; }

// Pushes whole characters while they fit; a paste also stops at its first line break.
void PushTypedText(const char* bytes, int n, bool stopAtLineBreak) {
  for (int i = 0; i < n && bytes[i];) {
    if (stopAtLineBreak && (bytes[i] == '\r' || bytes[i] == '\n')) return;
    const int size = IsLead(bytes + i) ? 2 : 1;
    if (i + size > n || FreeBytes() < size) return;
    for (int k = 0; k < size; ++k) StoreByte(static_cast<unsigned char>(bytes[i + k]));
    i += size;
  }
}

void RestartCursorBlink() {
  text.blinkStart = GetMillisecondCount();
  text.blinkOn = 1;
}

// Reads the composition string into a buffer of kCompositionSize bytes, always terminated.
void ReadComposition(const ImmCalls& imm, HIMC context, char* buffer) {
  LONG n = imm.getCompositionString
               ? imm.getCompositionString(context, GCS_COMPSTR, buffer, kCompositionSize - 1)
               : 0;
  n = std::clamp<LONG>(n, 0, kCompositionSize - 1);
  // A string cut by the buffer keeps whole characters only.
  LONG end = 0;
  for (LONG i = 0; i < n;) {
    i += IsLead(buffer + i) ? 2 : 1;
    if (i <= n) end = i;
  }
  buffer[end] = '\0';
}

void FreeCandidates() {
  if (text.candidates) TrackedFree(text.candidates);
  text.candidates = nullptr;
  text.candidateSize = 0;
}

void ReadCandidates(const ImmCalls& imm, HWND window, HIMC context) {
  if (!imm.getCandidateList) return;
  const DWORD size = imm.getCandidateList(context, 0, nullptr, 0);
  if (size == 0) {
    LogPrintf("候補リストが空です(ウインドウ %p, コンテキスト %p)", static_cast<void*>(window),
              static_cast<void*>(context));
    return;
  }
  FreeCandidates();
  // The list is only shown, so a list that cannot be held is dropped rather than fatal.
  auto* list = static_cast<CANDIDATELIST*>(TrackedAlloc(size, __FILE__, __LINE__));
  if (!list) {
    LogPrintf("候補リストのメモリを確保できませんでした(%u byte)", static_cast<unsigned>(size));
    return;
  }
  if (imm.getCandidateList(context, 0, list, size) == 0) {
    TrackedFree(list);
    LogPrintf("候補リストの取得に失敗しました(%u byte)", static_cast<unsigned>(size));
    return;
  }
  text.candidates = list;
  text.candidateSize = static_cast<int>(size);
}

void HandleComposition(const ImmCalls& imm, HWND window, LPARAM flags) {
  if (!imm.getContext || !imm.getCompositionString) return;
  HIMC context = imm.getContext(window);
  if (!context) return;
  if (flags & GCS_COMPSTR) ReadComposition(imm, context, text.composition);
  if (flags & GCS_RESULTSTR) {
    const LONG size = imm.getCompositionString(context, GCS_RESULTSTR, nullptr, 0);
    if (size > 0) {
      if (auto* result = static_cast<char*>(TrackedAlloc(size + 1, __FILE__, __LINE__))) {
        const LONG got = imm.getCompositionString(context, GCS_RESULTSTR, result, size);
        PushTypedText(result, std::clamp<LONG>(got, 0, size), false);
        TrackedFree(result);
      }
    }
    ReadComposition(imm, context, text.composition);
  }
  if (flags & GCS_CURSORPOS) {
    const LONG bytes = imm.getCompositionString(context, GCS_CURSORPOS, nullptr, 0);
    text.compositionCursor = CharactersInBytes(text.composition, std::max<LONG>(bytes, 0));
  }
  if (flags & GCS_COMPCLAUSE) {
    const LONG bytes =
        imm.getCompositionString(context, GCS_COMPCLAUSE, text.clauses, sizeof text.clauses);
    text.clauseCount = std::clamp<LONG>(bytes, 0, sizeof text.clauses) / 4;
  }
  if (flags & GCS_COMPATTR) {
    const LONG bytes =
        imm.getCompositionString(context, GCS_COMPATTR, text.attributes, sizeof text.attributes);
    text.attributeCount = std::clamp<LONG>(bytes, 0, sizeof text.attributes);
  }
  if (imm.releaseContext) imm.releaseContext(window, context);
}

LRESULT HandleNotify(const ImmCalls& imm, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (wParam) {
    case IMN_CHANGECANDIDATE:
    case IMN_OPENCANDIDATE:
    case IMN_SETCANDIDATEPOS: {
      HIMC context = imm.getContext ? imm.getContext(window) : nullptr;
      if (context) {
        ReadCandidates(imm, window, context);
        if (imm.releaseContext) imm.releaseContext(window, context);
      }
      return 0;
    }
    case IMN_CLOSECANDIDATE: FreeCandidates(); return 0;
    case IMN_SETOPENSTATUS: {
      if (text.openStatusBusy) return 0;
      text.openStatusBusy = 1;
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      // The IME settles within a couple of milliseconds; the pass count bounds the wait where the
      // clock does not move (virtual time).
      const std::uint64_t start = GetMicrosecondCount(0);
      for (int pass = 0;
           pass < 1000 && PumpWindowMessages() == 0 && GetMicrosecondCount(0) - start < 2000;
           ++pass) {
      }
      HIMC context = imm.getContext ? imm.getContext(window) : nullptr;
      if (context && imm.getOpenStatus) text.imeOpen = imm.getOpenStatus(context) ? 1 : 0;
      if (context && imm.releaseContext) imm.releaseContext(window, context);
      text.openStatusBusy = 0;
      return result;
    }
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// One step per frame of putting the composition back after an activation.
void StepImeRestore() {
  if (text.restoreStep == 0) return;
  ImmCalls imm = Imm();
  HWND window = GetEngineWindowHandle();
  HIMC context = imm.getContext ? imm.getContext(window) : nullptr;
  if (!context) {
    text.restoreStep = 0;
    return;
  }
  switch (text.restoreStep) {
    case 1:
      ReadComposition(imm, context, text.restoreComposition);
      if (imm.notify) imm.notify(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
      text.restoreStep = 2;
      break;
    case 2:
      if (imm.setOpenStatus) imm.setOpenStatus(context, FALSE);
      text.restoreStep = 3;
      break;
    case 3:
      if (imm.setOpenStatus) imm.setOpenStatus(context, TRUE);
      text.restoreStep = 4;
      break;
    default:
      if (imm.setCompositionString)
        imm.setCompositionString(context, SCS_SETSTR, text.restoreComposition,
                                 static_cast<DWORD>(std::strlen(text.restoreComposition)), nullptr,
                                 0);
      text.restoreStep = 0;
      break;
  }
  if (imm.releaseContext) imm.releaseContext(window, context);
}

KeyInputRecord* FindKeyInput(EngineHandle handle) {
  const int slot = GetEngineHandleSlotForKind(handle, text.kind);
  if (slot < 0 || !text.records[slot].inUse) return nullptr;
  if ((text.records[slot].checkNumber & 0x7FF) != GetEngineHandleCheck(handle)) return nullptr;
  return &text.records[slot];
}

// Cuts the composition to whole characters within the field's limits (neither is set in this
// program).
void LimitComposition(KeyInputRecord& record) {
  int limit = -1;
  const int length = static_cast<int>(std::strlen(text.composition));
  if (text.keepCompositionInField && length > record.maxLength - record.length)
    limit = record.maxLength - record.length;
  if (text.maxCompositionLength > 0 && length > text.maxCompositionLength &&
      (limit < 0 || limit > text.maxCompositionLength))
    limit = text.maxCompositionLength;
  if (limit < 0) return;
  ImmCalls imm = Imm();
  HWND window = GetEngineWindowHandle();
  HIMC context = imm.getContext ? imm.getContext(window) : nullptr;
  if (!context) return;
  char cut[kCompositionSize];
  ReadComposition(imm, context, cut);
  if (static_cast<int>(std::strlen(cut)) > limit) {
    int end = 0;
    for (int i = 0; cut[i];) {
      const int size = IsLead(cut + i) ? 2 : 1;
      if (i + size > limit) break;
      i += size;
      end = i;
    }
    cut[end] = '\0';
    if (imm.notify) imm.notify(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
    if (imm.setCompositionString)
      imm.setCompositionString(context, SCS_SETSTR, cut, static_cast<DWORD>(end), nullptr, 0);
  }
  if (imm.releaseContext) imm.releaseContext(window, context);
}

bool HasSelection(const KeyInputRecord& r) { return r.selectionStart >= 0 && r.selectionEnd >= 0; }

void ClearSelection(KeyInputRecord& r) { r.selectionStart = r.selectionEnd = -1; }

void DeleteSelection(KeyInputRecord& r) {
  if (!HasSelection(r)) return;
  const int low = std::clamp(std::min(r.selectionStart, r.selectionEnd), 0, r.length);
  const int high = std::clamp(std::max(r.selectionStart, r.selectionEnd), 0, r.length);
  std::memmove(r.text + low, r.text + high, static_cast<std::size_t>(r.length - high + 1));
  r.length -= high - low;
  r.cursor = low;
  ClearSelection(r);
  if (r.displayStart > r.length) r.displayStart = r.length;
}

void CopySelection(const KeyInputRecord& r) {
  if (!HasSelection(r)) return;
  const int low = std::clamp(std::min(r.selectionStart, r.selectionEnd), 0, r.length);
  const int high = std::clamp(std::max(r.selectionStart, r.selectionEnd), 0, r.length);
  auto* copy = static_cast<char*>(TrackedAlloc(high - low + 1, __FILE__, __LINE__));
  if (!copy) return;
  std::memcpy(copy, r.text + low, static_cast<std::size_t>(high - low));
  copy[high - low] = '\0';
  WriteClipboardText(copy);
  TrackedFree(copy);
}

void Paste() {
  const int size = ReadClipboardText(nullptr, 0);
  if (size <= 0) return;
  auto* pasted = static_cast<char*>(TrackedAlloc(size, __FILE__, __LINE__));
  if (!pasted) return;
  if (ReadClipboardText(pasted, size) == 0) PushTypedText(pasted, size - 1, true);
  TrackedFree(pasted);
}

int StepBefore(const KeyInputRecord& r) {
  return GetByteKindInString(r.text, r.cursor - 1, GetCodePageKind()) == 2 ? 2 : 1;
}

int StepAt(const KeyInputRecord& r) { return IsLead(r.text + r.cursor) ? 2 : 1; }

void MoveWithSelection(KeyInputRecord& r, int newCursor, bool shift) {
  if (!shift) {
    ClearSelection(r);
    r.cursor = newCursor;
    return;
  }
  if (!HasSelection(r)) r.selectionStart = r.cursor;
  r.cursor = newCursor;
  r.selectionEnd = newCursor;
}

void InsertCharacter(KeyInputRecord& r, const char* bytes, int size) {
  DeleteSelection(r);
  if (r.numberOnly) {
    const char c = bytes[0];
    const bool accepted = size == 1 && ((c >= '0' && c <= '9') || (c == '-' && r.cursor == 0) ||
                                        (c == '.' && !std::memchr(r.text, '.', r.length)));
    if (!accepted) return;
  }
  if (r.singleByteOnly && size == 2) return;
  if (size > r.maxLength) return;
  while (r.length + size > r.maxLength) {
    int last = 0;
    for (int i = 0; i < r.length;) {
      last = i;
      i += IsLead(r.text + i) && i + 1 < r.length ? 2 : 1;
    }
    if (r.cursor > last) r.cursor = last;
    r.length = last;
    r.text[last] = '\0';
  }
  std::memmove(r.text + r.cursor + size, r.text + r.cursor,
               static_cast<std::size_t>(r.length - r.cursor + 1));
  std::memcpy(r.text + r.cursor, bytes, static_cast<std::size_t>(size));
  r.cursor += size;
  r.length += size;
}

void EditWithCharacter(KeyInputRecord& r, const char* bytes, int size) {
  const auto& keys = GetInputState().keyStates;
  const bool shift = (keys[kLeftShift] & 0x80) || (keys[kRightShift] & 0x80);
  const int code = size == 1 ? static_cast<unsigned char>(bytes[0]) : -1;
  switch (code) {
    case 1: break;  // Ctrl+A has no edit of its own; it is not text either
    case 3: CopySelection(r); break;
    case 8:
      if (HasSelection(r)) {
        DeleteSelection(r);
      } else if (r.cursor > 0) {
        const int step = StepBefore(r);
        std::memmove(r.text + r.cursor - step, r.text + r.cursor,
                     static_cast<std::size_t>(r.length - r.cursor + 1));
        r.cursor -= step;
        r.length -= step;
      }
      break;
    case 9:
    case 30:
    case 31: break;
    case 13: r.ended = 1; break;
    case 16:
      if (!HasSelection(r)) {
        if (r.cursor < r.length) {
          const int step = std::min(StepAt(r), r.length - r.cursor);
          std::memmove(r.text + r.cursor, r.text + r.cursor + step,
                       static_cast<std::size_t>(r.length - r.cursor - step + 1));
          r.length -= step;
        }
      } else {
        if (shift) CopySelection(r);
        DeleteSelection(r);
      }
      break;
    case 22: Paste(); break;
    case 24:
      CopySelection(r);
      DeleteSelection(r);
      break;
    case 25:
      if (!shift) {
        ClearSelection(r);
        r.cursor = r.length;
      } else {
        if (!HasSelection(r)) r.selectionStart = r.cursor;
        r.selectionEnd = r.length;
        r.cursor = r.length;
      }
      break;
    case 26:
      if (!shift) {
        ClearSelection(r);
        r.cursor = 0;
      } else {
        if (!HasSelection(r)) r.selectionStart = r.cursor;
        r.selectionEnd = 0;
        r.cursor = 0;
      }
      break;
    case 27:
      if (r.cancelAllowed) {
        r.cancelled = 1;
        r.ended = 1;
      }
      break;
    case 28:
      if (r.cursor < r.length)
        MoveWithSelection(r, std::min(r.cursor + StepAt(r), r.length), shift);
      break;
    case 29:
      if (r.cursor > 0) MoveWithSelection(r, std::max(r.cursor - StepBefore(r), 0), shift);
      break;
    default: InsertCharacter(r, bytes, size); break;
  }
}

}  // namespace

int InitializeKeyInput() {
  LogWriteText("文字コードバッファの初期化を行います... ");
  for (auto& record : text.records)
    if (record.text) TrackedFree(record.text);
  FreeCandidates();
  const int nextCheck = text.kind.nextCheck;
  text = TextInputState{};
  text.kind = MakeEngineHandleKind(kKeyInputHandle);
  text.kind.nextCheck = nextCheck;
  for (int i = 0; i < KeyInputColorCount; ++i) {
    const Rgb& c = kKeyInputColors[i];
    text.colors[i] = MakeScreenColorCode(c.red, c.green, c.blue);
  }
  text.active = -1;
  text.blinkPeriod = kCursorBlinkPeriod;
  LogWriteText("完了しました\n");
  return 0;
}

int PushTypedCharacter(int code) {
  const int byte = code & 0xFF;
  if (text.hasPendingLead) {
    const int lead = text.pendingLead;
    text.hasPendingLead = 0;
    if (FreeBytes() < 2) return -1;
    StoreByte(lead);
    StoreByte(byte);
    return 0;
  }
  const char c = static_cast<char>(byte);
  if (IsLead(&c) && !IsControlKeyCode(byte)) {
    text.hasPendingLead = 1;
    text.pendingLead = byte;
    return FreeBytes() < 2 ? -1 : 0;
  }
  if (FreeBytes() < 1) return -1;
  StoreByte(byte);
  return 0;
}

int IsTypedCharacterBufferFull() { return FreeBytes() == 0; }

int TakeTypedCharacter(char out[2], int consume) {
  if (HeldBytes() == 0) return 0;
  const char first = static_cast<char>(text.ring[text.readPosition]);
  int size = 1;
  if (IsLead(&first) && !IsControlKeyCode(static_cast<unsigned char>(first))) {
    if (HeldBytes() < 2) return 0;
    size = 2;
  }
  out[0] = first;
  if (size == 2) out[1] = static_cast<char>(text.ring[(text.readPosition + 1) % kRingSize]);
  if (consume) text.readPosition = (text.readPosition + size) % kRingSize;
  return size;
}

int LookUpKeyControlCode(int virtualKey) {
  for (const auto& entry : kKeyControlCodes) {
    if (entry.virtualKey == 0) break;
    if (entry.virtualKey == virtualKey) return entry.code;
  }
  return 0;
}

int IsControlKeyCode(int code) {
  for (const auto& entry : kKeyControlCodes) {
    if (entry.virtualKey == 0) break;
    if (entry.code == code) return 1;
  }
  return 0;
}

int CharactersInBytes(const char* string, int n) {
  int characters = 0;
  for (int i = 0; i < n && string[i];) {
    i += IsLead(string + i) && string[i + 1] ? 2 : 1;
    ++characters;
  }
  return characters;
}

LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  text.imeMessageArrived = 1;
  RestartCursorBlink();
  ImmCalls imm = Imm();
  switch (message) {
    case WM_IME_STARTCOMPOSITION:
      text.composing = 1;
      text.compositionCursor = 0;
      return 0;
    case WM_IME_ENDCOMPOSITION:
      text.composition[0] = '\0';
      text.composing = 0;
      return 0;
    case WM_IME_COMPOSITION: HandleComposition(imm, window, lParam); return 0;
    case WM_IME_SETCONTEXT: return DefWindowProcA(window, message, wParam, 0);
    case WM_IME_NOTIFY: return HandleNotify(imm, window, message, wParam, lParam);
    default: return 0;
  }
}

int SetImeUse(int on) {
  on = on ? 1 : 0;
  if (on == text.imeUse) return 0;
  if (auto enable = reinterpret_cast<BOOL (*)(HWND, BOOL)>(
          GetEngineModuleEntry("User32.dll", "WINNLSEnableIME")))
    enable(GetEngineWindowHandle(), on);
  text.imeUse = on;
  if (!on) {
    FreeCandidates();
    text.composition[0] = '\0';
    text.composing = 0;
  }
  return 0;
}

int IsImeUseOn() { return text.imeUse; }

int MarkImeRestoreOnActivation() {
  if (text.imeUse && text.imeRestoreSetting) text.restoreStep = 1;
  return 0;
}

int DeleteKeyInput(EngineHandle handle) {
  KeyInputRecord* record = FindKeyInput(handle);
  if (!record) return -1;
  if (record->text) TrackedFree(record->text);
  *record = KeyInputRecord{};
  RetireEngineHandle(text.kind);
  if (text.active == handle) text.active = -1;
  if (text.kind.liveCount == 0) SetImeUse(0);
  return 0;
}

int DeleteAllKeyInputs() {
  for (int slot = 0; slot < kKeyInputSlots; ++slot) {
    KeyInputRecord& record = text.records[slot];
    if (!record.inUse) continue;
    DeleteKeyInput(MakeEngineHandle(kKeyInputHandle, record.checkNumber, slot));
  }
  text.active = -1;
  return 0;
}

int ProcessKeyInput() {
  StepImeRestore();
  KeyInputRecord* record = FindKeyInput(text.active);
  if (!record || record->ended) return 0;
  LimitComposition(*record);
  char character[2];
  int size;
  while (!record->ended && (size = TakeTypedCharacter(character, 1)) > 0) {
    RestartCursorBlink();
    EditWithCharacter(*record, character, size);
  }
  return 0;
}

std::uint32_t GetKeyInputColor(int index) {
  if (index < 0 || index >= KeyInputColorCount) return 0;
  return text.colors[index];
}

int GetKeyInputCursorBlinkPeriod() { return text.blinkPeriod; }

const char* GetImeCompositionString() { return text.composition; }
int GetImeCompositionCursor() { return text.compositionCursor; }
int IsImeComposing() { return text.composing; }

EngineHandle MakeKeyInputForTest(int maxLength, int cancelAllowed, int singleByteOnly,
                                 int numberOnly) {
  if (maxLength < 0) return -1;
  if (text.kind.type != kKeyInputHandle) return -1;  // text input not initialised
  int slot = 0;
  for (; slot < kKeyInputSlots && text.records[slot].inUse; ++slot) {
  }
  if (slot == kKeyInputSlots) return -1;
  auto* buffer = static_cast<char*>(TrackedAllocZeroed(maxLength + 1, __FILE__, __LINE__));
  if (!buffer) return -1;
  KeyInputRecord& record = text.records[slot];
  record = KeyInputRecord{};
  record.inUse = 1;
  record.maxLength = maxLength;
  record.text = buffer;
  record.selectionStart = record.selectionEnd = -1;
  record.cancelAllowed = cancelAllowed;
  record.singleByteOnly = singleByteOnly;
  record.numberOnly = numberOnly;
  const EngineHandle handle = IssueEngineHandle(text.kind, slot, &record.checkNumber);
  text.active = handle;
  return handle;
}

KeyInputRecord* GetKeyInputRecord(EngineHandle handle) { return FindKeyInput(handle); }
