#include "base/strings/string_piece.h"

#include <gtest/gtest.h>

namespace base {
namespace {

const size_t npos = StringPiece::npos;

TEST(StringPieceTest, SubstrClampsPositionAndCount) {
  const StringPiece text("hello");
  EXPECT_EQ(StringPiece("ell"), text.substr(1, 3));
  EXPECT_EQ(StringPiece("llo"), text.substr(2));
  EXPECT_EQ(StringPiece("llo"), text.substr(2, 100));
  StringPiece past_end = text.substr(9, 2);
  EXPECT_TRUE(past_end.empty());
  EXPECT_EQ(text.data() + 5, past_end.data());
  EXPECT_TRUE(StringPiece().substr(0).empty());
}

struct FindCase {
  const char* name;
  StringPiece text;
  StringPiece set;
  size_t position;
  size_t first_of;
  size_t first_not_of;
  size_t last_of;
  size_t last_not_of;
};

// Sets of one character, of several (the table), with bytes above 0x7F, and empty.
TEST(StringPieceTest, SetSearches) {
  const FindCase kCases[] = {
      {"one char", "a,b,,c", ",", 0, 1, 0, 4, 5},
      {"one char from position", "a,b,,c", ",", 2, 3, 2, 1, 2},
      {"several chars", " \tab c\t ", " \t", 0, 0, 2, 7, 5},
      {"several chars from position", " \tab c\t ", " \t", 3, 4, 3, 1, 3},
      {"high bytes", "x\xE9y\xFFz", "\xFF\xE9", 0, 1, 0, 3, 4},
      {"nothing matches", "abc", "xy", 0, npos, 0, npos, 2},
      {"everything matches", "aaa", "ab", 0, 0, npos, 2, npos},
      {"empty set", "abc", "", 0, npos, 0, npos, 2},
      {"empty set from position", "abc", "", 1, npos, 1, npos, 1},
      {"empty text", "", "ab", 0, npos, npos, npos, npos},
      {"empty text and set", "", "", 0, npos, npos, npos, npos},
      {"position past end", "abc", "b", 7, npos, npos, 1, 2},
      {"NUL in set", StringPiece("a\0b", 3), StringPiece("\0c", 2), 0, 1, 0, 1, 2},
  };
  for (const FindCase& c : kCases) {
    EXPECT_EQ(c.first_of, c.text.find_first_of(c.set, c.position)) << c.name;
    EXPECT_EQ(c.first_not_of, c.text.find_first_not_of(c.set, c.position)) << c.name;
    size_t back = c.position == 0 ? npos : c.position;
    EXPECT_EQ(c.last_of, c.text.find_last_of(c.set, back)) << c.name;
    EXPECT_EQ(c.last_not_of, c.text.find_last_not_of(c.set, back)) << c.name;
  }
}

TEST(StringPieceTest, WideSetSearchesDoNotTruncateUnits) {
  // U+0141 must not match the byte-sized 0x41 ('A') in a wide set.
  const StringPiece16 text(L"A\u0141B");
  EXPECT_EQ(1u, text.find_first_of(StringPiece16(L"\u0141C")));
  EXPECT_EQ(0u, text.find_last_of(StringPiece16(L"AC")));
  EXPECT_EQ(1u, text.find_first_not_of(StringPiece16(L"AB")));
  EXPECT_EQ(1u, text.find_last_not_of(StringPiece16(L"AB")));
  EXPECT_EQ(StringPiece16::npos, text.find_last_of(StringPiece16()));
}

}  // namespace
}  // namespace base
