// Localized texts: numbered string resources of the installer's resource module (the
// host executable) looked up by language, and the process-wide UI language.
//
//   SelectUiLanguage(&language, &code);        // once, from the request and the system
//   std::wstring title = GetLocalizedString(37000);
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_LOCALIZED_STRING_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_LOCALIZED_STRING_H_

#include <windows.h>

#include <string>
#include <vector>

namespace installer {

// The module whose resources hold the texts, the language list and the dialogs: the
// process's main module unless a test lends another (a null module restores it).
HMODULE GetResourceModule();
void SetResourceModuleForTesting(HMODULE module);

// The text |string_id| in |language| with "$n" replaced from |replacements| when given;
// empty, with an ERROR line, when its string-table block is missing or unreadable.
// Language 0 (a code without an identifier of its own) reads the English table.
std::wstring LoadStringForLanguage(LANGID language, int string_id,
                                   const std::vector<std::wstring>* replacements);

// The same in the current UI language.
std::wstring GetLocalizedString(int string_id);
std::wstring GetLocalizedStringWithArg(int string_id, const std::wstring& argument);
std::wstring GetLocalizedStringWithReplacements(int string_id,
                                                const std::vector<std::wstring>& replacements);

// The text in the language of |language_code| ("fr", "pt-BR", ...).
std::wstring GetLocalizedStringForLanguageCode(const std::wstring& language_code,
                                               int string_id);

// The process-wide UI language: 0 until a language is selected; reset when the
// exit-callback stack unwinds.
LANGID GetCurrentLanguageId();
void SetCurrentLanguageId(LANGID language);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_LOCALIZED_STRING_H_
