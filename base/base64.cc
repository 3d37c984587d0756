#include "base/base64.h"

#include <stdint.h>

namespace base {

namespace {

// The 6-bit value of an alphabet character, or -1.
int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool Base64Decode(StringPiece input, std::string* output) {
  if (input.empty()) {
    output->clear();
    return true;
  }
  if (input.size() < 4 || input.size() % 4 != 0) return false;

  std::string decoded;
  decoded.reserve(3 * (input.size() / 4) + 2);
  // At most two padding characters; any "=" left after that fails as a non-alphabet one.
  if (input.back() == '=') {
    input.remove_suffix(1);
    if (input.back() == '=') input.remove_suffix(1);
  }

  uint32_t bits = 0;
  int bit_count = 0;
  for (char c : input) {
    const int value = DecodeChar(c);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      decoded.push_back(static_cast<char>((bits >> bit_count) & 0xFF));
    }
  }
  // Leftover low bits of the last character carry no output and are ignored.
  output->swap(decoded);
  return true;
}

}  // namespace base
