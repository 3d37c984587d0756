#include "base/metrics/bucket_ranges.h"

#include <array>

namespace base {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

BucketRanges::BucketRanges(size_t num_ranges) : ranges_(num_ranges, 0) {}

uint32_t BucketRanges::CalculateChecksum() const {
  if (ranges_.empty()) return 0;
  uint32_t sum = static_cast<uint32_t>(ranges_.size());
  for (HistogramBase::Sample range : ranges_) {
    uint32_t value = static_cast<uint32_t>(range);
    for (int byte = 0; byte < 4; ++byte) {
      sum = kCrcTable[(sum & 0xFF) ^ ((value >> (8 * byte)) & 0xFF)] ^ (sum >> 8);
    }
  }
  return sum;
}

bool BucketRanges::Equals(const BucketRanges* other) const {
  return checksum_ == other->checksum_ && ranges_ == other->ranges_;
}

}  // namespace base
