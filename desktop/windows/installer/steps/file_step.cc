#include "desktop/windows/installer/steps/file_step.h"

#include <memory>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/service/held_transfer_operations.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

base::Result<> InstallStagedFile(InstallationContext* context, const base::FilePath& staging,
                                 const base::FilePath& destination) {
  const bool installed = context->GetTransaction()->Execute(
      std::make_unique<HeldCopyOperation>(context->GetHeldTree(), staging, destination));
  base::DeleteFileBestEffort(staging, false);
  if (!installed)
    return base::Failure{0, 0, "the staged copy could not replace " + destination.AsUTF8(),
                         destination};
  return {};
}

FileStep::FileStep(InstallationContext* context, const std::string& file_name)
    : ContextStep(context), file_name_(file_name) {}

FileStep::~FileStep() = default;

std::unique_ptr<TransactionOperation> FileStep::MakeCopy(const base::FilePath& source,
                                                        const base::FilePath& destination) {
  if (IsTargetFolderMadeByThisRun()) {
    return std::make_unique<CopyFileOperation>(source, destination,
                                               DestinationFolder::kMadeByThisInstallation);
  }
  return std::make_unique<HeldCopyOperation>(context_->GetHeldTree(), source, destination);
}

StepResult FileStep::Run(int32_t attempt) {
  if (attempt > 0) context_->ReportImportantEvent("file_copy_retry");
  VLOG(1) << "Copying file " << file_name_;
  base::FilePath source = context_->GetPackageFolder().Append(base::UTF8ToWide(file_name_));
  base::FilePath destination = GetTargetFolder().Append(base::UTF8ToWide(GetTargetName()));
  StepResult result;
  if (!ShouldSkip(source) &&
      !context_->GetTransaction()->Execute(MakeCopy(source, destination))) {
    result = StepResult(IsRequired() ? StepResult::STATUS_RETRY_THEN_FAIL
                                     : StepResult::STATUS_RETRY_THEN_SKIP,
                        INSTALLER_ERROR_FILE_COPY, destination.value(),
                        "Failed copying " + file_name_);
  }
  if (result.status == StepResult::STATUS_OK) OnCopied();
  return result;
}

}  // namespace installer
