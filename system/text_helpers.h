// The engine's own byte and string routines. The string routines step over double-byte characters
// of the current CodePageKind, so that a trail byte is never taken for an ASCII character; the
// intrusive lists of ListNode live here too.
#pragma once

#include <cstdint>

// Which multibyte encoding text is in. 0 (unset) steps like Shift-JIS.
enum CodePageKind : std::int32_t {
  kCodePageKindShiftJis = 1,            // code page 932
  kCodePageKindKorean = 2,              // 949
  kCodePageKindChineseTraditional = 3,  // 950
  kCodePageKindChineseSimplified = 4,   // 936
};

int GetCodePageKind();
// The code page number beside the kind (932, 949, 950 or 936; 0 for any other page).
int GetCodePageNumber();
// Sets the kind and number from a code page, only while the kind is still 0: 932 -> 1, 949 -> 2,
// 950 -> 3, 936 -> 4, anything else -> 1 with number 0.
void SetCodePageKindFromCodePage(unsigned int codePage);
// Sets the kind and number as given (0, 0 clears them).
void SetCodePageKind(int kind, int codePageNumber);

// 1 when the byte starts a double-byte character of the kind.
int IsLeadByteForCodePage(const char* byte, int kind);
// 0 single-byte character, 1 lead byte, 2 trail byte, -1 at or beyond the terminator.
int GetByteKindInString(const char* string, int position, int kind);

void CopyString(char* dst, const char* src);
// Copies at most n bytes and a terminator after them; n <= 0 writes an empty string.
void CopyStringMax(char* dst, const char* src, int n);
// The first single-byte character equal to ch, stepping over double-byte characters; or null.
const char* FindCharInString(const char* str, int ch);
char* FindCharInString(char* str, int ch);
// 0 when equal, else 1.
int CompareStrings(const char* a, const char* b);
// 'a'-'z' become 'A'-'Z' in place, double-byte characters untouched; returns the terminator.
char* UpperCaseString(char* str);
// 0 when the first n bytes are equal (n <= 0: 0), else 1; the terminator is compared like a byte.
int CompareStringPrefix(const char* a, const char* b, int n);
// Byte routines: a count of 0 or below does nothing.
void FillBytes(void* dst, int value, std::int64_t n);
int CompareBytes(const void* a, const void* b, std::int64_t n);
// Forward copy; the ranges must not overlap. Returns n.
std::int64_t CopyBytes(void* dst, const void* src, std::int64_t n);
// Overlap-safe copy. Returns n.
std::int64_t MoveBytes(void* dst, const void* src, std::int64_t n);
// The value in the radix (2-36), lower-case digits, a minus sign before negatives; a radix outside
// 2-36 writes an empty string. The buffer needs 34 bytes for radix 2.
char* IntToString(int value, char* buffer, int radix);

// Intrusive doubly linked lists between a head and a tail sentinel (key -1).
struct ListNode {
  std::int32_t key;
  void* owner;
  ListNode* previous;
  ListNode* next;
};
int InitializeList(ListNode* head, ListNode* tail);
int InsertListNodeAfter(ListNode* after, ListNode* node, int key, void* owner);
// The node's own links are left as they were.
int UnlinkListNode(ListNode* node);
