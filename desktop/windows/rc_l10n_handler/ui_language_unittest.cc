#include "desktop/windows/rc_l10n_handler/ui_language.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/logging.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace {

// The fake system's preferred languages; an empty list means the system names none.
std::vector<std::wstring>* g_preferred = nullptr;

BOOL WINAPI FakePreferredLanguages(DWORD, ULONG* count, wchar_t* buffer, ULONG* size) {
  if (g_preferred->empty()) return FALSE;
  std::wstring multi;
  for (const std::wstring& language : *g_preferred) multi += language + L'\0';
  multi += L'\0';
  *count = static_cast<ULONG>(g_preferred->size());
  if (buffer) multi.copy(buffer, multi.size());
  *size = static_cast<ULONG>(multi.size());
  return TRUE;
}

// The custom UI default: no fallback language either.
LANGID WINAPI NoDefaultLanguage() { return 0x1400; }

int WINAPI NoLocaleInfo(LCID, LCTYPE, wchar_t*, int) { return 0; }

std::vector<std::string>* g_lines = nullptr;

bool KeepLine(int severity, const char*, int, size_t start, const std::string& text) {
  std::string line = text.substr(start);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  g_lines->push_back(std::to_string(severity) + " " + line);
  return true;
}

class UiLanguageTest : public testing::Test {
 protected:
  void SetUp() override {
    g_preferred = &preferred_;
    g_lines = &lines_;
    base::SetLogMessageHandler(&KeepLine);
  }
  void TearDown() override {
    base::SetLogMessageHandler(nullptr);
    g_lines = nullptr;
    g_preferred = nullptr;
    SetCurrentLanguageId(0);
  }
  base::internal::UiLanguageFunctions Functions() const {
    return {&FakePreferredLanguages, &NoDefaultLanguage, &NoLocaleInfo};
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : lines_)
      if (l == line) return true;
    return false;
  }

  std::vector<std::wstring> preferred_;
  std::vector<std::string> lines_;
};

TEST(LanguageCodeToLcidTest, MapsCodesIgnoringCaseAndGivesZeroForUnknownOnes) {
  const struct {
    const wchar_t* code;
    LANGID lcid;
  } kCases[] = {
      {L"az", 1068},     {L"no", 1044},    {L"NB", 1044},   {L"pt-BR", 1046},
      {L"Es-419", 2058}, {L"en", 1033},    {L"en-gb", 2057}, {L"iw", 1037},
      {L"he", 1037},     {L"sr", 3098},    {L"tl", 1024},   {L"or", 1096},
      {L"neutral", 0},   {L"en-US", 0},    {L"", 0},        {L"xx", 0},
      {L"e", 0},         {L"en-gb-x", 0},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.lcid, LanguageCodeToLcid(c.code)) << c.code;
}

TEST_F(UiLanguageTest, TheListIsTrimmedAndBlankLinesNameNoLanguage) {
  const std::vector<std::wstring> expected = {L"en-GB", L"en-US", L"nb",     L"zh-CN",
                                              L"zh-TW", L"es",    L"es-419", L"pt-PT",
                                              L"fil",   L"fr"};
  EXPECT_EQ(expected, LoadAvailableLanguages());
  EXPECT_TRUE(IsLanguageAvailable(L"EN-gb"));
  EXPECT_TRUE(IsLanguageAvailable(L"en-US"));
  EXPECT_FALSE(IsLanguageAvailable(L"en"));
  EXPECT_FALSE(IsLanguageAvailable(L""));
  EXPECT_FALSE(IsLanguageAvailable(L"fr\x00e9"));
}

TEST_F(UiLanguageTest, WithoutAListNothingIsAvailable) {
  HMODULE no_resources = GetModuleHandleW(L"kernel32.dll");
  SetResourceModuleForTesting(no_resources);
  EXPECT_TRUE(LoadAvailableLanguages().empty());
  EXPECT_FALSE(IsLanguageAvailable(L"en-GB"));
  SetResourceModuleForTesting(nullptr);
}

TEST_F(UiLanguageTest, ChoosesTheRequestedCodeThenThePreferredListThenEnglish) {
  const struct {
    const char* name;
    const wchar_t* requested;
    std::vector<std::wstring> preferred;
    const wchar_t* code;
    LANGID lcid;
  } kCases[] = {
      {"no is Bokmal", L"no", {}, L"nb", 1044},
      {"pt is Portugal's", L"pt", {L"fr-FR"}, L"pt-PT", 2070},
      {"tl is Filipino", L"TL", {}, L"fil", 1124},
      {"offered as asked", L"zh-TW", {L"fr-FR"}, L"zh-TW", 1028},
      {"Australian English", L"", {L"en-AU"}, L"en-GB", 2057},
      {"Irish English", L"", {L"en-IE"}, L"en-US", 0},
      {"Singapore Chinese", L"", {L"zh-SG"}, L"zh-CN", 2052},
      {"Macau Chinese", L"", {L"zh-MO"}, L"zh-TW", 1028},
      {"Mexican Spanish", L"", {L"es-MX"}, L"es-419", 2058},
      {"Spain's Spanish", L"", {L"es-ES"}, L"es", 3082},
      {"Norwegian with region", L"", {L"no-NO"}, L"nb", 1044},
      {"Filipino with region", L"", {L"fil-PH"}, L"fil", 1124},
      {"first usable entry", L"de", {L"de-AT", L"fr-CA", L"nb"}, L"fr", 1036},
      {"entry taken as it is", L"", {L"nb", L"fr"}, L"nb", 1044},
      {"dash first is kept", L"", {L"-fr"}, L"en", 1033},
      {"nothing usable", L"xx", {L"de-DE", L"ru"}, L"en", 1033},
      {"empty system list", L"", {}, L"en", 1033},
  };
  for (const auto& c : kCases) {
    preferred_ = c.preferred;
    lines_.clear();
    SetCurrentLanguageId(0xFFFF);
    std::wstring code = c.requested;
    LANGID lcid = 0xFFFF;
    internal::SelectUiLanguage(Functions(), &lcid, &code);
    EXPECT_EQ(c.code, code) << c.name;
    EXPECT_EQ(c.lcid, lcid) << c.name;
    EXPECT_EQ(c.lcid, GetCurrentLanguageId()) << c.name;
    EXPECT_EQ(std::wstring(c.code) == L"en", Logged("1 Falling back to english")) << c.name;
  }
}

TEST_F(UiLanguageTest, LogsEachTryOfThePreferredList) {
  preferred_ = {L"de-AT", L"es-MX"};
  std::wstring code = L"de";
  LANGID lcid = 0;
  internal::SelectUiLanguage(Functions(), &lcid, &code);
  const std::vector<std::string> expected = {
      "0 Language not in the available languages list: de",
      "0 Trying language from system preferred list: de-AT",
      "0 Retrying after adjustments: de",
      "0 Trying language from system preferred list: es-MX",
      "0 Retrying after adjustments: es-419",
  };
  EXPECT_EQ(expected, lines_);
}

TEST_F(UiLanguageTest, TheSystemListUnderWineIsUsable) {
  std::wstring code;
  LANGID lcid = 0xFFFF;
  SelectUiLanguage(&lcid, &code);
  // Wine names "en-US" (offered here) or, without a list, English is chosen.
  EXPECT_TRUE(code == L"en-US" || code == L"en") << code;
  EXPECT_EQ(LanguageCodeToLcid(code), lcid);
}

TEST(AdjustPreferredLanguageTest, KeepsCodesWithoutARegion) {
  EXPECT_EQ(L"fr", internal::AdjustPreferredLanguage(L"fr"));
  EXPECT_EQ(L"-fr", internal::AdjustPreferredLanguage(L"-fr"));
  EXPECT_EQ(L"pt", internal::AdjustPreferredLanguage(L"pt-BR"));
  EXPECT_EQ(L"en-GB", internal::AdjustPreferredLanguage(L"EN-za"));
  EXPECT_EQ(L"sr", internal::AdjustPreferredLanguage(L"sr-Cyrl-RS"));
}

}  // namespace
}  // namespace installer
