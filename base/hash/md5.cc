#include "base/hash/md5.h"

#include <string.h>

namespace base {

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadLittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLittleEndian32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Per-step shift amounts and sine-derived constants of the four rounds.
const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

void Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLittleEndian32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t rotated = RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
    a = d;
    d = c;
    c = b;
    b = b + rotated;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5Init(Md5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->bit_count[0] = 0;
  context->bit_count[1] = 0;
}

void Md5Update(Md5Context* context, StringPiece data) {
  const uint8_t* input = reinterpret_cast<const uint8_t*>(data.data());
  size_t length = data.size();
  size_t used = (context->bit_count[0] >> 3) & 0x3f;

  uint64_t bits = static_cast<uint64_t>(length) << 3;
  uint32_t old_low = context->bit_count[0];
  context->bit_count[0] += static_cast<uint32_t>(bits);
  if (context->bit_count[0] < old_low) ++context->bit_count[1];
  context->bit_count[1] += static_cast<uint32_t>(bits >> 32);

  if (used) {
    size_t room = 64 - used;
    if (length < room) {
      memcpy(context->buffer + used, input, length);
      return;
    }
    memcpy(context->buffer + used, input, room);
    Transform(context->state, context->buffer);
    input += room;
    length -= room;
  }
  for (; length >= 64; input += 64, length -= 64) Transform(context->state, input);
  if (length) memcpy(context->buffer, input, length);
}

void Md5Final(Md5Digest* digest, Md5Context* context) {
  uint8_t length_bytes[8];
  StoreLittleEndian32(length_bytes, context->bit_count[0]);
  StoreLittleEndian32(length_bytes + 4, context->bit_count[1]);

  size_t used = (context->bit_count[0] >> 3) & 0x3f;
  // 0x80 and zeros up to 56 bytes modulo 64; fewer than 9 free bytes need one more block.
  static const uint8_t kPadding[64] = {0x80};
  size_t pad = used < 56 ? 56 - used : 120 - used;
  Md5Update(context, StringPiece(reinterpret_cast<const char*>(kPadding), pad));
  Md5Update(context, StringPiece(reinterpret_cast<const char*>(length_bytes), 8));

  for (int i = 0; i < 4; ++i) StoreLittleEndian32(digest->a + 4 * i, context->state[i]);
  memset(context, 0, sizeof(*context));
}

}  // namespace base
