#include "base/verbose_log_config.h"

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace base {
namespace {

bool IsSlash(char c) { return c == '/' || c == '\\'; }

// "dir/foo_bar-inl.h" -> "foo_bar".
StringPiece ModuleName(StringPiece file) {
  const size_t slash = file.find_last_of("/\\");
  if (slash != StringPiece::npos) file.remove_prefix(slash + 1);
  const size_t dot = file.rfind('.');
  if (dot != StringPiece::npos) file = file.substr(0, dot);
  static const char kInlSuffix[] = "-inl";
  const size_t suffix_length = sizeof kInlSuffix - 1;
  if (file.size() >= suffix_length &&
      file.substr(file.size() - suffix_length) == StringPiece(kInlSuffix)) {
    file.remove_suffix(suffix_length);
  }
  return file;
}

}  // namespace

VerboseLogConfig::VerboseLogConfig(StringPiece v_switch, StringPiece vmodule_switch,
                                   int* min_log_level)
    : min_log_level_(min_log_level) {
  int v = 0;
  if (!v_switch.empty() && StringToInt(v_switch, &v)) *min_log_level_ = -v;

  // A malformed piece still yields its pair; it is used as the split left it.
  StringPairs pairs;
  (void)SplitStringIntoKeyValuePairs(vmodule_switch, &pairs);
  for (const auto& pair : pairs) {
    Pattern pattern;
    pattern.pattern = pair.first;
    pattern.level = 0;
    (void)StringToInt(pair.second, &pattern.level);  // a malformed level: what was read of it
    pattern.target = pair.first.find_first_of("/\\") != std::string::npos
                         ? MatchTarget::kFile
                         : MatchTarget::kModule;
    patterns_.push_back(pattern);
  }
}

int VerboseLogConfig::GetVerboseLevel(const char* file, size_t size_with_nul) const {
  if (patterns_.empty()) return -*min_log_level_;
  const StringPiece path(file, size_with_nul > 0 ? size_with_nul - 1 : 0);
  const StringPiece module = ModuleName(path);
  for (const Pattern& pattern : patterns_) {
    const StringPiece text = pattern.target == MatchTarget::kFile ? path : module;
    if (MatchVerbosePattern(text, pattern.pattern)) return pattern.level;
  }
  return -*min_log_level_;
}

bool MatchVerbosePattern(StringPiece text, StringPiece pattern) {
  while (!text.empty() && !pattern.empty() && pattern[0] != '*') {
    const bool same = IsSlash(pattern[0]) ? IsSlash(text[0])
                                          : (pattern[0] == '?' || pattern[0] == text[0]);
    if (!same) return false;
    text.remove_prefix(1);
    pattern.remove_prefix(1);
  }
  if (pattern.empty()) return text.empty();
  while (!pattern.empty() && pattern[0] == '*') pattern.remove_prefix(1);
  if (pattern.empty()) return true;
  for (; !text.empty(); text.remove_prefix(1)) {
    if (MatchVerbosePattern(text, pattern)) return true;
  }
  return false;
}

}  // namespace base
