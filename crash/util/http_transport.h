// One HTTP request whose body comes from an HttpBodyStream.
//
//   std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
//   transport->SetUrl("https://crash.example/submit");
//   transport->SetHeader("Content-Type", ...);
//   transport->SetBodyStream(builder.GetBodyStream());
//   std::string response;
//   if (!transport->Execute(&response)) ...
#ifndef CRASH_UTIL_HTTP_TRANSPORT_H_
#define CRASH_UTIL_HTTP_TRANSPORT_H_

#include <map>
#include <memory>
#include <string>

#include "crash/util/http_body_stream.h"

namespace crash_reporter {

class HttpTransport {
 public:
  typedef std::map<std::string, std::string> Headers;

  // The WinHTTP implementation.
  static std::unique_ptr<HttpTransport> Create();

  virtual ~HttpTransport();
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  // True only for a 200 answer; |response| (may be null) gets its body.
  [[nodiscard]] virtual bool Execute(std::string* response) = 0;

  void SetMethod(const std::string& method) { method_ = method; }
  void SetUrl(const std::string& url) { url_ = url; }
  // Inserts or replaces. A "Content-Length" holding a number sizes the request; without
  // one the body is sent chunked.
  void SetHeader(const std::string& name, const std::string& value) { headers_[name] = value; }
  void SetBodyStream(std::unique_ptr<HttpBodyStream> body_stream);
  void SetTimeout(double timeout_seconds) { timeout_ = timeout_seconds; }

 protected:
  HttpTransport();

  const std::string& url() const { return url_; }
  const std::string& method() const { return method_; }
  const Headers& headers() const { return headers_; }
  HttpBodyStream* body_stream() const { return body_stream_.get(); }
  double timeout() const { return timeout_; }

 private:
  std::string url_;
  std::string method_ = "POST";
  Headers headers_;
  std::unique_ptr<HttpBodyStream> body_stream_;
  double timeout_ = 15.0;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_HTTP_TRANSPORT_H_
