// Builds a multipart/form-data request body from form fields and file attachments,
// produced as a stream (the files are read only while the body is sent).
//
//   HttpMultipartBuilder builder;
//   builder.SetFormData("prod", "Velum");
//   builder.SetFileAttachment("upload_file_minidump", "dump", dump_path, "");
//   builder.SetMultipartContentHeaders(&headers);
//   transport->SetBodyStream(builder.GetBodyStream());
#ifndef CRASH_UTIL_HTTP_MULTIPART_BUILDER_H_
#define CRASH_UTIL_HTTP_MULTIPART_BUILDER_H_

#include <map>
#include <memory>
#include <string>

#include "crash/util/http_body_stream.h"

namespace crash_reporter {

// Every LF, CR, double quote and percent sign becomes "%0a", "%0d", "%22", "%25".
std::string EncodeMimeField(const std::string& text);

class HttpMultipartBuilder {
 public:
  typedef std::map<std::string, std::string> Headers;

  HttpMultipartBuilder();
  ~HttpMultipartBuilder();
  HttpMultipartBuilder(const HttpMultipartBuilder&) = delete;
  HttpMultipartBuilder& operator=(const HttpMultipartBuilder&) = delete;

  void SetGzipEnabled(bool gzip_enabled) { gzip_enabled_ = gzip_enabled; }
  // Replaces any field or attachment named |name|.
  void SetFormData(const std::string& name, const std::string& value);
  // Replaces any field or attachment named |name|. |content_type| (empty: binary) may
  // hold only letters, digits and "+-./_".
  void SetFileAttachment(const std::string& name, const std::string& file_name,
                         const std::wstring& path, const std::string& content_type);
  std::unique_ptr<HttpBodyStream> GetBodyStream() const;
  void SetMultipartContentHeaders(Headers* headers) const;

  const std::string& boundary() const { return boundary_; }

 private:
  struct FileAttachment {
    std::string file_name;  // already encoded
    std::string content_type;
    std::wstring path;
  };

  std::string PartHeader(const std::string& name) const;

  std::string boundary_;
  std::map<std::string, std::string> form_data_;
  std::map<std::string, FileAttachment> file_attachments_;
  bool gzip_enabled_ = false;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_HTTP_MULTIPART_BUILDER_H_
