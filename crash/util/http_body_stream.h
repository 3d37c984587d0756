// Request bodies produced piece by piece, so a crash upload never holds a whole dump in
// memory. Every stream answers GetBytes with the bytes placed (> 0), 0 at its end (and on
// every later call) or -1 on error.
#ifndef CRASH_UTIL_HTTP_BODY_STREAM_H_
#define CRASH_UTIL_HTTP_BODY_STREAM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace crash_reporter {

class HttpBodyStream {
 public:
  virtual ~HttpBodyStream() = default;
  virtual int64_t GetBytes(uint8_t* buffer, size_t max_length) = 0;
};

// Reads |stream| to its end and gives the number of bytes it produced in |size|; false
// when it fails. A sized request measures a deterministic body this way before sending a
// fresh copy of it, so the body is never held whole.
[[nodiscard]] bool MeasureBodyStream(HttpBodyStream* stream, uint64_t* size);

// Serves a byte string.
class StringBodyStream : public HttpBodyStream {
 public:
  explicit StringBodyStream(std::string data);
  int64_t GetBytes(uint8_t* buffer, size_t max_length) override;

 private:
  std::string data_;
  size_t position_ = 0;
};

// Serves its parts one after the other.
class CompositeBodyStream : public HttpBodyStream {
 public:
  explicit CompositeBodyStream(std::vector<std::unique_ptr<HttpBodyStream>> parts);
  ~CompositeBodyStream() override;
  int64_t GetBytes(uint8_t* buffer, size_t max_length) override;

 private:
  std::vector<std::unique_ptr<HttpBodyStream>> parts_;
  size_t current_ = 0;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_HTTP_BODY_STREAM_H_
