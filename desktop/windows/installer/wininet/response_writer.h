// Where a downloaded body goes: the base writer discards it, FileResponseWriter writes a
// file, StringResponseWriter fills a caller's string. The downloader owns its writer and
// calls it from one thread at a time.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_

#include <windows.h>
#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/win/scoped_handle.h"

namespace installer {

class ResponseWriter {
 public:
  ResponseWriter() = default;
  ResponseWriter(const ResponseWriter&) = delete;
  ResponseWriter& operator=(const ResponseWriter&) = delete;
  virtual ~ResponseWriter() = default;

  // Stores every byte, or fails with the Win32 error.
  virtual base::Result<> Write(const char* data, uint32_t size);
  virtual void Close();
  // Drops everything written so far, for a server that answered a resume with the whole
  // body, or fails with the Win32 error.
  virtual base::Result<> Rewind();
};

class FileResponseWriter : public ResponseWriter {
 public:
  FileResponseWriter() = default;
  ~FileResponseWriter() override;

  // Creates or truncates |path| for writing; false (logged) when it cannot.
  [[nodiscard]] bool Open(const base::FilePath& path);

  base::Result<> Write(const char* data, uint32_t size) override;
  void Close() override;
  base::Result<> Rewind() override;

 private:
  base::ScopedHandle file_;
};

class StringResponseWriter : public ResponseWriter {
 public:
  // |output| is emptied now and receives the body; it outlives the writer.
  explicit StringResponseWriter(std::string* output);

  base::Result<> Write(const char* data, uint32_t size) override;
  base::Result<> Rewind() override;

 private:
  std::string* const output_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_RESPONSE_WRITER_H_
