#include "base/win/i18n.h"

#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

typedef std::vector<std::wstring> Languages;

// What the faked system reports; the fakes are plain function pointers.
struct FakeSystem {
  std::wstring preferred;  // NUL-separated names with the final extra NUL
  ULONG count = 0;
  bool fail_size_query = false;
  bool fail_read = false;
  LANGID default_language = 0x0C0C;  // French (Canada)
  std::map<std::pair<LCID, LCTYPE>, std::wstring> locale_info = {
      {{0x0C0C, 89}, L"fr"}, {{0x0C0C, 90}, L"CA"}, {{0x0007, 89}, L"de"},
      {{0x0007, 90}, L"DE"}, {{0x0409, 89}, L"en"}};
  std::vector<DWORD> flags_seen;
} * g_fake;

BOOL WINAPI FakeGetThreadPreferredUILanguages(DWORD flags, ULONG* count, wchar_t* buffer,
                                              ULONG* size) {
  g_fake->flags_seen.push_back(flags);
  if (!buffer) {
    *size = static_cast<ULONG>(g_fake->preferred.size());
    return !g_fake->fail_size_query;
  }
  if (g_fake->fail_read || *size < g_fake->preferred.size()) return FALSE;
  std::wmemcpy(buffer, g_fake->preferred.data(), g_fake->preferred.size());
  *count = g_fake->count;
  return TRUE;
}

LANGID WINAPI FakeGetUserDefaultUILanguage() { return g_fake->default_language; }

int WINAPI FakeGetLocaleInfo(LCID locale, LCTYPE type, wchar_t* data, int size) {
  auto it = g_fake->locale_info.find({locale, type});
  if (it == g_fake->locale_info.end() || static_cast<int>(it->second.size()) >= size)
    return 0;
  std::wmemcpy(data, it->second.c_str(), it->second.size() + 1);
  return static_cast<int>(it->second.size() + 1);
}

class UiLanguageTest : public testing::Test {
 protected:
  UiLanguageTest() { g_fake = &fake_; }
  ~UiLanguageTest() override { g_fake = nullptr; }

  bool List(bool with_preferred_function, Languages* languages) {
    return internal::GetThreadPreferredUiLanguageList(
        {with_preferred_function ? &FakeGetThreadPreferredUILanguages : nullptr,
         &FakeGetUserDefaultUILanguage, &FakeGetLocaleInfo},
        languages);
  }

  FakeSystem fake_;
};

TEST_F(UiLanguageTest, PreferredListInOrderUpToTheFirstEmptyName) {
  fake_.preferred = std::wstring(L"de-CH\0de\0en-US\0\0", 16);
  fake_.count = 3;
  Languages languages = {L"kept"};
  EXPECT_TRUE(List(true, &languages));
  EXPECT_EQ((Languages{L"kept", L"de-CH", L"de", L"en-US"}), languages);
  EXPECT_EQ((std::vector<DWORD>{0x38, 0x38}), fake_.flags_seen);
}

TEST_F(UiLanguageTest, FallsBackToTheDefaultUiLanguage) {
  const struct {
    const char* name;
    bool with_preferred_function, fail_size_query, fail_read, empty;
    ULONG count;
  } cases[] = {
      {"function missing", false, false, false, false, 1},
      {"size query fails", true, true, false, false, 1},
      {"read fails", true, false, true, false, 1},
      {"no language", true, false, false, false, 0},
      {"a size of 0", true, false, false, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.preferred = c.empty ? L"" : std::wstring(L"de\0\0", 4);
    fake_.fail_size_query = c.fail_size_query;
    fake_.fail_read = c.fail_read;
    fake_.count = c.count;
    Languages languages;
    EXPECT_TRUE(List(c.with_preferred_function, &languages));
    EXPECT_EQ((Languages{L"fr-CA", L"fr"}), languages);
  }
}

TEST_F(UiLanguageTest, DefaultLanguageCases) {
  const struct {
    const char* name;
    LANGID language;
    bool result;
    Languages languages;
  } cases[] = {
      {"neutral language: no country asked for", 0x0007, true, {L"de"}},
      {"no country name", 0x0409, true, {L"en"}},
      {"custom UI default", 0x1400, false, {}},
      {"no language name", 0x0413, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.default_language = c.language;
    Languages languages;
    EXPECT_EQ(c.result, List(false, &languages));
    EXPECT_EQ(c.languages, languages);
  }
}

// Wine names one language, so only the shape of the answers is checked.
TEST(UiLanguageSystemTest, SystemNamesALanguageAlsoThroughTheFallback) {
  Languages languages;
  ASSERT_TRUE(GetThreadPreferredUiLanguageList(&languages));
  ASSERT_FALSE(languages.empty());
  EXPECT_FALSE(languages[0].empty());

  internal::UiLanguageFunctions functions = internal::GetSystemUiLanguageFunctions();
  functions.get_thread_preferred_ui_languages = nullptr;
  Languages fallback;
  ASSERT_TRUE(internal::GetThreadPreferredUiLanguageList(functions, &fallback));
  // The language alone comes last, after the language with its country if any.
  EXPECT_EQ(std::wstring::npos, fallback.back().find(L'-'));
  EXPECT_EQ(0u, fallback.front().find(fallback.back()));
}

}  // namespace
}  // namespace base
