#include "desktop/windows/installer/service/status_file_loader.h"

#include <windows.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/install_log_reader.h"

namespace installer {

namespace {

const wchar_t kLegacyLogFileName[] = L"velum_install_log.xml";

class StatusFileLoaderImpl : public StatusFileLoader {
 public:
  std::unique_ptr<InstallLog> Load(const base::FilePath& install_folder,
                                   int32_t recovery_mode, std::string* log_text,
                                   std::string* content) override {
    std::string error;
    std::unique_ptr<InstallLog> log =
        LoadInstallLog(install_folder, SOURCE_STATUS_FILE, &error);
    if (log) return log;
    if (recovery_mode == 1) {
      log = LoadInstallLog(install_folder, SOURCE_OLD_STATUS, nullptr);
      if (log) return log;
    }

    const base::FilePath status_file = install_folder.Append(kStatusFileName);
    if (base::PathExists(status_file)) {
      // A broken current record must not be replaced by an older generation's.
      *log_text = "Velum browser status file, " + error;
      if (!base::ReadFileToString(status_file, content))
        log_text->append(" Cannot read the file to string.");
      else if (content->empty())
        log_text->append(" Status file empty.");
      return nullptr;
    }

    error.clear();
    log = LoadInstallLog(install_folder, SOURCE_LEGACY_LOG, &error);
    if (log) return log;
    const base::FilePath legacy_file = install_folder.Append(kLegacyLogFileName);
    if (base::PathExists(legacy_file)) {
      *log_text = "Basalt status file, " + error;
      if (!base::ReadFileToString(legacy_file, content))
        log_text->append(" Cannot read the file to string.");
    }
    log_text->append("No viable status file exists.");
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<StatusFileLoader> StatusFileLoader::Create() {
  return std::make_unique<StatusFileLoaderImpl>();
}

base::FilePath FindLatestOldStatusFile(const base::FilePath& install_folder) {
  base::FileEnumerator files(install_folder.Append(kOldStatusFolderName), false,
                             base::FileEnumerator::FILES,
                             std::wstring(kStatusFileName) + L".*");
  base::FilePath latest;
  int64_t latest_number = 0;
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const std::wstring name = path.BaseName().value();
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) continue;
    const base::StringPiece16 suffix(name.c_str() + dot + 1, name.size() - dot - 1);
    int64_t number = 0;
    if (!suffix.empty() && base::StringToInt64(suffix, &number) && number > latest_number) {
      latest = path;
      latest_number = number;
    }
  }
  return latest;
}

std::unique_ptr<InstallLog> LoadInstallLog(const base::FilePath& install_folder,
                                           uint32_t source, std::string* error) {
  base::FilePath path;
  switch (source) {
    case SOURCE_STATUS_FILE:
      path = install_folder.Append(kStatusFileName);
      break;
    case SOURCE_OLD_STATUS:
      path = FindLatestOldStatusFile(install_folder);
      break;
    case SOURCE_LEGACY_LOG:
      path = install_folder.Append(kLegacyLogFileName);
      break;
    default:
      return nullptr;
  }
  if (path.empty() || !base::PathExists(path)) return nullptr;
  InstallLogReader reader;
  std::unique_ptr<InstallLog> log;
  reader.ParseFile(&log, path, source);
  if (!log && error) *error = reader.error;
  return log;
}

}  // namespace installer
