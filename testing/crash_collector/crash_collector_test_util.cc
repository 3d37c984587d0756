#include "testing/crash_collector/crash_collector_test_util.h"

#include <memory>

#include "base/base64.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"

namespace installer {
namespace testing {

namespace {

std::string Decoded(const base::Dictionary& entry, const char* key) {
  std::string encoded, decoded;
  if (entry.GetString(key, &encoded) && base::Base64Decode(encoded, &decoded)) return decoded;
  return std::string();
}

std::wstring RequestFileName(int number) {
  return L"request-" + std::to_wstring(number) + L".json";
}

}  // namespace

std::string CollectedRequest::Header(const std::string& name) const {
  return FindHeader(headers, name);
}

CrashCollector::CrashCollector() : server_("VELUM_CRASH_COLLECTOR", VELUM_CRASH_COLLECTOR_SCRIPT) {}

CrashCollector::~CrashCollector() = default;

bool CrashCollector::Start(bool strict) {
  std::unique_ptr<base::Dictionary> facts;
  int port = 0;
  if (!server_.Start(&facts, strict ? " --strict" : "") || !facts->GetInteger("port", &port)) return false;
  port_ = static_cast<uint16_t>(port);
  return true;
}

bool CrashCollector::Stop() { return server_.Stop(); }

std::string CrashCollector::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool CrashCollector::HasRequest(int number) const {
  return base::PathExists(server_.StatePath(RequestFileName(number).c_str()));
}

bool CrashCollector::HasArrived(int number) const {
  return base::PathExists(server_.StatePath((L"arrived-" + std::to_wstring(number)).c_str()));
}

bool CrashCollector::WaitForRequest(int number, CollectedRequest* request) const {
  const base::FilePath path = server_.StatePath(RequestFileName(number).c_str());
  std::string text;
  if (!base::WaitForPathExistence(path, true, 30000) || !base::ReadFileToString(path, &text))
    return false;
  std::unique_ptr<base::Dictionary> entry = base::Dictionary::From(base::JsonReader::Read(text));
  if (!entry) return false;
  *request = CollectedRequest();
  // The collector writes only the members a request had: a missing one stays empty.
  (void)entry->GetString("method", &request->method);
  (void)entry->GetString("path", &request->path);
  (void)entry->GetString("error", &request->error);
  request->body = Decoded(*entry, "body_b64");
  request->content = Decoded(*entry, "content_b64");
  const base::Value* headers_value = nullptr;
  const base::Dictionary* headers = nullptr;
  if (entry->Get("headers", &headers_value) && headers_value->GetAsDictionary(&headers)) {
    for (base::Dictionary::Iterator it(*headers); !it.IsAtEnd(); it.Advance())
      (void)it.value().GetAsString(&request->headers[it.key()]);  // every header is a string
  }
  const base::List* chunks = nullptr;
  if (entry->GetList("chunks", &chunks)) {
    for (size_t i = 0; i < chunks->size(); ++i) {
      int size = -1;
      const base::Value* value = nullptr;
      if (chunks->Get(i, &value)) (void)value->GetAsInteger(&size);  // not a number: -1
      request->chunks.push_back(size);
    }
  }
  const base::List* parts = nullptr;
  if (entry->GetList("parts", &parts)) {
    for (size_t i = 0; i < parts->size(); ++i) {
      const base::Dictionary* part = nullptr;
      if (!parts->GetDictionary(i, &part)) continue;
      CollectedPart collected;
      (void)part->GetString("name", &collected.name);  // missing members stay empty
      (void)part->GetString("filename", &collected.file_name);
      (void)part->GetString("content_type", &collected.content_type);
      collected.data = Decoded(*part, "data_b64");
      request->parts.push_back(std::move(collected));
    }
  }
  return true;
}

}  // namespace testing
}  // namespace installer
