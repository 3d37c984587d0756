#include "base/strings/string_split.h"

#include "base/strings/string_util.h"

namespace base {

namespace {

StringPiece WhitespaceFor(char) { return StringPiece(kWhitespaceASCII); }
StringPiece16 WhitespaceFor(wchar_t) { return StringPiece16(kWhitespaceWide); }

// Finds the next separator: one character, or any character of a set.
template <typename CharT>
struct CharSeparator {
  CharT separator;
  size_t Find(BasicStringPiece<CharT> input, size_t position) const {
    return input.find(separator, position);
  }
};

template <typename CharT>
struct SetSeparator {
  BasicStringPiece<CharT> separators;
  size_t Find(BasicStringPiece<CharT> input, size_t position) const {
    return separators.empty() ? BasicStringPiece<CharT>::npos
                              : input.find_first_of(separators, position);
  }
};

template <typename OutputT, typename CharT, typename Separator>
std::vector<OutputT> SplitT(BasicStringPiece<CharT> input, const Separator& separator,
                            WhitespaceHandling whitespace, SplitResult result_type) {
  typedef BasicStringPiece<CharT> Piece;
  std::vector<OutputT> result;
  if (input.empty()) return result;
  size_t start = 0;
  while (start != Piece::npos) {
    size_t end = separator.Find(input, start);
    Piece piece = end == Piece::npos ? input.substr(start) : input.substr(start, end - start);
    start = end == Piece::npos ? Piece::npos : end + 1;
    if (whitespace == TRIM_WHITESPACE) {
      Piece set = WhitespaceFor(CharT());
      size_t first = piece.find_first_not_of(set);
      piece = first == Piece::npos
                  ? Piece()
                  : piece.substr(first, piece.find_last_not_of(set) - first + 1);
    }
    if (result_type != SPLIT_WANT_ALL && piece.empty()) continue;
    result.emplace_back(piece.data(), piece.size());
  }
  return result;
}

template <typename OutputT, typename CharT>
std::vector<OutputT> SplitAtSeparators(BasicStringPiece<CharT> input,
                                       BasicStringPiece<CharT> separators,
                                       WhitespaceHandling whitespace, SplitResult result_type) {
  if (separators.size() == 1)
    return SplitT<OutputT>(input, CharSeparator<CharT>{separators[0]}, whitespace, result_type);
  return SplitT<OutputT>(input, SetSeparator<CharT>{separators}, whitespace, result_type);
}

}  // namespace

std::vector<std::string> SplitString(StringPiece input, StringPiece separators,
                                     WhitespaceHandling whitespace, SplitResult result_type) {
  return SplitAtSeparators<std::string>(input, separators, whitespace, result_type);
}

std::vector<std::wstring> SplitString(StringPiece16 input, StringPiece16 separators,
                                      WhitespaceHandling whitespace, SplitResult result_type) {
  return SplitAtSeparators<std::wstring>(input, separators, whitespace, result_type);
}

std::vector<std::string> SplitString(StringPiece input, char separator,
                                     WhitespaceHandling whitespace, SplitResult result_type) {
  return SplitT<std::string>(input, CharSeparator<char>{separator}, whitespace, result_type);
}

std::vector<std::wstring> SplitString(StringPiece16 input, wchar_t separator,
                                      WhitespaceHandling whitespace, SplitResult result_type) {
  return SplitT<std::wstring>(input, CharSeparator<wchar_t>{separator}, whitespace,
                              result_type);
}

std::vector<StringPiece> SplitStringPiece(StringPiece input, char separator,
                                          WhitespaceHandling whitespace,
                                          SplitResult result_type) {
  return SplitT<StringPiece>(input, CharSeparator<char>{separator}, whitespace, result_type);
}

bool SplitStringIntoKeyValuePairs(StringPiece input, StringPairs* key_value_pairs) {
  key_value_pairs->clear();
  std::vector<StringPiece> pieces =
      SplitStringPiece(input, ',', TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  key_value_pairs->reserve(pieces.size());
  bool success = true;
  for (StringPiece piece : pieces) {
    key_value_pairs->emplace_back();
    size_t equals = piece.find('=');
    if (equals == StringPiece::npos) {
      success = false;
      continue;
    }
    key_value_pairs->back().first.assign(piece.data(), equals);
    size_t value_start = piece.find_first_not_of(StringPiece("="), equals);
    if (value_start == StringPiece::npos) {
      success = false;
      continue;
    }
    key_value_pairs->back().second.assign(piece.data() + value_start,
                                          piece.size() - value_start);
  }
  return success;
}

}  // namespace base
