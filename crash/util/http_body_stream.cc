#include "crash/util/http_body_stream.h"

#include <string.h>

#include <algorithm>
#include <utility>

namespace crash_reporter {

namespace {

constexpr size_t kMeasureBufferSize = 32768;

}  // namespace

bool MeasureBodyStream(HttpBodyStream* stream, uint64_t* size) {
  *size = 0;
  std::vector<uint8_t> buffer(kMeasureBufferSize);
  for (;;) {
    const int64_t read = stream->GetBytes(buffer.data(), buffer.size());
    if (read < 0) return false;
    if (read == 0) return true;
    *size += static_cast<uint64_t>(read);
  }
}

StringBodyStream::StringBodyStream(std::string data) : data_(std::move(data)) {}

int64_t StringBodyStream::GetBytes(uint8_t* buffer, size_t max_length) {
  const size_t count = std::min(max_length, data_.size() - position_);
  if (count == 0) return 0;
  memcpy(buffer, data_.data() + position_, count);
  position_ += count;
  return static_cast<int64_t>(count);
}

CompositeBodyStream::CompositeBodyStream(std::vector<std::unique_ptr<HttpBodyStream>> parts)
    : parts_(std::move(parts)) {}

CompositeBodyStream::~CompositeBodyStream() = default;

int64_t CompositeBodyStream::GetBytes(uint8_t* buffer, size_t max_length) {
  size_t placed = 0;
  while (placed < max_length && current_ < parts_.size()) {
    const int64_t result = parts_[current_]->GetBytes(buffer + placed, max_length - placed);
    if (result < 0) return result;
    if (result == 0) {
      ++current_;
      continue;
    }
    placed += static_cast<size_t>(result);
  }
  return static_cast<int64_t>(placed);
}

}  // namespace crash_reporter
