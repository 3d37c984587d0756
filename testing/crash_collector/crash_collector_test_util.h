// The local crash collector of the tests (testing/crash_collector/crash_collector.py)
// seen from a test: started on 127.0.0.1 with an ephemeral port, it records each request
// with its body de-chunked, gunzipped and split into its form parts.
//
//   CrashCollector collector;
//   ASSERT_TRUE(collector.Start());
//   ... POST to collector.Url("/submit") ...
//   CollectedRequest request;
//   ASSERT_TRUE(collector.WaitForRequest(1, &request));
#ifndef TESTING_CRASH_COLLECTOR_CRASH_COLLECTOR_TEST_UTIL_H_
#define TESTING_CRASH_COLLECTOR_CRASH_COLLECTOR_TEST_UTIL_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "testing/update_server/host_server_test_util.h"

namespace installer {
namespace testing {

struct CollectedPart {
  std::string name;
  std::string file_name;
  std::string content_type;
  std::string data;
};

struct CollectedRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> headers;
  // The chunk sizes of a chunked body, the closing 0 included; empty otherwise.
  std::vector<int> chunks;
  std::string body;     // as sent, de-chunked
  std::string content;  // |body| gunzipped when it was gzip-encoded
  std::vector<CollectedPart> parts;
  // Why the body could not be decoded; empty when it could.
  std::string error;

  // The value of a header, matched without regard to case; empty when absent.
  std::string Header(const std::string& name) const;
};

class CrashCollector {
 public:
  CrashCollector();
  ~CrashCollector();
  CrashCollector(const CrashCollector&) = delete;
  CrashCollector& operator=(const CrashCollector&) = delete;

  // |strict|: read a body by its Content-Length whenever one is present, as most servers
  // do, and record a request that also says Transfer-Encoding as an error.
  bool Start(bool strict = false);
  bool Stop();
  const std::string& error() const { return server_.error(); }

  // "http://127.0.0.1:port" + path (UTF-8, as the transport takes it).
  std::string Url(const std::string& path) const;

  // Waits (up to 30 s) until the |number|-th request (from 1) has been recorded.
  bool WaitForRequest(int number, CollectedRequest* request) const;
  // Whether the |number|-th request has been recorded, without waiting.
  bool HasRequest(int number) const;
  // Whether the |number|-th request has arrived, without waiting: once a client has its
  // answer, it has (its record follows once the body has been read).
  bool HasArrived(int number) const;

 private:
  HostServer server_;
  uint16_t port_ = 0;
};

}  // namespace testing
}  // namespace installer

#endif  // TESTING_CRASH_COLLECTOR_CRASH_COLLECTOR_TEST_UTIL_H_
