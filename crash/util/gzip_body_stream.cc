#include "crash/util/gzip_body_stream.h"

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/strings/stringprintf.h"

namespace crash_reporter {

namespace {

std::string ZlibErrorText(int code) { return base::StringPrintf("%s (%d)", zError(code), code); }

}  // namespace

GzipBodyStream::GzipBodyStream(std::unique_ptr<HttpBodyStream> source)
    : source_(std::move(source)) {}

GzipBodyStream::~GzipBodyStream() {
  if (state_ == kOperating || state_ == kInputFinished) deflateEnd(&zlib_);
}

int64_t GzipBodyStream::Fail() {
  if (state_ == kOperating || state_ == kInputFinished) deflateEnd(&zlib_);
  state_ = kError;
  return -1;
}

int64_t GzipBodyStream::GetBytes(uint8_t* buffer, size_t max_length) {
  if (state_ == kError) return -1;
  if (state_ == kFinished) return 0;
  if (state_ == kNotStarted) {
    // Window bits 15 + 16: a gzip wrapper around the deflate data.
    const int result = deflateInit2_(&zlib_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                                     Z_DEFAULT_STRATEGY, "1.2.11",
                                     static_cast<int>(sizeof(zlib_)));
    if (result != Z_OK) {
      LOG(ERROR) << "deflateInit2: " << ZlibErrorText(result);
      state_ = kError;
      return -1;
    }
    state_ = kOperating;
  }
  zlib_.next_out = buffer;
  zlib_.avail_out = static_cast<uInt>(std::min<size_t>(max_length, 4294967295u));
  while (zlib_.avail_out > 0) {
    if (state_ != kInputFinished && zlib_.avail_in == 0) {
      const int64_t read = source_->GetBytes(input_, kInputSize);
      if (read < 0) return Fail();
      if (read == 0) {
        state_ = kInputFinished;
      } else {
        zlib_.next_in = input_;
        zlib_.avail_in = static_cast<uInt>(read);
      }
    }
    const int result = deflate(&zlib_, state_ == kInputFinished ? Z_FINISH : Z_NO_FLUSH);
    if (state_ == kInputFinished && result == Z_STREAM_END) {
      const int end = deflateEnd(&zlib_);
      if (end != Z_OK) {
        LOG(ERROR) << "deflateEnd: " << ZlibErrorText(end);
        state_ = kError;
        return -1;
      }
      state_ = kFinished;
      break;
    }
    if (result != Z_OK) {
      LOG(ERROR) << "deflate: " << ZlibErrorText(result);
      return Fail();
    }
  }
  return static_cast<int64_t>(zlib_.next_out - buffer);
}

}  // namespace crash_reporter
