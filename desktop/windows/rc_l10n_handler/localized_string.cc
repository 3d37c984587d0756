#include "desktop/windows/rc_l10n_handler/localized_string.h"

#include <atomic>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

const int kStringsPerBlock = 16;
const LANGID kNeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
const LANGID kEnglishLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::atomic<HMODULE> g_resource_module_for_testing{nullptr};

// Written by the language choice on the main thread, read by lookups on any thread.
base::LazyInstance<std::atomic<LANGID>> g_current_language;

}  // namespace

HMODULE GetResourceModule() {
  HMODULE module = g_resource_module_for_testing.load(std::memory_order_acquire);
  return module ? module : GetModuleHandleW(nullptr);
}

void SetResourceModuleForTesting(HMODULE module) {
  g_resource_module_for_testing.store(module, std::memory_order_release);
}

std::wstring LoadStringForLanguage(LANGID language, int string_id,
                                   const std::vector<std::wstring>* replacements) {
  if (string_id < 0) {
    LOG(ERROR) << "Failed to find string " << string_id;
    return std::wstring();
  }
  // Windows reads language 0 as "the thread's language", so a user who chose a language
  // without an identifier of its own ("en-US") would get the system's texts instead. The
  // neutral table is English: ask for English.
  if (language == kNeutralLanguage) language = kEnglishLanguage;
  const HMODULE module = GetResourceModule();
  const int block_id = string_id / kStringsPerBlock + 1;
  HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block_id), language);
  if (!block) {
    PLOG(ERROR) << "Failed to find string";
    return std::wstring();
  }
  HGLOBAL loaded = LoadResource(module, block);
  if (!loaded) {
    PLOG(ERROR) << "Failed to load string";
    return std::wstring();
  }
  const wchar_t* entry = static_cast<const wchar_t*>(LockResource(loaded));
  if (!entry) {
    PLOG(ERROR) << "Failed to lock string";
    return std::wstring();
  }
  // Each entry is its length and its code units; a damaged block must not send the walk
  // past the resource's end.
  const wchar_t* const end = entry + SizeofResource(module, block) / sizeof(wchar_t);
  for (int index = 0;; ++index) {
    if (entry >= end || static_cast<size_t>(end - entry - 1) < *entry) {
      LOG(ERROR) << "Failed to load string " << string_id << ": the block is damaged";
      return std::wstring();
    }
    if (index == string_id % kStringsPerBlock) break;
    entry += 1 + *entry;
  }
  const std::wstring text(entry + 1, *entry);
  if (!replacements) return text;
  return base::ReplaceStringPlaceholders(text, *replacements, nullptr);
}

std::wstring GetLocalizedString(int string_id) {
  return LoadStringForLanguage(GetCurrentLanguageId(), string_id, nullptr);
}

std::wstring GetLocalizedStringWithArg(int string_id, const std::wstring& argument) {
  const std::vector<std::wstring> replacements(1, argument);
  return LoadStringForLanguage(GetCurrentLanguageId(), string_id, &replacements);
}

std::wstring GetLocalizedStringWithReplacements(int string_id,
                                                const std::vector<std::wstring>& replacements) {
  return LoadStringForLanguage(GetCurrentLanguageId(), string_id, &replacements);
}

std::wstring GetLocalizedStringForLanguageCode(const std::wstring& language_code,
                                               int string_id) {
  return LoadStringForLanguage(LanguageCodeToLcid(language_code), string_id, nullptr);
}

LANGID GetCurrentLanguageId() {
  return g_current_language.Get().load(std::memory_order_acquire);
}

void SetCurrentLanguageId(LANGID language) {
  g_current_language.Get().store(language, std::memory_order_release);
}

}  // namespace installer
