// Gzip-compresses another body stream on the fly: one 4096-byte input buffer and the
// caller's output buffer are all it holds.
#ifndef CRASH_UTIL_GZIP_BODY_STREAM_H_
#define CRASH_UTIL_GZIP_BODY_STREAM_H_

#include <memory>

#include <zlib.h>

#include "crash/util/http_body_stream.h"

namespace crash_reporter {

class GzipBodyStream : public HttpBodyStream {
 public:
  explicit GzipBodyStream(std::unique_ptr<HttpBodyStream> source);
  ~GzipBodyStream() override;
  GzipBodyStream(const GzipBodyStream&) = delete;
  GzipBodyStream& operator=(const GzipBodyStream&) = delete;

  // -1 on every call after an error of the source or of zlib.
  int64_t GetBytes(uint8_t* buffer, size_t max_length) override;

 private:
  enum State {
    kNotStarted = 0,
    kOperating = 1,
    kInputFinished = 2,
    kFinished = 3,
    kError = 4,
  };

  static constexpr size_t kInputSize = 4096;

  int64_t Fail();

  std::unique_ptr<HttpBodyStream> source_;
  uint8_t input_[kInputSize];
  z_stream zlib_ = {};
  State state_ = kNotStarted;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_GZIP_BODY_STREAM_H_
