#include "desktop/windows/installer/steps/file_steps.h"

#include <windows.h>

#include <memory>

#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/taskbar_pin.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/held_transfer_operations.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

namespace {

// The helper the pinning runs from the version folder.
std::string GetInstallerHelperName() {
  return base::WideToUTF8(GetPinHelperName(base::OsInfo::Instance()->architecture()));
}

}  // namespace

InstalledFileStep::InstalledFileStep(InstallationContext* context, const std::string& file_name)
    : FileStep(context, file_name) {}

base::FilePath InstalledFileStep::GetTargetFolder() {
  return context_->GetTargetFolder().Append(context_->GetInstallLog()->subfolder);
}

bool InstalledFileStep::IsTargetFolderMadeByThisRun() {
  return context_->IsVersionFolderMadeByThisRun();
}

void InstalledFileStep::OnCopied() {
  context_->GetInstallLog()->files.push_back(base::UTF8ToWide(file_name()));
}

RootFileStep::RootFileStep(InstallationContext* context, const std::string& file_name)
    : FileStep(context, file_name) {}

base::FilePath RootFileStep::GetTargetFolder() { return context_->GetTargetFolder(); }

void RootFileStep::OnCopied() {
  context_->GetInstallLog()->root_files.push_back(base::UTF8ToWide(file_name()));
}

CopyLauncherStep::CopyLauncherStep(InstallationContext* context)
    : FileStep(context, base::WideToUTF8(kLauncherFileName)) {}

base::FilePath CopyLauncherStep::GetTargetFolder() { return context_->GetTargetFolder(); }

void CopyLauncherStep::OnCopied() {
  if (IsWhiteLabeled()) return;
  VLOG(2) << "Check if the launcher should be installed as velum.exe";
  base::FilePath product_path =
      context_->GetInstallFolder().Append(base::UTF8ToWide(GetExecutableFileName()));
  base::FilePath old_path = product_path.ReplaceExtension(kBrowserOldCopyExtension);
  if (!context_->IsBasaltInstallation() &&
      !(base::PathExists(product_path) && base::PathExists(old_path)))
    return;
  VLOG(1) << "Install the launcher as velum.exe";
  Transaction* transaction = context_->GetTransaction();
  const std::shared_ptr<HeldTree> tree = context_->GetHeldTree();
  if (!transaction->Execute(std::make_unique<HeldMoveOperation>(tree, product_path, old_path)) ||
      !transaction->Execute(std::make_unique<HeldCopyOperation>(
          tree, context_->GetPackageFolder().Append(kLauncherFileName), product_path))) {
    LOG(WARNING) << "Failed installing the launcher as velum.exe";
  }
}

InstallerHelperStep::InstallerHelperStep(InstallationContext* context)
    : InstalledFileStep(context, GetInstallerHelperName()) {}

ServerTrackingDataStep::ServerTrackingDataStep(InstallationContext* context)
    : FileStep(context, context->GetServerTrackingData()) {}

bool ServerTrackingDataStep::ShouldSkip(const base::FilePath& source) {
  // Without the switch the name is empty and the source is the package folder itself.
  return file_name().empty() || !base::PathExists(source) || base::DirectoryExists(source);
}

std::string ServerTrackingDataStep::GetTargetName() {
  return base::WideToUTF8(kTrackingDataFileName);
}

base::FilePath ServerTrackingDataStep::GetTargetFolder() { return context_->GetTargetFolder(); }

PrefDefaultOverridesStep::PrefDefaultOverridesStep(InstallationContext* context)
    : FileStep(context, base::WideToUTF8(kPrefDefaultOverridesFileName)) {}

bool PrefDefaultOverridesStep::ShouldSkip(const base::FilePath& source) {
  if (!base::PathExists(source)) return true;
  base::JsonFileReader reader(source, 0);
  int error_code = 0;
  std::string error_message;
  if (reader.Deserialize(&error_code, &error_message)) return false;
  // The browser would start with its own defaults: whoever made the package must learn why.
  LOG(WARNING) << "Not installing " << source.AsUTF8() << ": " << error_message;
  return true;
}

base::FilePath PrefDefaultOverridesStep::GetTargetFolder() {
  return context_->GetTargetFolder();
}

}  // namespace installer
