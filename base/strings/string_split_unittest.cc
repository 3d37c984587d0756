#include "base/strings/string_split.h"

#include <gtest/gtest.h>

namespace base {
namespace {

typedef std::vector<std::string> Pieces;

TEST(StringSplitTest, NarrowModes) {
  struct Case {
    const char* input;
    const char* separators;
    WhitespaceHandling whitespace;
    SplitResult result;
    Pieces expected;
  } cases[] = {
      {"", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {}},
      {",", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"", ""}},
      {",", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY, {}},
      {" a , b ,, c ", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY, {"a", "b", "c"}},
      {" a , b ,, c ", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {" a ", " b ", "", " c "}},
      {" a , \t ,b", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL, {"a", "", "b"}},
      {"a,b;c", ",;", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a", "b", "c"}},
      {"a,b;c", "", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a,b;c"}},
      {"a,", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a", ""}},
      {"abc", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"abc"}},
      // Narrow trimming knows only ASCII whitespace: the UTF-8 NBSP stays.
      {"\xC2\xA0x ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL, {"\xC2\xA0x"}},
      // Any non-zero result mode drops empty pieces.
      {"a,,b", ",", KEEP_WHITESPACE, static_cast<SplitResult>(7), {"a", "b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, SplitString(c.input, c.separators, c.whitespace, c.result))
        << "'" << c.input << "' at '" << c.separators << "'";
  }
}

TEST(StringSplitTest, SingleCharacterAndPieces) {
  EXPECT_EQ((Pieces{"feature", "", "x "}),
            SplitString("feature@@x ", '@', KEEP_WHITESPACE, SPLIT_WANT_ALL));
  std::string input = " one ;two;; ";
  std::vector<StringPiece> pieces =
      SplitStringPiece(input, ';', TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  ASSERT_EQ(2u, pieces.size());
  EXPECT_EQ(StringPiece("one"), pieces[0]);
  EXPECT_EQ(input.data() + 1, pieces[0].data());  // a view into the input
  EXPECT_EQ(StringPiece("two"), pieces[1]);
}

TEST(StringSplitTest, WideTrimsUnicodeWhitespace) {
  std::vector<std::wstring> pieces = SplitString(
      L"\x3000" L"a\x00A0,\x2028 b", L",", TRIM_WHITESPACE, SPLIT_WANT_ALL);
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), pieces);
  EXPECT_EQ((std::vector<std::wstring>{L"x", L"y", L"z"}),
            SplitString(L"x.y/z", L"./", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((std::vector<std::wstring>{L"p", L"q"}),
            SplitString(L"p|q", L'|', KEEP_WHITESPACE, SPLIT_WANT_ALL));
}

TEST(StringSplitTest, KeyValuePairs) {
  struct Case {
    const char* input;
    bool success;
    StringPairs pairs;
  } cases[] = {
      {"a=1, b==2 ,c", false, {{"a", "1"}, {"b", "2"}, {"", ""}}},
      {"x=", false, {{"x", ""}}},
      {"", true, {}},
      {"a = b", true, {{"a ", " b"}}},  // only the whole piece is trimmed
      {"k=v=w,,", true, {{"k", "v=w"}}},
      {"=v", true, {{"", "v"}}},
  };
  for (const Case& c : cases) {
    StringPairs pairs = {{"stale", "pair"}};
    EXPECT_EQ(c.success, SplitStringIntoKeyValuePairs(c.input, &pairs)) << c.input;
    EXPECT_EQ(c.pairs, pairs) << c.input;
  }
}

}  // namespace
}  // namespace base
