// The installer's UI language: the languages it offers ("TXT" resource 134), language
// codes as Windows language identifiers, and the one choice per process from the
// requested code and the user's preferred languages.
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/win/i18n.h"

namespace installer {

// The language identifier of a code such as "pt-br" (case ignored); 0 for an empty or
// unknown code.
LANGID LanguageCodeToLcid(const std::wstring& code);

// The codes of the offered languages, in resource order; empty (with an ERROR line)
// when the resource module has no list.
std::vector<std::wstring> LoadAvailableLanguages();

// Whether |code| is one of the offered languages (case ignored); never for a code that
// is not pure ASCII.
bool IsLanguageAvailable(const std::wstring& code);

// Chooses the UI language for the requested |code| (may be empty): the code itself when
// offered, else the first usable entry of the user's preferred languages, else English.
// |code| is left holding the code chosen; |language| and the process-wide UI language
// get its identifier.
void SelectUiLanguage(LANGID* language, std::wstring* code);

namespace internal {

// As above, with the system's language functions given.
void SelectUiLanguage(const base::internal::UiLanguageFunctions& functions, LANGID* language,
                      std::wstring* code);

// "es-MX" -> "es-419", "en-AU" -> "en-GB", "zh-HK" -> "zh-TW", "de-AT" -> "de", ...: the
// code to retry when a preferred language is not offered as it stands.
std::wstring AdjustPreferredLanguage(const std::wstring& code);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_
