#include "crash/util/http_transport.h"

#include <utility>

namespace crash_reporter {

HttpTransport::HttpTransport() = default;

HttpTransport::~HttpTransport() = default;

void HttpTransport::SetBodyStream(std::unique_ptr<HttpBodyStream> body_stream) {
  body_stream_ = std::move(body_stream);
}

}  // namespace crash_reporter
