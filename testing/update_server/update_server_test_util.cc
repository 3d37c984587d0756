#include "testing/update_server/update_server_test_util.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace testing {

namespace {

base::Dictionary* Section(base::Dictionary* config, const char* name) {
  base::Value* section = nullptr;
  if (!config->Get(name, &section) || !section->is_dictionary()) {
    config->SetWithoutPathExpansion(name, base::MakeDictionaryValue());
    (void)config->Get(name, &section);  // set just above
  }
  base::Dictionary* dictionary = nullptr;
  (void)section->GetAsDictionary(&dictionary);  // a dictionary, as checked or set above
  return dictionary;
}

// Atomic for the server's readers: it never sees half a file.
bool WriteReplacing(const base::FilePath& path, const std::string& text) {
  base::FilePath temporary(path.value() + L".tmp");
  return base::WriteTextFile(temporary, text) &&
         MoveFileExW(temporary.value().c_str(), path.value().c_str(),
                     MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  return FindHeader(headers, name);
}

UpdateServer::UpdateServer()
    : server_("VELUM_UPDATE_SERVER", VELUM_UPDATE_SERVER_SCRIPT),
      config_(base::MakeDictionaryValue()) {}

UpdateServer::~UpdateServer() = default;

base::FilePath UpdateServer::StatePath(const wchar_t* name) const {
  return server_.StatePath(name);
}

bool UpdateServer::Start() {
  if (!base::CreateDirectory(StatePath(L"files")) || !WriteConfig()) {
    error_ = "cannot prepare the state folder";
    return false;
  }
  std::unique_ptr<base::Dictionary> facts;
  if (!server_.Start(&facts)) {
    error_ = server_.error();
    return false;
  }
  int port = 0;
  int proxy_port = 0;
  bool ipv6 = false;
  if (!facts->GetInteger("port", &port) || !facts->GetInteger("proxy_port", &proxy_port)) {
    error_ = "server.json without ports";
    return false;
  }
  (void)facts->GetBoolean("ipv6", &ipv6);  // absent: IPv4 only
  port_ = static_cast<uint16_t>(port);
  proxy_port_ = static_cast<uint16_t>(proxy_port);
  ipv6_ = ipv6;
  return true;
}

bool UpdateServer::Stop() { return server_.Stop(); }

std::wstring UpdateServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + base::UTF8ToWide(path);
}

std::wstring UpdateServer::Url6(const std::string& path) const {
  return L"http://[::1]:" + std::to_wstring(port_) + base::UTF8ToWide(path);
}

std::wstring UpdateServer::ProxyAddress() const {
  return L"127.0.0.1:" + std::to_wstring(proxy_port_);
}

bool UpdateServer::WriteConfig() {
  std::string text;
  return base::JsonWriter::Write(*config_, &text) &&
         WriteReplacing(StatePath(L"config.json"), text);
}

bool UpdateServer::ServeFile(const std::string& path, const std::string& contents) {
  const std::wstring name = L"body" + std::to_wstring(++body_files_);
  if (!base::WriteTextFile(StatePath(L"files").Append(name), contents)) return false;
  std::unique_ptr<base::Dictionary> route = base::MakeDictionaryValue();
  route->SetString("file", base::WideToUTF8(name));
  Section(config_.get(), "routes")->SetWithoutPathExpansion(path, std::move(route));
  return WriteConfig();
}

bool UpdateServer::ServeText(const std::string& path, int status, const std::string& body) {
  std::unique_ptr<base::Dictionary> route = base::MakeDictionaryValue();
  route->SetInteger("status", status);
  route->SetString("body", body);
  Section(config_.get(), "routes")->SetWithoutPathExpansion(path, std::move(route));
  return WriteConfig();
}

bool UpdateServer::AddFaults(const std::string& path, const std::string& faults_json) {
  std::unique_ptr<base::Value> faults = base::JsonReader::Read(faults_json);
  if (!faults || !faults->is_list()) return false;
  Section(config_.get(), "faults")->SetWithoutPathExpansion(path, std::move(faults));
  return WriteConfig();
}

bool UpdateServer::Release(const std::string& name) {
  const std::wstring file = L"release_" + base::UTF8ToWide(name);
  return base::WriteTextFile(StatePath(file.c_str()), std::string());
}

bool UpdateServer::SetDownloadAddress(const std::string& reply_json) {
  std::unique_ptr<base::Value> reply = base::JsonReader::Read(reply_json);
  if (!reply || !reply->is_dictionary()) return false;
  config_->SetWithoutPathExpansion("download_address", std::move(reply));
  return WriteConfig();
}

bool UpdateServer::SetProxyCredentials(const std::string& credentials) {
  config_->SetString("proxy_credentials", credentials);
  return WriteConfig();
}

std::vector<RecordedRequest> UpdateServer::Requests() const {
  std::vector<RecordedRequest> requests;
  std::string log;
  if (!base::ReadFileToString(StatePath(L"requests.jsonl"), &log)) return requests;
  size_t begin = 0;
  for (size_t end; (end = log.find('\n', begin)) != std::string::npos; begin = end + 1) {
    std::unique_ptr<base::Dictionary> entry =
        base::Dictionary::From(base::JsonReader::Read(log.substr(begin, end - begin)));
    if (!entry) continue;
    RecordedRequest request;
    // The server writes only the members a request had: a missing one stays empty.
    (void)entry->GetString("method", &request.method);
    (void)entry->GetString("path", &request.path);
    (void)entry->GetString("target", &request.target);
    (void)entry->GetString("body", &request.body);
    (void)entry->GetString("listener", &request.listener);
    (void)entry->GetInteger("received_us", &request.received_us);
    const base::Value* headers_value = nullptr;
    const base::Dictionary* headers = nullptr;
    if (entry->Get("headers", &headers_value) && headers_value->GetAsDictionary(&headers)) {
      for (base::Dictionary::Iterator it(*headers); !it.IsAtEnd(); it.Advance()) {
        (void)it.value().GetAsString(&request.headers[it.key()]);  // every header is a string
      }
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::vector<RecordedRequest> UpdateServer::RequestsTo(const std::string& path) const {
  std::vector<RecordedRequest> matching;
  for (RecordedRequest& request : Requests()) {
    if (request.path == path) matching.push_back(std::move(request));
  }
  return matching;
}

}  // namespace testing
}  // namespace installer
