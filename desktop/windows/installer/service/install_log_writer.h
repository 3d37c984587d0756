// Writes an installation record as its XML file ("installation_status.xml").
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_WRITER_H_

#include <memory>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

class XmlDocument;

class InstallLogWriter {
 public:
  InstallLogWriter();
  // Builds the record in |document|; tests pass one that fails.
  explicit InstallLogWriter(std::unique_ptr<XmlDocument> document);
  ~InstallLogWriter();
  InstallLogWriter(const InstallLogWriter&) = delete;
  InstallLogWriter& operator=(const InstallLogWriter&) = delete;

  // True when the whole text was written. The file is replaced in one step, so a
  // failure or crash midway leaves the previous record intact. A record that could not
  // be built whole (an element or attribute the XML service refused) is not written.
  bool WriteFile(const InstallLog& log, const base::FilePath& path);

 private:
  void WriteRoot(const InstallLog& log);
  void WritePath(const InstallLog& log);
  void WriteFiles(const InstallLog& log);
  void WriteRootFiles(const InstallLog& log);
  void WriteRegistry(const InstallLog& log);
  void WriteRegistryPath(const std::vector<InstallLog::RegistryKey>& keys);
  void WriteRegistryValue(const std::vector<InstallLog::RegistryValue>& values);
  void WriteShortcuts(const InstallLog& log);
  void WriteComponents(const InstallLog& log);
  // An element holding only |text|, ended again.
  void WriteTextElement(const char* name, const std::string& text);

  std::unique_ptr<XmlDocument> document_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_WRITER_H_
