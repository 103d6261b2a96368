// The byte and string helpers: double-byte stepping, the string and byte routines, IntToString
// and the intrusive lists.
#include "system/text_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

class TextHelpers : public ::testing::Test {
 protected:
  void SetUp() override { SetCodePageKind(kCodePageKindShiftJis, 932); }
  void TearDown() override { SetCodePageKind(0, 0); }
};

TEST_F(TextHelpers, ByteKindsOfAShiftJisString) {
  const char text[] = "A\x82\xA0";
  EXPECT_EQ(GetByteKindInString(text, 0, kCodePageKindShiftJis), 0);
  EXPECT_EQ(GetByteKindInString(text, 1, kCodePageKindShiftJis), 1);
  EXPECT_EQ(GetByteKindInString(text, 2, kCodePageKindShiftJis), 2);
  EXPECT_EQ(GetByteKindInString(text, 3, kCodePageKindShiftJis), -1);
  EXPECT_EQ(GetByteKindInString(text, 9, kCodePageKindShiftJis), -1);
}

TEST_F(TextHelpers, ALeadByteBeforeTheTerminatorMakesTheTerminatorATrailAndNothingLater) {
  const char text[] = "a\x82";
  EXPECT_EQ(GetByteKindInString(text, 1, kCodePageKindShiftJis), 1);
  EXPECT_EQ(GetByteKindInString(text, 2, kCodePageKindShiftJis), 2);
  EXPECT_EQ(GetByteKindInString(text, 3, kCodePageKindShiftJis), -1);
}

TEST_F(TextHelpers, LeadBytesByCodePageKind) {
  struct Case {
    unsigned char byte;
    int kind;
    int lead;
  };
  constexpr Case cases[] = {{0x80, 1, 0}, {0x81, 1, 1}, {0x9F, 1, 1}, {0xA0, 1, 0}, {0xDF, 1, 0},
                            {0xE0, 1, 1}, {0xFC, 1, 1}, {0xFD, 1, 0}, {0x5C, 1, 0}, {0x81, 0, 1},
                            {0xA0, 0, 0}, {0x80, 2, 1}, {0xA0, 3, 1}, {0xFF, 4, 1}, {0x7F, 4, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "byte " << int(c.byte) << " kind " << c.kind);
    const char byte = static_cast<char>(c.byte);
    EXPECT_EQ(IsLeadByteForCodePage(&byte, c.kind), c.lead);
  }
}

TEST_F(TextHelpers, FindCharSkipsATrailByteOfValueBackslash) {
  const char text[] =
      "\x95\x5C"
      "a\\b";  // "表" then "a\b"
  EXPECT_EQ(FindCharInString(text, '\\'), text + 3);
  const char onlyKanji[] = "\x95\x5C";
  EXPECT_EQ(FindCharInString(onlyKanji, '\\'), nullptr);
  const char dangling[] = "ab\x95";
  EXPECT_EQ(FindCharInString(dangling, 'x'), nullptr);
  EXPECT_EQ(FindCharInString(text, 'b'), text + 4);
}

TEST_F(TextHelpers, UpperCaseChangesOnlySingleByteLetters) {
  char text[] =
      "ab\x82\x61"
      "c\x83\x5Cz";
  char* end = UpperCaseString(text);
  EXPECT_STREQ(text,
               "AB\x82\x61"
               "C\x83\x5CZ");
  EXPECT_EQ(end, text + std::strlen(text));
}

TEST_F(TextHelpers, CopyStringMaxCopiesAtMostNBytesAndATerminator) {
  struct Case {
    int n;
    const char* expected;
  };
  constexpr Case cases[] = {{3, "abc"}, {0, ""}, {-5, ""}, {6, "abcdef"}, {20, "abcdef"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    char buffer[32];
    std::memset(buffer, 'x', sizeof(buffer));
    CopyStringMax(buffer, "abcdef", c.n);
    EXPECT_STREQ(buffer, c.expected);
  }
}

TEST_F(TextHelpers, ComparisonsGiveZeroForEqualAndOneOtherwise) {
  EXPECT_EQ(CompareStrings("abc", "abc"), 0);
  EXPECT_EQ(CompareStrings("abc", "abd"), 1);
  EXPECT_EQ(CompareStrings("ab", "abc"), 1);
  EXPECT_EQ(CompareStringPrefix("abcx", "abcy", 3), 0);
  EXPECT_EQ(CompareStringPrefix("abcx", "abcy", 4), 1);
  EXPECT_EQ(CompareStringPrefix("ab", "abc", 3), 1);  // the terminator is compared too
  EXPECT_EQ(CompareStringPrefix("x", "y", 0), 0);
  EXPECT_EQ(CompareStringPrefix("x", "y", -1), 0);
  EXPECT_EQ(CompareStringPrefix("ab", "ab", 100), 0);
  EXPECT_EQ(CompareBytes("ab\0x", "ab\0y", 3), 0);
  EXPECT_EQ(CompareBytes("ab\0x", "ab\0y", 4), 1);
  EXPECT_EQ(CompareBytes("a", "b", 0), 0);
}

TEST_F(TextHelpers, ByteCopiesFillsAndOverlappingMoves) {
  unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(MoveBytes(bytes + 2, bytes, 5), 5);
  const unsigned char forward[8] = {1, 2, 1, 2, 3, 4, 5, 8};
  EXPECT_EQ(std::memcmp(bytes, forward, 8), 0);
  EXPECT_EQ(MoveBytes(bytes, bytes + 3, 5), 5);
  const unsigned char backward[8] = {2, 3, 4, 5, 8, 4, 5, 8};
  EXPECT_EQ(std::memcmp(bytes, backward, 8), 0);
  FillBytes(bytes, 0x7E, 3);
  FillBytes(bytes, 0, 0);
  FillBytes(bytes, 0, -4);
  EXPECT_EQ(bytes[2], 0x7E);
  EXPECT_EQ(bytes[3], 5);
  unsigned char copy[4] = {};
  EXPECT_EQ(CopyBytes(copy, bytes, 4), 4);
  EXPECT_EQ(std::memcmp(copy, bytes, 4), 0);
}

TEST_F(TextHelpers, IntToStringInEveryRadixAndAtTheLimits) {
  struct Case {
    int value;
    int radix;
    const char* expected;
  };
  constexpr Case cases[] = {{-255, 16, "-ff"},
                            {0, 10, "0"},
                            {5, 2, "101"},
                            {35, 36, "z"},
                            {2011, 10, "2011"},
                            {INT_MAX, 10, "2147483647"},
                            {INT_MIN, 10, "-2147483648"},
                            {INT_MIN, 16, "-80000000"},
                            {INT_MIN, 2, "-10000000000000000000000000000000"},
                            {12, 1, ""},
                            {12, 37, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " radix " << c.radix);
    char buffer[40];
    EXPECT_EQ(IntToString(c.value, buffer, c.radix), buffer);
    EXPECT_STREQ(buffer, c.expected);
  }
}

TEST_F(TextHelpers, CodePageKindIsSetFromTheCodePageOnlyWhileUnset) {
  struct Case {
    unsigned int page;
    int kind;
    int number;
  };
  constexpr Case cases[] = {
      {932, 1, 932}, {949, 2, 949}, {950, 3, 950}, {936, 4, 936}, {1252, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    SetCodePageKind(0, 0);
    SetCodePageKindFromCodePage(c.page);
    EXPECT_EQ(GetCodePageKind(), c.kind);
    EXPECT_EQ(GetCodePageNumber(), c.number);
  }
  SetCodePageKindFromCodePage(932);
  EXPECT_EQ(GetCodePageKind(), 1);
  EXPECT_EQ(GetCodePageNumber(), 0);
}

TEST_F(TextHelpers, ListsPutTheNewestFirstAndUnlinkingTheOnlyNodeJoinsTheSentinels) {
  ListNode head;
  ListNode tail;
  ListNode first;
  ListNode second;
  int owner = 0;
  InitializeList(&head, &tail);
  EXPECT_EQ(head.key, -1);
  EXPECT_EQ(head.next, &tail);
  EXPECT_EQ(tail.previous, &head);
  InsertListNodeAfter(&head, &first, 10, &owner);
  EXPECT_EQ(first.key, 10);
  EXPECT_EQ(first.owner, &owner);
  UnlinkListNode(&first);
  EXPECT_EQ(head.next, &tail);
  EXPECT_EQ(tail.previous, &head);
  InsertListNodeAfter(&head, &first, 10, &owner);
  InsertListNodeAfter(&head, &second, 11, &owner);
  EXPECT_EQ(head.next, &second);
  EXPECT_EQ(second.next, &first);
  EXPECT_EQ(first.next, &tail);
  EXPECT_EQ(tail.previous, &first);
  EXPECT_EQ(first.previous, &second);
}

}  // namespace
