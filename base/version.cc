#include "base/version.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace base {

Version::Version(StringPiece text) {
  if (!Parse(text, &components_)) components_.clear();
}

int Version::CompareTo(const Version& other) const {
  return CompareComponents(components_, other.components_);
}

bool Version::Parse(StringPiece text, std::vector<uint32_t>* components) {
  const std::vector<StringPiece> pieces =
      SplitStringPiece(text, '.', KEEP_WHITESPACE, SPLIT_WANT_ALL);
  if (pieces.empty()) return false;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const StringPiece piece = pieces[i];
    // The number parser accepts a sign; a version component never has one.
    if (piece.empty() || piece[0] == '+') return false;
    uint32_t number = 0;
    if (!StringToUint(piece, &number)) return false;
    // "01.2" is refused, "1.02" is 1.2.
    if (i == 0 && std::to_string(number) != piece.as_string()) return false;
    components->push_back(number);
  }
  return true;
}

int Version::CompareComponents(const std::vector<uint32_t>& left,
                               const std::vector<uint32_t>& right) {
  const size_t common = left.size() < right.size() ? left.size() : right.size();
  for (size_t i = 0; i < common; ++i) {
    if (left[i] > right[i]) return 1;
    if (left[i] < right[i]) return -1;
  }
  for (size_t i = common; i < left.size(); ++i)
    if (left[i] != 0) return 1;
  for (size_t i = common; i < right.size(); ++i)
    if (right[i] != 0) return -1;
  return 0;
}

}  // namespace base
