// Splitting text at separators into pieces, with optional trimming and dropping of
// empty pieces, and a splitter for "key=value,key=value" lists.
#ifndef BASE_STRINGS_STRING_SPLIT_H_
#define BASE_STRINGS_STRING_SPLIT_H_

#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

enum WhitespaceHandling {
  KEEP_WHITESPACE = 0,
  TRIM_WHITESPACE = 1,
};

// Any value other than SPLIT_WANT_ALL drops empty pieces (after trimming).
enum SplitResult {
  SPLIT_WANT_ALL = 0,
  SPLIT_WANT_NONEMPTY = 1,
};

// Every character of |separators| separates; an empty set leaves the input whole. An
// empty input gives no pieces.
std::vector<std::string> SplitString(StringPiece input, StringPiece separators,
                                     WhitespaceHandling whitespace, SplitResult result_type);
std::vector<std::wstring> SplitString(StringPiece16 input, StringPiece16 separators,
                                      WhitespaceHandling whitespace, SplitResult result_type);

// At one separator character.
std::vector<std::string> SplitString(StringPiece input, char separator,
                                     WhitespaceHandling whitespace, SplitResult result_type);
std::vector<std::wstring> SplitString(StringPiece16 input, wchar_t separator,
                                      WhitespaceHandling whitespace, SplitResult result_type);

// The pieces point into |input| and live no longer than it.
std::vector<StringPiece> SplitStringPiece(StringPiece input, char separator,
                                          WhitespaceHandling whitespace,
                                          SplitResult result_type);

typedef std::vector<std::pair<std::string, std::string>> StringPairs;

// Pairs separated by "," (pieces trimmed, empty ones dropped), key and value by a run
// of "=". False when a piece has no "=" or nothing after it; such a piece still adds
// its (partly) empty pair.
[[nodiscard]] bool SplitStringIntoKeyValuePairs(StringPiece input, StringPairs* key_value_pairs);

}  // namespace base

#endif  // BASE_STRINGS_STRING_SPLIT_H_
