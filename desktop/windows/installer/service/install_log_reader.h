// Reads an installation record file back into an InstallLog, strictly: the first
// problem ends the parse and |error| says what it was. A version subfolder or file name
// that would leave the install folder is skipped and marks the record damaged.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_READER_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

class XmlDocument;

class InstallLogReader {
 public:
  InstallLogReader();
  ~InstallLogReader();
  InstallLogReader(const InstallLogReader&) = delete;
  InstallLogReader& operator=(const InstallLogReader&) = delete;

  // Sets |log| to the record read from |path| with the given InstallLogSource, or to
  // null on failure. One reader may parse several files in turn.
  void ParseFile(std::unique_ptr<InstallLog>* log, const base::FilePath& path,
                 uint32_t source);

  // The last problem met; some failures (inside registry keys and values, a shortcut
  // without text, a bad successor of the shortcuts) leave it as it was.
  std::string error;

 private:
  bool ReadRoot(uint32_t source);
  bool ReadPath();
  bool ReadFiles();
  bool ReadRootFiles();
  bool ReadRegistry();
  bool ReadRegistryPath(std::vector<InstallLog::RegistryKey>* keys);
  bool ReadRegistryValue(InstallLog::RegistryKey* key);
  bool ReadShortcuts();
  bool ReadComponents();

  // Reads the "file" children of the cursor element into |files|; the cursor returns to
  // that element. The messages differ between the two lists.
  struct FileListMessages;
  bool ReadFileList(const FileListMessages& messages, std::vector<std::wstring>* files);

  // Whether |name| (a |what| of the record) is a path below the install folder; when
  // not, logs it and marks the record damaged.
  bool IsAcceptedName(const char* what, const std::wstring& name);

  // The cursor element's text as a wide field: trimmed, cut at its first NUL.
  bool GetWideText(std::wstring* text);
  bool Fail(const char* message);

  std::unique_ptr<XmlDocument> document_;
  std::unique_ptr<InstallLog> log_;  // the record being read
  bool subfolder_refused_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_READER_H_
