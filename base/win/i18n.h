// The user's preferred user-interface languages, most preferred first.
#ifndef BASE_WIN_I18N_H_
#define BASE_WIN_I18N_H_

#include <windows.h>

#include <string>
#include <vector>

namespace base {

// Appends language names such as "fr-CA" and "fr" to |languages| (it is not cleared).
// False, with |languages| unchanged, only when no language can be named at all.
[[nodiscard]] bool GetThreadPreferredUiLanguageList(std::vector<std::wstring>* languages);

namespace internal {

// The system calls behind the list; a null |get_thread_preferred_ui_languages| stands
// for a Windows without that function.
struct UiLanguageFunctions {
  typedef BOOL(WINAPI* GetThreadPreferredUILanguagesFunction)(DWORD flags,
                                                              ULONG* language_count,
                                                              wchar_t* buffer,
                                                              ULONG* buffer_size);
  typedef LANGID(WINAPI* GetUserDefaultUILanguageFunction)();
  typedef int(WINAPI* GetLocaleInfoFunction)(LCID locale, LCTYPE type, wchar_t* data,
                                             int size);

  GetThreadPreferredUILanguagesFunction get_thread_preferred_ui_languages;
  GetUserDefaultUILanguageFunction get_user_default_ui_language;
  GetLocaleInfoFunction get_locale_info;
};

// The system's functions, the first looked up in kernel32 at run time.
UiLanguageFunctions GetSystemUiLanguageFunctions();

[[nodiscard]] bool GetThreadPreferredUiLanguageList(const UiLanguageFunctions& functions,
                                                    std::vector<std::wstring>* languages);

}  // namespace internal

}  // namespace base

#endif  // BASE_WIN_I18N_H_
