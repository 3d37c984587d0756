// Dotted version numbers ("1.0.100.0"), parsed from text and compared component by
// component; trailing zero components do not count (1.2 equals 1.2.0.0).
#ifndef BASE_VERSION_H_
#define BASE_VERSION_H_

#include <stdint.h>

#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class Version {
 public:
  // Invalid when |text| does not parse.
  explicit Version(StringPiece text);

  bool IsValid() const { return !components_.empty(); }
  const std::vector<uint32_t>& components() const { return components_; }

  // -1, 0 or 1.
  int CompareTo(const Version& other) const;

  // Decimal components separated by single dots; leading zeros are refused in the first
  // component only. On failure |components| holds those parsed before the bad one.
  [[nodiscard]] static bool Parse(StringPiece text, std::vector<uint32_t>* components);
  static int CompareComponents(const std::vector<uint32_t>& left,
                               const std::vector<uint32_t>& right);

 private:
  std::vector<uint32_t> components_;
};

}  // namespace base

#endif  // BASE_VERSION_H_
