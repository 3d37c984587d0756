#include "desktop/windows/rc_l10n_handler/ui_language.h"

#include "base/logging.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

const int kAvailableLanguagesResource = 134;

struct LanguageCodeLcid {
  const char* code;  // lower case
  LANGID lcid;
};

// Searched in order; the first match wins.
const LanguageCodeLcid kLanguageCodeLcids[] = {
    {"az", 1068},      {"el", 1032},     {"gu", 1095},          {"en", 1033},
    {"userdefault", 1024}, {"fr-ca", 3084}, {"vi", 1066},       {"ca", 1027},
    {"fake-bidi", 1037}, {"am", 1118},   {"it", 1040},          {"iw", 1037},
    {"kn", 1099},      {"zh-hk", 3076},  {"ar", 1025},          {"ml", 1100},
    {"zu", 1077},      {"cs", 1029},     {"et", 1061},          {"gl", 1110},
    {"id", 1057},      {"es", 3082},     {"en-gb", 2057},       {"ru", 1049},
    {"eu", 1069},      {"nl", 1043},     {"nn", 2068},          {"no", 1044},
    {"nb", 1044},      {"af", 1078},     {"tr", 1055},          {"tl", 1024},
    {"lv", 1062},      {"lt", 1063},     {"pa", 1094},          {"sw", 1089},
    {"th", 1054},      {"te", 1098},     {"ro", 1048},          {"is", 1039},
    {"fil", 1124},     {"ta", 1097},     {"be", 1059},          {"fr", 1036},
    {"bg", 1026},      {"ms", 1086},     {"sl", 1060},          {"hr", 1050},
    {"fy", 1122},      {"bn", 1093},     {"de", 1031},          {"hu", 1038},
    {"fa", 1065},      {"neutral", 0},   {"hi", 1081},          {"pt-br", 1046},
    {"sa", 1103},      {"fi", 1035},     {"da", 1030},          {"ja", 1041},
    {"kk", 1087},      {"he", 1037},     {"me", 2074},          {"es-419", 2058},
    {"ne", 1121},      {"pt-pt", 2070},  {"zh-tw", 1028},       {"uz", 1091},
    {"ko", 1042},      {"sv", 1053},     {"mk", 1071},          {"ur", 1056},
    {"sk", 1051},      {"zh-cn", 2052},  {"si", 1115},          {"gd", 1169},
    {"pl", 1045},      {"uk", 1058},     {"sr", 3098},          {"ti", 2163},
    {"mr", 1102},      {"or", 1096},
};
static_assert(sizeof(kLanguageCodeLcids) / sizeof(kLanguageCodeLcids[0]) == 82,
              "one row per supported code");

bool IsCode(const std::wstring& code, const char* lower_case_code) {
  return base::LowerCaseEqualsASCII(code, lower_case_code);
}

// The codes that name a language differently from the offered list.
std::wstring NormalizeRequestedCode(const std::wstring& code) {
  if (IsCode(code, "no")) return L"nb";
  if (IsCode(code, "pt")) return L"pt-PT";
  if (IsCode(code, "tl")) return L"fil";
  return code;
}

}  // namespace

LANGID LanguageCodeToLcid(const std::wstring& code) {
  VLOG(1) << "Looking up LCID for " << code;
  if (code.empty()) return 0;
  for (const LanguageCodeLcid& row : kLanguageCodeLcids) {
    if (IsCode(code, row.code)) return row.lcid;
  }
  return 0;
}

std::vector<std::wstring> LoadAvailableLanguages() {
  const HMODULE module = GetResourceModule();
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kAvailableLanguagesResource), L"TXT");
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!data) {
    PLOG(ERROR) << "Failed to load the available languages";
    return std::vector<std::wstring>();
  }
  const std::string text(data, SizeofResource(module, resource));
  // A trailing line break or a blank line names no language.
  return base::SplitString(base::ASCIIToWide(text), L'\n', base::TRIM_WHITESPACE,
                           base::SPLIT_WANT_NONEMPTY);
}

bool IsLanguageAvailable(const std::wstring& code) {
  if (!base::IsStringASCII(code)) return false;
  const std::string ascii_code = base::WideToASCII(code);
  for (const std::wstring& available : LoadAvailableLanguages()) {
    if (base::EqualsCaseInsensitiveASCII(base::WideToASCII(available), ascii_code))
      return true;
  }
  return false;
}

void SelectUiLanguage(LANGID* language, std::wstring* code) {
  internal::SelectUiLanguage(base::internal::GetSystemUiLanguageFunctions(), language, code);
}

namespace internal {

std::wstring AdjustPreferredLanguage(const std::wstring& code) {
  const size_t dash = code.find(L'-');
  if (dash == std::wstring::npos || dash == 0) return code;
  const std::wstring language = code.substr(0, dash);
  const std::wstring region = code.substr(dash + 1);
  if (IsCode(language, "es")) return IsCode(region, "es") ? language : L"es-419";
  if (IsCode(language, "zh"))
    return IsCode(region, "hk") || IsCode(region, "mo") ? L"zh-TW" : L"zh-CN";
  if (IsCode(language, "en")) {
    return IsCode(region, "au") || IsCode(region, "ca") || IsCode(region, "nz") ||
                   IsCode(region, "za")
               ? L"en-GB"
               : L"en-US";
  }
  if (IsCode(language, "no")) return L"nb";
  // Filipino is offered as "fil" (a requested "tl" is read the same way).
  if (IsCode(language, "fil")) return L"fil";
  return language;
}

void SelectUiLanguage(const base::internal::UiLanguageFunctions& functions, LANGID* language,
                      std::wstring* code) {
  *code = NormalizeRequestedCode(*code);
  VLOG(1) << "Language converted from ISO631:" << *code;
  if (!IsLanguageAvailable(*code)) {
    LOG(INFO) << "Language not in the available languages list: " << *code;
    std::vector<std::wstring> preferred;
    if (!base::internal::GetThreadPreferredUiLanguageList(functions, &preferred))
      preferred.clear();
    bool found = false;
    for (const std::wstring& entry : preferred) {
      *code = entry;
      LOG(INFO) << "Trying language from system preferred list: " << *code;
      if (IsLanguageAvailable(*code)) {
        found = true;
        break;
      }
      *code = AdjustPreferredLanguage(*code);
      LOG(INFO) << "Retrying after adjustments: " << *code;
      if (IsLanguageAvailable(*code)) {
        found = true;
        break;
      }
    }
    if (!found) {
      *code = L"en";
      LOG(WARNING) << "Falling back to english";
    }
  }
  *language = LanguageCodeToLcid(*code);
  SetCurrentLanguageId(*language);
}

}  // namespace internal

}  // namespace installer
