#include "base/hash/sha1.h"

#include <string.h>

namespace base {

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

class Sha1 {
 public:
  Sha1() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0} {}

  void Update(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) AddByte(data[i]);
    message_bits_ += static_cast<uint64_t>(length) * 8;
  }

  void Final(uint8_t* digest) {
    const uint64_t bits = message_bits_;
    AddByte(0x80);
    while (cursor_ != 56) AddByte(0);
    for (int shift = 56; shift >= 0; shift -= 8) AddByte(static_cast<uint8_t>(bits >> shift));
    for (int i = 0; i < 5; ++i) {
      digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
      digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
      digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
      digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
    }
  }

 private:
  void AddByte(uint8_t byte) {
    block_[cursor_++] = byte;
    if (cursor_ == 64) {
      ProcessBlock();
      cursor_ = 0;
    }
  }

  void ProcessBlock() {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
      w[t] = (static_cast<uint32_t>(block_[4 * t]) << 24) |
             (static_cast<uint32_t>(block_[4 * t + 1]) << 16) |
             (static_cast<uint32_t>(block_[4 * t + 2]) << 8) | block_[4 * t + 3];
    }
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5a827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ed9eba1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8f1bbcdc;
      } else {
        f = b ^ c ^ d;
        k = 0xca62c1d6;
      }
      uint32_t temp = RotateLeft(a, 5) + f + e + w[t] + k;
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = temp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
  }

  uint32_t state_[5];
  uint8_t block_[64] = {};
  size_t cursor_ = 0;
  uint64_t message_bits_ = 0;
};

}  // namespace

void Sha1Digest(const uint8_t* data, size_t length, uint8_t* digest) {
  Sha1 sha1;
  sha1.Update(data, length);
  sha1.Final(digest);
}

}  // namespace base
