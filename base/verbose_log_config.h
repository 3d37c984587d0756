// Per-file verbose levels from the switches "v" (a level for every file) and "vmodule"
// ("pattern=level,..."). A pattern without a slash matches a file's module name (base
// name without extension and "-inl"); one with a slash or backslash matches the whole
// path. "*" matches any run, "?" any one character, "/" and "\" match each other.
#ifndef BASE_VERBOSE_LOG_CONFIG_H_
#define BASE_VERBOSE_LOG_CONFIG_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class VerboseLogConfig {
 public:
  // A non-empty decimal |v_switch| stores minus its value in |*min_log_level|, which the
  // config keeps using as the level of files no pattern matches.
  VerboseLogConfig(StringPiece v_switch, StringPiece vmodule_switch, int* min_log_level);
  VerboseLogConfig(const VerboseLogConfig&) = delete;
  VerboseLogConfig& operator=(const VerboseLogConfig&) = delete;

  // |file| is the first size_with_nul - 1 characters.
  int GetVerboseLevel(const char* file, size_t size_with_nul) const;

 private:
  enum class MatchTarget { kModule, kFile };
  struct Pattern {
    std::string pattern;
    int level;
    MatchTarget target;
  };

  std::vector<Pattern> patterns_;
  int* min_log_level_;
};

// The wildcard match of verbose patterns.
bool MatchVerbosePattern(StringPiece text, StringPiece pattern);

}  // namespace base

#endif  // BASE_VERBOSE_LOG_CONFIG_H_
