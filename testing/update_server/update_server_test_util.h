// The local update server of the tests (testing/update_server/update_server.py) seen
// from a test: starts it on 127.0.0.1 and ::1 with an ephemeral port, configures what it
// serves and which faults it injects per path, reads back the requests it recorded, and
// stops it. Everything travels through files in a scratch folder, because Wine starts the
// host's python3 without a process handle to wait on.
//
//   UpdateServer server;
//   ASSERT_TRUE(server.Start());
//   server.ServeFile("/package.exe", contents);
//   server.AddFaults("/package.exe", R"([{"status": 502, "times": 3}])");
//   ... download server.Url("/package.exe") ...
//   EXPECT_EQ(4u, server.RequestsTo("/package.exe").size());
#ifndef TESTING_UPDATE_SERVER_UPDATE_SERVER_TEST_UTIL_H_
#define TESTING_UPDATE_SERVER_UPDATE_SERVER_TEST_UTIL_H_

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/values.h"
#include "testing/update_server/host_server_test_util.h"

namespace installer {
namespace testing {

struct RecordedRequest {
  std::string method;
  std::string path;
  // The request line's target as it came: |path|, or the whole address through a proxy.
  std::string target;
  std::string body;
  // "server" or "server6" (the ::1 listener), "proxy" or "proxy6".
  std::string listener;
  std::map<std::string, std::string> headers;
  // When the server received it, in microseconds from the server's start.
  int received_us = -1;

  // The value of a header, matched without regard to case; empty when absent.
  std::string Header(const std::string& name) const;
};

class UpdateServer {
 public:
  UpdateServer();
  // Stops the server when it still runs.
  ~UpdateServer();
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Starts the server and waits until it listens; false, with error() set, otherwise.
  bool Start();
  // Asks the server to end and waits until it has; true when it did.
  bool Stop();

  const std::string& error() const { return error_; }
  uint16_t port() const { return port_; }
  uint16_t proxy_port() const { return proxy_port_; }
  // Whether the server also listens on ::1.
  bool ipv6() const { return ipv6_; }

  // "http://127.0.0.1:port" + path, or "http://[::1]:port" + path.
  std::wstring Url(const std::string& path) const;
  std::wstring Url6(const std::string& path) const;
  std::wstring ProxyAddress() const;

  // Serves |contents| at |path| with Range support.
  bool ServeFile(const std::string& path, const std::string& contents);
  // Answers |path| with |status| and |body|.
  bool ServeText(const std::string& path, int status, const std::string& body);
  // The faults of |path|, a JSON list (see update_server.py); replaces earlier ones.
  bool AddFaults(const std::string& path, const std::string& faults_json);
  // Lets the answers held by faults {"hold_until": |name|} go on.
  bool Release(const std::string& name);
  // The download-address reply, a JSON object; "{base}" becomes the server's address.
  bool SetDownloadAddress(const std::string& reply_json);
  // "user:password" that the 407 proxy accepts.
  bool SetProxyCredentials(const std::string& credentials);

  // Every request received so far, in order of arrival.
  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> RequestsTo(const std::string& path) const;

 private:
  bool WriteConfig();
  base::FilePath StatePath(const wchar_t* name) const;

  HostServer server_;
  std::unique_ptr<base::Dictionary> config_;
  std::string error_;
  uint16_t port_ = 0;
  uint16_t proxy_port_ = 0;
  bool ipv6_ = false;
  int body_files_ = 0;
};

}  // namespace testing
}  // namespace installer

#endif  // TESTING_UPDATE_SERVER_UPDATE_SERVER_TEST_UTIL_H_
