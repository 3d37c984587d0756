#include "base/win/i18n.h"

#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

// What the faked system reports; the fakes are plain function pointers, so they read it
// from here.
struct FakeSystem {
  std::wstring preferred;  // NUL-separated names with the final extra NUL
  ULONG preferred_count = 0;
  bool fail_size_query = false;
  bool fail_read = false;
  LANGID default_language = 0;
  std::map<std::pair<LCID, LCTYPE>, std::wstring> locale_info;
  std::vector<DWORD> flags_seen;
};
FakeSystem* g_fake = nullptr;

BOOL WINAPI FakeGetThreadPreferredUILanguages(DWORD flags, ULONG* count, wchar_t* buffer,
                                              ULONG* size) {
  g_fake->flags_seen.push_back(flags);
  if (!buffer) {
    *size = static_cast<ULONG>(g_fake->preferred.size());
    return !g_fake->fail_size_query;
  }
  if (g_fake->fail_read || *size < g_fake->preferred.size()) return FALSE;
  std::wmemcpy(buffer, g_fake->preferred.data(), g_fake->preferred.size());
  *count = g_fake->preferred_count;
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
  UiLanguageTest() {
    g_fake = &fake_;
    fake_.locale_info = {{{0x0C0C, 89}, L"fr"}, {{0x0C0C, 90}, L"CA"},
                         {{0x0007, 89}, L"de"}, {{0x0007, 90}, L"DE"},
                         {{0x0409, 89}, L"en"}};
  }
  ~UiLanguageTest() override { g_fake = nullptr; }

  internal::UiLanguageFunctions Functions(bool with_preferred_function) const {
    return {with_preferred_function ? &FakeGetThreadPreferredUILanguages : nullptr,
            &FakeGetUserDefaultUILanguage, &FakeGetLocaleInfo};
  }

  FakeSystem fake_;
};

TEST_F(UiLanguageTest, PreferredListInOrderUpToTheFirstEmptyName) {
  fake_.preferred = std::wstring(L"de-CH\0de\0en-US\0\0", 16);
  fake_.preferred_count = 3;
  std::vector<std::wstring> languages = {L"kept"};
  EXPECT_TRUE(internal::GetThreadPreferredUiLanguageList(Functions(true), &languages));
  EXPECT_EQ((std::vector<std::wstring>{L"kept", L"de-CH", L"de", L"en-US"}), languages);
  EXPECT_EQ((std::vector<DWORD>{0x38, 0x38}), fake_.flags_seen);
}

TEST_F(UiLanguageTest, FallsBackToTheDefaultUiLanguage) {
  const struct {
    const char* name;
    bool with_preferred_function;
    bool fail_size_query;
    bool fail_read;
    std::wstring preferred;
    ULONG preferred_count;
  } cases[] = {
      {"function missing", false, false, false, L"", 0},
      {"size query fails", true, true, false, std::wstring(L"de\0\0", 4), 1},
      {"size 0", true, false, false, L"", 0},
      {"read fails", true, false, true, std::wstring(L"de\0\0", 4), 1},
      {"no language", true, false, false, std::wstring(L"\0\0", 2), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.fail_size_query = c.fail_size_query;
    fake_.fail_read = c.fail_read;
    fake_.preferred = c.preferred;
    fake_.preferred_count = c.preferred_count;
    fake_.default_language = 0x0C0C;  // French (Canada)
    std::vector<std::wstring> languages;
    EXPECT_TRUE(internal::GetThreadPreferredUiLanguageList(
        Functions(c.with_preferred_function), &languages));
    EXPECT_EQ((std::vector<std::wstring>{L"fr-CA", L"fr"}), languages);
  }
}

TEST_F(UiLanguageTest, DefaultLanguageCases) {
  const struct {
    const char* name;
    LANGID language;
    bool result;
    std::vector<std::wstring> languages;
  } cases[] = {
      {"neutral language: no country asked for", 0x0007, true, {L"de"}},
      {"no country name", 0x0409, true, {L"en"}},
      {"custom UI default", 0x1400, false, {}},
      {"no language name", 0x0413, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.default_language = c.language;
    std::vector<std::wstring> languages;
    EXPECT_EQ(c.result,
              internal::GetThreadPreferredUiLanguageList(Functions(false), &languages));
    EXPECT_EQ(c.languages, languages);
  }
}

// Wine names one language, so only the shape of the answer is checked.
TEST(UiLanguageSystemTest, SystemNamesALanguageAlsoThroughTheFallback) {
  std::vector<std::wstring> languages;
  ASSERT_TRUE(GetThreadPreferredUiLanguageList(&languages));
  ASSERT_FALSE(languages.empty());
  EXPECT_FALSE(languages[0].empty());

  internal::UiLanguageFunctions functions = internal::GetSystemUiLanguageFunctions();
  functions.get_thread_preferred_ui_languages = nullptr;
  std::vector<std::wstring> fallback;
  ASSERT_TRUE(internal::GetThreadPreferredUiLanguageList(functions, &fallback));
  ASSERT_FALSE(fallback.empty());
  // The last entry is the language alone, the first one with its country if any.
  EXPECT_EQ(std::wstring::npos, fallback.back().find(L'-'));
  EXPECT_EQ(0u, fallback.front().find(fallback.back()));
}

}  // namespace
}  // namespace base
