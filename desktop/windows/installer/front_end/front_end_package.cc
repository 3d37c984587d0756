#include "desktop/windows/installer/front_end/front_end_package.h"

#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

FrontEndPackage::FrontEndPackage() = default;

FrontEndPackage::~FrontEndPackage() {
  overrides_fetcher_.reset();
  runner_.reset();
  fetcher_.reset();
}

void FrontEndPackage::Create(PayloadReader* payload, const base::FilePath& download_folder,
                             const base::FilePath& own_folder, const Settings& settings,
                             StatsNode* stats, FetcherUIDelegate* ui,
                             FetcherDelegate* delegate) {
  if (payload) {
    stats->SetString("payload_type", PayloadReader::PayloadTypeToString(payload->type()));
    if (payload->type() != PayloadReader::FULL_PACKAGE) {
      tracking_data_ = payload->GetTrackingData();
      if (!tracking_data_.empty()) stats->SetString("tracking_data", tracking_data_);
    }
    fetcher_.reset(new PackageFetcher(download_folder, stats->Clone(), ui, delegate, payload,
                                      settings.architecture(),
                                      settings.flag(Settings::INSTALL_ASSISTANT)));
    package_folder_ = fetcher_->package_folder();
    assistant_folder_ = fetcher_->suite_path();
  } else {
    package_folder_ = own_folder;
  }
  RenewRunner();
  overrides_fetcher_.reset(new PrefDefaultOverridesFetcher(package_folder_, ui));
  if (overrides_feature_for_testing_ >= 0)
    overrides_fetcher_->SetFeatureEnabledForTesting(overrides_feature_for_testing_ == 1);
}

void FrontEndPackage::DeleteFetcher() {
  if (fetcher_ && runner_) {
    runner_->Stop();
    runner_->WaitForBackendEnd();
  }
  fetcher_.reset();
}

void FrontEndPackage::RenewRunner() {
  runner_.reset(new InstallerRunner(package_folder_, assistant_folder_));
  if (fetcher_) runner_->set_from_full_package();
}

void FrontEndPackage::HandleTrackingData(const Settings& settings, StatsNode* stats,
                                         const base::Closure& done) {
  const std::string tracking_data =
      !tracking_data_.empty() ? tracking_data_ : settings.status().server_tracking_data();
  stats->SetString("tracking_data", tracking_data);
  // An uninstallation, also one refused (no installation there), fetches nothing: the
  // overrides would be written beside its own program, into the version folder.
  if (settings.operation() == Settings::OPERATION_UNINSTALL ||
      settings.flag(Settings::UNINSTALL_FLAG)) {
    done.Run();
    return;
  }
  overrides_fetcher_->Fetch(tracking_data, done);
}

}  // namespace installer
