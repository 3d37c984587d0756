// Runs a Python test server of this folder's kind (update_server.py, crash_collector.py)
// from a test under Wine. Wine starts a host program without a process handle to wait
// on, so everything goes through files in a scratch state folder: the script gets
// "--state-dir <its Unix path>", writes server.json once it serves, and ends within a
// fifth of a second of a "stop" file, writing "stopped" last.
#ifndef TESTING_UPDATE_SERVER_HOST_SERVER_TEST_UTIL_H_
#define TESTING_UPDATE_SERVER_HOST_SERVER_TEST_UTIL_H_

#include <map>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/values.h"

namespace installer {
namespace testing {

// The value of the header |name| in |headers|, matched without regard to case; empty
// when absent.
std::string FindHeader(const std::map<std::string, std::string>& headers,
                       const std::string& name);

class HostServer {
 public:
  // The script is |built_in_script| unless the environment variable |script_variable|
  // names another; python3 likewise (VELUM_PYTHON3).
  HostServer(const char* script_variable, const char* built_in_script);
  // Stops the server when it still runs.
  ~HostServer();
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  // Starts the script (with |arguments| appended to its command line) and waits until it
  // serves; |facts| gets its server.json. False, with error() set, otherwise.
  bool Start(std::unique_ptr<base::Dictionary>* facts, const std::string& arguments = "");
  // Asks the server to end and waits until it has; true when it did.
  bool Stop();

  // A file of the state folder (usable before Start).
  base::FilePath StatePath(const wchar_t* name) const;
  const std::string& error() const { return error_; }

 private:
  const std::string script_variable_;
  const std::string built_in_script_;
  base::ScratchDir state_dir_;
  std::string error_;
  bool running_ = false;
};

}  // namespace testing
}  // namespace installer

#endif  // TESTING_UPDATE_SERVER_HOST_SERVER_TEST_UTIL_H_
