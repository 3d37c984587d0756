#include "crash/util/http_multipart_builder.h"

#include <utility>
#include <vector>

#include "base/rand_util.h"
#include "base/strings/stringprintf.h"
#include "crash/util/file_body_stream.h"
#include "crash/util/gzip_body_stream.h"

namespace crash_reporter {

namespace {

constexpr char kBoundaryCharacters[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char kCrLf[] = "\r\n";

std::string MakeBoundary() {
  std::string boundary = "---MultipartBoundary-";
  for (int i = 0; i < 32; ++i) boundary += kBoundaryCharacters[base::RandInt(0, 61)];
  boundary += "---";
  return boundary;
}

}  // namespace

std::string EncodeMimeField(const std::string& text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    if (c == '\n' || c == '\r' || c == '"' || c == '%')
      encoded += base::StringPrintf("%%%02x", static_cast<unsigned char>(c));
    else
      encoded += c;
  }
  return encoded;
}

HttpMultipartBuilder::HttpMultipartBuilder() : boundary_(MakeBoundary()) {}

HttpMultipartBuilder::~HttpMultipartBuilder() = default;

void HttpMultipartBuilder::SetFormData(const std::string& name, const std::string& value) {
  file_attachments_.erase(name);
  form_data_[name] = value;
}

void HttpMultipartBuilder::SetFileAttachment(const std::string& name,
                                             const std::string& file_name,
                                             const std::wstring& path,
                                             const std::string& content_type) {
  form_data_.erase(name);
  FileAttachment& attachment = file_attachments_[name];
  attachment.file_name = EncodeMimeField(file_name);
  attachment.content_type = content_type.empty() ? "application/octet-stream" : content_type;
  attachment.path = path;
}

std::string HttpMultipartBuilder::PartHeader(const std::string& name) const {
  return base::StringPrintf("--%s%sContent-Disposition: form-data; name=\"%s\"",
                            boundary_.c_str(), kCrLf, EncodeMimeField(name).c_str());
}

std::unique_ptr<HttpBodyStream> HttpMultipartBuilder::GetBodyStream() const {
  std::vector<std::unique_ptr<HttpBodyStream>> parts;
  for (const auto& field : form_data_) {
    parts.emplace_back(new StringBodyStream(PartHeader(field.first) + "\r\n\r\n" +
                                            field.second + kCrLf));
  }
  for (const auto& attachment : file_attachments_) {
    const FileAttachment& file = attachment.second;
    parts.emplace_back(new StringBodyStream(
        PartHeader(attachment.first) +
        base::StringPrintf("; filename=\"%s\"%s", file.file_name.c_str(), kCrLf) +
        base::StringPrintf("Content-Type: %s%s", file.content_type.c_str(), "\r\n\r\n")));
    parts.emplace_back(new FileBodyStream(file.path));
    parts.emplace_back(new StringBodyStream(kCrLf));
  }
  parts.emplace_back(new StringBodyStream("--" + boundary_ + "--" + kCrLf));
  std::unique_ptr<HttpBodyStream> body(new CompositeBodyStream(std::move(parts)));
  if (gzip_enabled_) body.reset(new GzipBodyStream(std::move(body)));
  return body;
}

void HttpMultipartBuilder::SetMultipartContentHeaders(Headers* headers) const {
  (*headers)["Content-Type"] = "multipart/form-data; boundary=" + boundary_;
  if (gzip_enabled_) (*headers)["Content-Encoding"] = "gzip";
}

}  // namespace crash_reporter
