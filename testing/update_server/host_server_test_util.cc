#include "testing/update_server/host_server_test_util.h"

#include <stdlib.h>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/strings/string_util.h"

namespace installer {
namespace testing {

namespace {

// The build gives both; the environment may override them.
std::string Setting(const char* variable, const std::string& built_in) {
  const char* value = getenv(variable);
  return value && *value ? value : built_in;
}

}  // namespace

std::string FindHeader(const std::map<std::string, std::string>& headers,
                       const std::string& name) {
  for (const auto& header : headers) {
    if (base::EqualsCaseInsensitiveASCII(header.first, name)) return header.second;
  }
  return std::string();
}

HostServer::HostServer(const char* script_variable, const char* built_in_script)
    : script_variable_(script_variable), built_in_script_(built_in_script) {}

HostServer::~HostServer() {
  if (running_) Stop();
}

base::FilePath HostServer::StatePath(const wchar_t* name) const {
  return state_dir_.path().Append(name);
}

bool HostServer::Start(std::unique_ptr<base::Dictionary>* facts, const std::string& arguments) {
  if (state_dir_.path().empty()) {
    error_ = "no scratch folder";
    return false;
  }
  std::string state = base::UnixPath(state_dir_.path());
  if (state.empty()) state = state_dir_.path().AsUTF8();
  const std::string command = "\"" + Setting("VELUM_PYTHON3", VELUM_PYTHON3_PATH) + "\" \"" +
                              Setting(script_variable_.c_str(), built_in_script_) +
                              "\" --state-dir \"" + state + "\"" + arguments;
  const base::FilePath ready = StatePath(L"server.json");
  if (!base::StartHostCommand(command)) {
    error_ = "cannot start: " + command;
    return false;
  }
  running_ = true;
  std::string text;
  if (!base::WaitForPathExistence(ready, true, 30000) || !base::ReadFileToString(ready, &text)) {
    error_ = "the server did not come up: " + command;
    return false;
  }
  *facts = base::Dictionary::From(base::JsonReader::Read(text));
  if (!*facts) {
    error_ = "unreadable server.json: " + text;
    return false;
  }
  return true;
}

bool HostServer::Stop() {
  if (!running_) return true;
  running_ = false;
  return base::WriteTextFile(StatePath(L"stop"), std::string()) &&
         base::WaitForPathExistence(StatePath(L"stopped"), true, 10000);
}

}  // namespace testing
}  // namespace installer
