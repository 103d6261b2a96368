// The engine's byte and string routines, its double-byte stepping and its intrusive lists.
#include "system/text_helpers.h"

#include <cstring>

namespace {

struct CodePageState {
  int kind = 0;
  int number = 0;
};
CodePageState codePage;

inline unsigned char Byte(const char* p) { return static_cast<unsigned char>(*p); }

}  // namespace

int GetCodePageKind() { return codePage.kind; }
int GetCodePageNumber() { return codePage.number; }

void SetCodePageKindFromCodePage(unsigned int page) {
  if (codePage.kind != 0) return;
  switch (page) {
    case 932: codePage = {kCodePageKindShiftJis, 932}; break;
    case 949: codePage = {kCodePageKindKorean, 949}; break;
    case 950: codePage = {kCodePageKindChineseTraditional, 950}; break;
    case 936: codePage = {kCodePageKindChineseSimplified, 936}; break;
    default: codePage = {kCodePageKindShiftJis, 0}; break;
  }
}

void SetCodePageKind(int kind, int codePageNumber) { codePage = {kind, codePageNumber}; }

int IsLeadByteForCodePage(const char* byte, int kind) {
  if (byte == nullptr) return 0;
  const unsigned char b = Byte(byte);
  if (kind == kCodePageKindKorean || kind == kCodePageKindChineseTraditional ||
      kind == kCodePageKindChineseSimplified)
    return b >= 0x80 ? 1 : 0;
  return ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 1 : 0;
}

int GetByteKindInString(const char* string, int position, int kind) {
  if (string == nullptr || position < 0) return -1;
  for (int i = 0; string[i] != '\0';) {
    if (IsLeadByteForCodePage(string + i, kind)) {
      if (position == i) return 1;
      if (position == i + 1) return 2;
      if (string[i + 1] == '\0') return -1;
      i += 2;
    } else {
      if (position == i) return 0;
      ++i;
    }
  }
  return -1;
}

void CopyString(char* dst, const char* src) { std::strcpy(dst, src); }

void CopyStringMax(char* dst, const char* src, int n) {
  int i = 0;
  for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  dst[i] = '\0';
}

const char* FindCharInString(const char* str, int ch) {
  const int kind = GetCodePageKind();
  const char c = static_cast<char>(ch);
  const char* p = str;
  while (*p != '\0') {
    if (IsLeadByteForCodePage(p, kind)) {
      if (p[1] == '\0') return nullptr;
      p += 2;
      continue;
    }
    if (*p == c) return p;
    ++p;
  }
  return c == '\0' ? p : nullptr;
}

char* FindCharInString(char* str, int ch) {
  return const_cast<char*>(FindCharInString(static_cast<const char*>(str), ch));
}

int CompareStrings(const char* a, const char* b) { return std::strcmp(a, b) == 0 ? 0 : 1; }

char* UpperCaseString(char* str) {
  const int kind = GetCodePageKind();
  char* p = str;
  while (*p != '\0') {
    if (IsLeadByteForCodePage(p, kind)) {
      if (p[1] == '\0') return p + 1;
      p += 2;
      continue;
    }
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    ++p;
  }
  return p;
}

int CompareStringPrefix(const char* a, const char* b, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return 1;
    // Both strings end here: nothing beyond their terminators is read.
    if (a[i] == '\0') return 0;
  }
  return 0;
}

void FillBytes(void* dst, int value, std::int64_t n) {
  if (n > 0) std::memset(dst, value, static_cast<std::size_t>(n));
}

int CompareBytes(const void* a, const void* b, std::int64_t n) {
  if (n <= 0) return 0;
  return std::memcmp(a, b, static_cast<std::size_t>(n)) == 0 ? 0 : 1;
}

std::int64_t CopyBytes(void* dst, const void* src, std::int64_t n) {
  if (n > 0) std::memcpy(dst, src, static_cast<std::size_t>(n));
  return n;
}

std::int64_t MoveBytes(void* dst, const void* src, std::int64_t n) {
  if (n > 0 && dst != src) std::memmove(dst, src, static_cast<std::size_t>(n));
  return n;
}

char* IntToString(int value, char* buffer, int radix) {
  if (radix < 2 || radix > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  // The magnitude as unsigned, so that -2147483648 needs no negation of an int.
  unsigned int magnitude =
      value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  char digits[33];
  int count = 0;
  do {
    const unsigned int digit = magnitude % static_cast<unsigned int>(radix);
    digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= static_cast<unsigned int>(radix);
  } while (magnitude != 0);
  char* out = buffer;
  if (value < 0) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
  return buffer;
}

int InitializeList(ListNode* head, ListNode* tail) {
  *head = ListNode{-1, nullptr, nullptr, tail};
  *tail = ListNode{-1, nullptr, head, nullptr};
  return 0;
}

int InsertListNodeAfter(ListNode* after, ListNode* node, int key, void* owner) {
  node->key = key;
  node->owner = owner;
  node->previous = after;
  node->next = after->next;
  after->next->previous = node;
  after->next = node;
  return 0;
}

int UnlinkListNode(ListNode* node) {
  node->previous->next = node->next;
  node->next->previous = node->previous;
  return 0;
}
