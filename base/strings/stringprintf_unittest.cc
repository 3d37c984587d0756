#include "base/strings/stringprintf.h"

#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(StringPrintfTest, NarrowAndWideConversions) {
  EXPECT_EQ("7 seven 0x1f 10000000000",
            StringPrintf("%d %s 0x%x %llx", 7, "seven", 31, 1ull << 40));
  EXPECT_EQ("wide: Velum", StringPrintf("wide: %ls", L"Velum"));
  // msvcrt semantics: "%ls" is wide in a wide format too, and so is "%s".
  EXPECT_EQ(L"Velum 4711", StringPrintf(L"%ls %u", L"Velum", 4711u));
  EXPECT_EQ(L"narrow abc", StringPrintf(L"narrow %hs", "abc"));
  // msvcrt, not C99: a plain "%s" in a wide format takes a wide string.
  EXPECT_EQ(L"plain Velum", StringPrintf(L"plain %s", L"Velum"));
  EXPECT_EQ(L"\x4E2D\x6587!", StringPrintf(L"%ls!", L"\x4E2D\x6587"));
}

TEST(StringPrintfTest, StackAndHeapBoundary) {
  // 1023 characters fit the stack buffer; 1024 and more take the heap path.
  for (size_t size : {0u, 1u, 1022u, 1023u, 1024u, 1025u, 70000u}) {
    std::string text(size, 'x');
    EXPECT_EQ(text, StringPrintf("%s", text.c_str())) << size;
    std::wstring wide(size, L'y');
    EXPECT_EQ(wide, StringPrintf(L"%ls", wide.c_str())) << size;
    // A wide argument in a narrow format crosses the boundary the same way.
    EXPECT_EQ(std::string(size, 'y'), StringPrintf("%ls", wide.c_str())) << size;
  }
  // The width is computed by the runtime, so the heap path is sized by counting.
  EXPECT_EQ(std::string(1999, ' ') + "5", StringPrintf("%2000d", 5));
}

TEST(StringPrintfTest, AppendAndAssign) {
  std::string text = "a";
  StringAppendF(&text, "%c%d", 'b', 1);
  EXPECT_EQ("ab1", text);
  EXPECT_EQ("z", SStringPrintf(&text, "%s", "z"));
  EXPECT_EQ("z", text);
  std::wstring wide = L"w";
  StringAppendF(&wide, L"%d", 2);
  EXPECT_EQ(L"w2", wide);
  EXPECT_EQ(L"", SStringPrintf(&wide, L"%ls", L""));
}

TEST(StringPrintfTest, ArgumentsAreReusedForEveryAttempt) {
  // The heap attempt must see the arguments from the start again.
  std::string long_text(3000, 'q');
  EXPECT_EQ("1-" + long_text + "-2", StringPrintf("%d-%s-%d", 1, long_text.c_str(), 2));
}

TEST(StringPrintfTest, TooLongTextAppendsNothing) {
  std::string text = "keep";
  // 33,554,433 characters needed: over the 32 Mi cap.
  StringAppendF(&text, "%33554432d", 1);
  EXPECT_EQ("keep", text);
  // Exactly at the cap (text plus terminator) still works.
  std::string at_cap = StringPrintf("%33554431d", 1);
  EXPECT_EQ(33554431u, at_cap.size());
}

TEST(StringPrintfTest, NegativeLengthFromTheRuntimeYieldsNothing) {
  // A wide character that has no narrow form in the C locale makes msvcrt's narrow
  // print fail; the result must be empty rather than partial.
  std::string text = "before";
  StringAppendF(&text, "%ls", L"ok \x4E2D");
  EXPECT_EQ("before", text);
}

}  // namespace
}  // namespace base
