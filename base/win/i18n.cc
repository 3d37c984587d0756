#include "base/win/i18n.h"

#include <utility>

namespace base {

namespace {

// Merge the system and user fallbacks, return names rather than identifiers.
const DWORD kPreferredLanguageFlags = 0x38;
const LCTYPE kIso639LanguageName = 89;
const LCTYPE kIso3166CountryName = 90;
const LANGID kCustomUiDefaultLanguage = 0x1400;
const LANGID kFirstLanguageWithSublanguage = 0x400;

[[nodiscard]] bool GetPreferredLanguages(const internal::UiLanguageFunctions& functions,
                                         std::vector<std::wstring>* languages) {
  if (!functions.get_thread_preferred_ui_languages)
    return false;
  ULONG count = 0;
  ULONG size = 0;
  if (!functions.get_thread_preferred_ui_languages(kPreferredLanguageFlags, &count, nullptr,
                                                   &size) ||
      size == 0) {
    return false;
  }
  // One more NUL than asked for, so that a list the system leaves unterminated still
  // ends inside the buffer.
  std::vector<wchar_t> buffer(size + 1, L'\0');
  if (!functions.get_thread_preferred_ui_languages(kPreferredLanguageFlags, &count,
                                                   buffer.data(), &size) ||
      count == 0) {
    return false;
  }
  const wchar_t* name = buffer.data();
  while (*name) {
    std::wstring language(name);
    name += language.size() + 1;
    languages->push_back(std::move(language));
  }
  return true;
}

// The locale text of |type|, or empty when the system gives none.
std::wstring GetLocaleText(const internal::UiLanguageFunctions& functions, LANGID language,
                           LCTYPE type) {
  wchar_t buffer[9] = {};
  // The result counts the terminating NUL.
  const int result = functions.get_locale_info(language, type, buffer, 9);
  if (result < 2)
    return std::wstring();
  buffer[8] = L'\0';
  return buffer;
}

[[nodiscard]] bool GetDefaultLanguage(const internal::UiLanguageFunctions& functions,
                                      std::vector<std::wstring>* languages) {
  const LANGID language_id = functions.get_user_default_ui_language();
  if (language_id == kCustomUiDefaultLanguage)
    return false;
  const std::wstring language =
      GetLocaleText(functions, language_id, kIso639LanguageName);
  if (language.empty())
    return false;
  std::wstring country;
  if (language_id >= kFirstLanguageWithSublanguage)
    country = GetLocaleText(functions, language_id, kIso3166CountryName);
  if (!country.empty())
    languages->push_back(language + L"-" + country);
  languages->push_back(language);
  return true;
}

}  // namespace

bool GetThreadPreferredUiLanguageList(std::vector<std::wstring>* languages) {
  return internal::GetThreadPreferredUiLanguageList(internal::GetSystemUiLanguageFunctions(),
                                                    languages);
}

namespace internal {

UiLanguageFunctions GetSystemUiLanguageFunctions() {
  UiLanguageFunctions functions;
  // Not on Windows XP.
  functions.get_thread_preferred_ui_languages =
      reinterpret_cast<UiLanguageFunctions::GetThreadPreferredUILanguagesFunction>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                 "GetThreadPreferredUILanguages")));
  functions.get_user_default_ui_language = &::GetUserDefaultUILanguage;
  functions.get_locale_info = &::GetLocaleInfoW;
  return functions;
}

bool GetThreadPreferredUiLanguageList(const UiLanguageFunctions& functions,
                                      std::vector<std::wstring>* languages) {
  if (GetPreferredLanguages(functions, languages))
    return true;
  return GetDefaultLanguage(functions, languages);
}

}  // namespace internal

}  // namespace base
