#include "desktop/windows/rc_l10n_handler/localized_string.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/logging.h"

namespace installer {
namespace {

const LANGID kEnglish = 1033;
const LANGID kBokmal = 1044;

std::vector<std::string>* g_lines = nullptr;

bool KeepLine(int severity, const char*, int, size_t start, const std::string& text) {
  g_lines->push_back(std::to_string(severity) + " " + text.substr(start));
  return true;
}

// The texts come from this test program's own tables (ui_language_unittest.rc).
class LocalizedStringTest : public testing::Test {
 protected:
  void SetUp() override {
    g_lines = &lines_;
    base::SetLogMessageHandler(&KeepLine);
  }
  void TearDown() override {
    base::SetLogMessageHandler(nullptr);
    g_lines = nullptr;
    SetCurrentLanguageId(0);
  }
  bool LoggedErrorStartingWith(const std::string& start) const {
    for (const std::string& line : lines_)
      if (line.compare(0, start.size() + 2, "2 " + start) == 0) return true;
    return false;
  }

  std::vector<std::string> lines_;
};

TEST_F(LocalizedStringTest, FindsEachEntryOfABlockInTheLanguageAsked) {
  EXPECT_EQ(L"Test English", LoadStringForLanguage(kEnglish, 37000, nullptr));
  EXPECT_EQ(L"Test norsk", LoadStringForLanguage(kBokmal, 37000, nullptr));
  // The last entry of one block and the first of the next.
  EXPECT_EQ(L"last of its block", LoadStringForLanguage(kEnglish, 37015, nullptr));
  EXPECT_EQ(L"first of the next block", LoadStringForLanguage(kEnglish, 37016, nullptr));
  // An entry the block leaves empty.
  EXPECT_EQ(L"", LoadStringForLanguage(kEnglish, 37002, nullptr));
  EXPECT_TRUE(lines_.empty());
}

TEST_F(LocalizedStringTest, LanguageZeroReadsEnglishNotTheSystemsLanguage) {
  // "en-US" has no identifier of its own.
  SetCurrentLanguageId(0);
  EXPECT_EQ(L"Test English", GetLocalizedString(37000));
  EXPECT_EQ(L"Test English", GetLocalizedStringForLanguageCode(L"en-US", 37000));
}

TEST_F(LocalizedStringTest, ReplacesPlaceholdersOnlyWhenAsked) {
  EXPECT_EQ(L"one $1 two $2", LoadStringForLanguage(kEnglish, 37001, nullptr));
  const std::vector<std::wstring> replacements = {L"A", L"B"};
  EXPECT_EQ(L"one A two B", LoadStringForLanguage(kEnglish, 37001, &replacements));
  SetCurrentLanguageId(kEnglish);
  EXPECT_EQ(L"one A two ", GetLocalizedStringWithArg(37001, L"A"));
  EXPECT_EQ(L"one A two B", GetLocalizedStringWithReplacements(37001, replacements));
}

TEST_F(LocalizedStringTest, FollowsTheCurrentLanguage) {
  SetCurrentLanguageId(kBokmal);
  EXPECT_EQ(kBokmal, GetCurrentLanguageId());
  EXPECT_EQ(L"Test norsk", GetLocalizedString(37000));
  SetCurrentLanguageId(kEnglish);
  EXPECT_EQ(L"Test English", GetLocalizedString(37000));
  EXPECT_EQ(L"Test norsk", GetLocalizedStringForLanguageCode(L"nb", 37000));
  EXPECT_EQ(L"Test English", GetLocalizedStringForLanguageCode(L"EN", 37000));
}

TEST_F(LocalizedStringTest, AMissingBlockGivesEmptyTextAndAnError) {
  for (int id : {37100, 0, 65535, -1}) {
    lines_.clear();
    EXPECT_EQ(L"", LoadStringForLanguage(kEnglish, id, nullptr)) << id;
    EXPECT_TRUE(LoggedErrorStartingWith("Failed to find string")) << id;
  }
}

TEST_F(LocalizedStringTest, AModuleWithoutTablesGivesEmptyText) {
  SetResourceModuleForTesting(GetModuleHandleW(L"kernel32.dll"));
  EXPECT_EQ(L"", LoadStringForLanguage(kEnglish, 37000, nullptr));
  EXPECT_TRUE(LoggedErrorStartingWith("Failed to find string"));
  SetResourceModuleForTesting(nullptr);
  EXPECT_EQ(L"Test English", LoadStringForLanguage(kEnglish, 37000, nullptr));
}

}  // namespace
}  // namespace installer
