#include "base/hash/hash.h"

namespace base {

namespace {

inline uint32_t Get16Bits(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

// The algorithm reads the odd tail bytes as signed char; values depend on that.
inline uint32_t SignExtended(uint8_t byte) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

}  // namespace

uint32_t HashBytes(const void* data, int32_t length) {
  if (!data || length < 1) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t hash = static_cast<uint32_t>(length);
  const int32_t remainder = length & 3;

  for (int32_t pairs = length >> 2; pairs > 0; --pairs, p += 4) {
    hash += Get16Bits(p);
    uint32_t temp = (Get16Bits(p + 2) << 11) ^ hash;
    hash = (hash << 16) ^ temp;
    hash += hash >> 11;
  }

  switch (remainder) {
    case 3:
      hash += Get16Bits(p);
      hash ^= hash << 16;
      hash ^= SignExtended(p[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Get16Bits(p);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += SignExtended(p[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
  }

  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

}  // namespace base
