#include "base/strings/string_util.h"

#include <algorithm>
#include <utility>

namespace base {

const char kWhitespaceASCII[] = "\t\n\v\f\r ";
const wchar_t kWhitespaceWide[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0};

namespace {

template <typename CharT>
CharT ToLowerAsciiChar(CharT c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<CharT>(c + ('a' - 'A')) : c;
}

template <typename CharT>
CharT ToUpperAsciiChar(CharT c) {
  return (c >= 'a' && c <= 'z') ? static_cast<CharT>(c - ('a' - 'A')) : c;
}

template <typename CharT>
bool EqualsWithCase(BasicStringPiece<CharT> a, BasicStringPiece<CharT> b,
                    CompareCase compare_case) {
  if (compare_case == SENSITIVE) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAsciiChar(a[i]) != ToLowerAsciiChar(b[i])) return false;
  }
  return true;
}

template <typename CharT>
bool StartsWithT(BasicStringPiece<CharT> text, BasicStringPiece<CharT> prefix,
                 CompareCase compare_case) {
  if (compare_case != SENSITIVE && compare_case != INSENSITIVE_ASCII) return false;
  if (prefix.size() > text.size()) return false;
  return EqualsWithCase(text.substr(0, prefix.size()), prefix, compare_case);
}

template <typename CharT>
bool EndsWithT(BasicStringPiece<CharT> text, BasicStringPiece<CharT> suffix,
               CompareCase compare_case) {
  if (compare_case != SENSITIVE && compare_case != INSENSITIVE_ASCII) return false;
  if (suffix.size() > text.size()) return false;
  return EqualsWithCase(text.substr(text.size() - suffix.size()), suffix, compare_case);
}

template <typename StringT, typename PieceT>
StringT JoinStringT(const std::vector<PieceT>& parts,
                    BasicStringPiece<typename StringT::value_type> separator) {
  StringT result;
  if (parts.empty()) return result;
  size_t length = separator.size() * (parts.size() - 1);
  for (const PieceT& part : parts) length += part.size();
  result.reserve(length);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) result.append(separator.data(), separator.size());
    result.append(parts[i].data(), parts[i].size());
  }
  return result;
}

template <typename StringT>
StringT ReplaceStringPlaceholdersT(BasicStringPiece<typename StringT::value_type> format,
                                   const std::vector<StringT>& substitutions,
                                   std::vector<size_t>* offsets) {
  size_t length = format.size();
  for (const StringT& substitution : substitutions) length += substitution.size();
  StringT result;
  result.reserve(length);

  // (parameter index, output position), sorted by index; a later placeholder of the
  // same index goes before the earlier ones.
  std::vector<std::pair<size_t, size_t>> records;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '$') {
      result.push_back(format[i]);
      continue;
    }
    if (i + 1 == format.size()) break;
    if (format[i + 1] == '$') {
      while (i + 1 < format.size() && format[i + 1] == '$') {
        result.push_back('$');
        ++i;
      }
      continue;
    }
    typename StringT::value_type next = format[++i];
    if (next < '1' || next > '9') continue;
    size_t index = static_cast<size_t>(next - '1');
    if (offsets) {
      auto position = std::lower_bound(
          records.begin(), records.end(), index,
          [](const std::pair<size_t, size_t>& record, size_t value) {
            return record.first < value;
          });
      records.insert(position, std::make_pair(index, result.size()));
    }
    if (index < substitutions.size()) result.append(substitutions[index]);
  }
  if (offsets) {
    for (const auto& record : records) offsets->push_back(record.second);
  }
  return result;
}

// Narrow bytes are compared with the wide table as signed values, so only its six
// ASCII entries can ever match.
bool IsCollapsibleWhitespace(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

}  // namespace

std::string ToLowerASCII(StringPiece text) {
  std::string result(text.data(), text.size());
  for (char& c : result) c = ToLowerAsciiChar(c);
  return result;
}

std::string ToUpperASCII(StringPiece text) {
  std::string result(text.data(), text.size());
  for (char& c : result) c = ToUpperAsciiChar(c);
  return result;
}

bool EqualsCaseInsensitiveASCII(StringPiece a, StringPiece b) {
  return a.size() == b.size() && EqualsWithCase(a, b, INSENSITIVE_ASCII);
}

bool LowerCaseEqualsASCII(StringPiece16 text, StringPiece ascii) {
  if (text.size() != ascii.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(ascii[i]);
    if (byte >= 0x80 || ToLowerAsciiChar(text[i]) != static_cast<wchar_t>(byte)) return false;
  }
  return true;
}

bool StartsWith(StringPiece16 text, StringPiece16 prefix, CompareCase compare_case) {
  return StartsWithT(text, prefix, compare_case);
}

bool EndsWith(StringPiece16 text, StringPiece16 suffix, CompareCase compare_case) {
  return EndsWithT(text, suffix, compare_case);
}

bool StartsWith(StringPiece text, StringPiece prefix, CompareCase compare_case) {
  return StartsWithT(text, prefix, compare_case);
}

bool EndsWith(StringPiece text, StringPiece suffix, CompareCase compare_case) {
  return EndsWithT(text, suffix, compare_case);
}

TrimPositions TrimString(const std::wstring& input, StringPiece16 trim_chars,
                         std::wstring* output) {
  if (input.empty()) {
    output->clear();
    return TRIM_NONE;
  }
  StringPiece16 text(input);
  size_t first = text.find_first_not_of(trim_chars);
  if (first == StringPiece16::npos) {
    output->clear();
    return TRIM_ALL;
  }
  size_t last = text.find_last_not_of(trim_chars);
  int result = (first != 0 ? TRIM_LEADING : 0) |
               (last != input.size() - 1 ? TRIM_TRAILING : 0);
  // Through a copy, because the output may be the input.
  std::wstring trimmed(input, first, last - first + 1);
  output->swap(trimmed);
  return static_cast<TrimPositions>(result);
}

std::string CollapseWhitespace(const std::string& text) {
  std::string result(text.size(), '\0');
  size_t out = 0;
  bool in_whitespace = true;
  bool already_trimmed = true;
  for (char c : text) {
    if (!IsCollapsibleWhitespace(c)) {
      result[out++] = c;
      in_whitespace = false;
      already_trimmed = false;
      continue;
    }
    if (!in_whitespace) {
      result[out++] = ' ';
      in_whitespace = true;
    }
    if ((c == '\n' || c == '\r') && !already_trimmed) {
      --out;  // a run with a line break vanishes
      already_trimmed = true;
    }
  }
  if (in_whitespace && out > 0 && result[out - 1] == ' ') --out;
  result.resize(out);
  return result;
}

bool ReplaceChars(const std::string& input, StringPiece replace_chars,
                  StringPiece replace_with, std::string* output) {
  if (output != &input) *output = input;
  bool replaced = false;
  size_t position = StringPiece(*output).find_first_of(replace_chars);
  while (position != std::string::npos) {
    output->replace(position, 1, replace_with.data(), replace_with.size());
    replaced = true;
    position = StringPiece(*output).find_first_of(replace_chars, position + replace_with.size());
  }
  return replaced;
}

void ReplaceSubstringsAfterOffset(std::string* text, size_t start_offset,
                                  StringPiece find_this, StringPiece replace_with,
                                  bool replace_all) {
  if (find_this.empty()) return;
  StringPiece view(*text);
  size_t first = view.find(find_this, start_offset);
  if (first == StringPiece::npos) return;
  if (!replace_all) {
    text->replace(first, find_this.size(), replace_with.data(), replace_with.size());
    return;
  }
  if (find_this.size() == replace_with.size()) {
    for (size_t at = first; at != StringPiece::npos;
         at = StringPiece(*text).find(find_this, at + find_this.size())) {
      std::copy(replace_with.begin(), replace_with.end(), text->begin() + at);
    }
    return;
  }
  // Matches are found in the original text, each search resuming after the previous
  // match, then the result is built once.
  std::vector<size_t> matches;
  for (size_t at = first; at != StringPiece::npos;
       at = view.find(find_this, at + find_this.size())) {
    matches.push_back(at);
  }
  std::string result;
  result.reserve(text->size() + matches.size() * replace_with.size() -
                 matches.size() * find_this.size());
  size_t copied = 0;
  for (size_t at : matches) {
    result.append(*text, copied, at - copied);
    result.append(replace_with.data(), replace_with.size());
    copied = at + find_this.size();
  }
  result.append(*text, copied, std::string::npos);
  text->swap(result);
}

std::string JoinString(const std::vector<std::string>& parts, StringPiece separator) {
  return JoinStringT<std::string>(parts, separator);
}

std::wstring JoinString(const std::vector<std::wstring>& parts, StringPiece16 separator) {
  return JoinStringT<std::wstring>(parts, separator);
}

std::string JoinString(const std::vector<StringPiece>& parts, StringPiece separator) {
  return JoinStringT<std::string>(parts, separator);
}

std::wstring ReplaceStringPlaceholders(const std::wstring& format,
                                       const std::vector<std::wstring>& substitutions,
                                       std::vector<size_t>* offsets) {
  return ReplaceStringPlaceholdersT<std::wstring>(format, substitutions, offsets);
}

std::string ReplaceStringPlaceholders(StringPiece format,
                                      const std::vector<std::string>& substitutions,
                                      std::vector<size_t>* offsets) {
  return ReplaceStringPlaceholdersT<std::string>(format, substitutions, offsets);
}

bool IsValidCharacter(uint32_t code_point) {
  return code_point < 0xD800u ||
         (code_point >= 0xE000u && code_point < 0xFDD0u) ||
         (code_point > 0xFDEFu && code_point <= 0x10FFFFu && (code_point & 0xFFFEu) != 0xFFFEu);
}

wchar_t* WriteInto(std::wstring* text, size_t length_with_null) {
  if (length_with_null == 0) length_with_null = 1;  // never a negative size
  text->reserve(length_with_null);
  text->resize(length_with_null - 1);
  return &(*text)[0];
}

}  // namespace base
