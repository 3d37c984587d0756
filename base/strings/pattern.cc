#include "base/strings/pattern.h"

#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

constexpr int kMaxDepth = 16;

bool IsWildcard(char c) { return c == '*' || c == '?'; }

bool OnlyWildcards(StringPiece pattern) {
  for (char c : pattern) {
    if (!IsWildcard(c)) return false;
  }
  return true;
}

// Decodes one code point at the start of |text|; -1 when ill-formed. |size| gets the
// bytes it spans.
int32_t NextCodePoint(StringPiece text, size_t* size) {
  size_t index = 0;
  int32_t code_point = Utf8NextChar(text.data(), text.size(), &index);
  *size = index;
  return code_point;
}

bool MatchPatternAt(StringPiece text, StringPiece pattern, int depth) {
  if (depth > kMaxDepth) return false;

  // The common start, up to the first unescaped wildcard or mismatch.
  while (!text.empty() && !pattern.empty() && !IsWildcard(pattern[0])) {
    StringPiece before_escape = pattern;
    // A trailing "\" has nothing to escape and stands for itself.
    if (pattern[0] == '\\' && pattern.size() > 1) pattern.remove_prefix(1);
    size_t text_size = 0;
    size_t pattern_size = 0;
    int32_t text_char = NextCodePoint(text, &text_size);
    int32_t pattern_char = NextCodePoint(pattern, &pattern_size);
    if (text_char < 0 || pattern_char < 0 || text_char != pattern_char) {
      pattern = before_escape;
      break;
    }
    text.remove_prefix(text_size);
    pattern.remove_prefix(pattern_size);
  }

  if (text.empty()) return OnlyWildcards(pattern);
  if (pattern.empty()) return false;

  if (pattern[0] == '?') {
    StringPiece rest = pattern.substr(1);
    if (MatchPatternAt(text, rest, depth + 1)) return true;
    size_t size = 0;
    NextCodePoint(text, &size);
    return MatchPatternAt(text.substr(size), rest, depth + 1);
  }

  if (pattern[0] == '*') {
    StringPiece from_star = pattern;
    while (!pattern.empty() && IsWildcard(pattern[0])) pattern.remove_prefix(1);
    for (; !text.empty(); text.remove_prefix(1)) {
      if (MatchPatternAt(text, pattern, depth + 1)) return true;
    }
    return OnlyWildcards(from_star);
  }

  return false;
}

}  // namespace

bool MatchPattern(StringPiece text, StringPiece pattern) {
  return MatchPatternAt(text, pattern, 0);
}

}  // namespace base
