#include "base/strings/string_piece.h"

#include <ostream>

namespace base {

std::ostream& operator<<(std::ostream& out, StringPiece piece) {
  out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  return out;
}

}  // namespace base
