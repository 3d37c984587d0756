#include "desktop/windows/installer/install_target_facts.h"

#include "base/files/file_util.h"
#include "desktop/windows/installer/service/access_control.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/status_file_loader.h"

namespace installer {

namespace {

class FolderInstallTargetFacts : public InstallTargetFacts {
 public:
  explicit FolderInstallTargetFacts(const base::FilePath& install_folder) {
    record_ = LoadInstallLog(install_folder, SOURCE_STATUS_FILE, nullptr);
    if (!record_) record_ = LoadInstallLog(install_folder, SOURCE_LEGACY_LOG, nullptr);
    nearest_ = install_folder;
    while (!nearest_.empty() && !base::DirectoryExists(nearest_)) {
      base::FilePath parent = nearest_.DirName();
      if (parent == nearest_) break;
      nearest_ = parent;
    }
  }

  const InstallLog* GetExistingInstallLog() override { return record_.get(); }
  base::FilePath GetNearestExistingFolder() override { return nearest_; }
  bool HasWriteAccess() override {
    return HasAccess(nearest_.value(), kFileObject, kInstallFolderAccess);
  }

 private:
  std::unique_ptr<InstallLog> record_;
  base::FilePath nearest_;
};

}  // namespace

std::unique_ptr<InstallTargetFacts> ReadInstallTargetFacts(const base::FilePath& install_folder) {
  return std::make_unique<FolderInstallTargetFacts>(install_folder);
}

}  // namespace installer
