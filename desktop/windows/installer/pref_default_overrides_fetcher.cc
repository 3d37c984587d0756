#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/wininet/product_hosts.h"
#include "desktop/windows/installer/wininet/download_stats_observer.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

const char kFeatureName[] = "installer-pref-default-overrides-support";
// The overrides are a small JSON text: a longer answer is refused rather than taken for
// as long as it comes at the rate a try must keep.
const uint32_t kMaxOverridesBytes = 1024 * 1024;
const wchar_t kLocalDevelopmentServer[] = L"http://localhost:3001/";
// The maker's own domain, its internal networks and this machine.
const wchar_t* const kBuiltInHostSuffixes[] = {
    kProductDomainSuffix, kInternalDomainSuffix, kSecondInternalDomainSuffix, L"localhost",
    L"127.0.0.1",
};

}  // namespace

PrefDefaultOverridesFetcher::PrefDefaultOverridesFetcher(const base::FilePath& folder,
                                                         FetcherUIDelegate* ui)
    : target_path_(folder.Append(kPrefDefaultOverridesFileName)),
      downloader_(new WinInetDownloader(ui, nullptr)) {}

PrefDefaultOverridesFetcher::~PrefDefaultOverridesFetcher() {
  done_.Reset();
  downloader_.reset();
}

// static
std::wstring PrefDefaultOverridesFetcher::GetPrefDefaultOverridesUrl() {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (command_line->HasSwitch(switches::kLocalPrefDefaultOverridesServer)) {
    const std::wstring value =
        command_line->GetSwitchValueNative(switches::kLocalPrefDefaultOverridesServer);
    return value.empty() ? kLocalDevelopmentServer : value;
  }
  std::string path = "api/prefs/?product=" + GetProductName() + "&version=" + GetProductVersion();
  return base::UTF8ToWide(GetProductUrl("autoupdate") + path);
}

// static
std::vector<std::wstring> PrefDefaultOverridesFetcher::GetAllowedHostSuffixes() {
  std::vector<std::wstring> suffixes(std::begin(kBuiltInHostSuffixes),
                                     std::end(kBuiltInHostSuffixes));
  const std::wstring domain = base::UTF8ToWide(GetDomain());
  if (domain != kProductDomainSuffix) suffixes.push_back(domain);
  return suffixes;
}

void PrefDefaultOverridesFetcher::Fetch(const std::string& tracking_data, base::Closure done) {
  if (!IsFeatureEnabled()) {
    done.Run();
    return;
  }
  LOG(INFO) << "Fetching default prefs overrides to " << target_path_.value()
            << " with tracking data " << tracking_data;
  downloader_->set_allowed_host_suffixes(GetAllowedHostSuffixes());
  downloader_->set_max_retries(0);
  downloader_->set_max_body_bytes(kMaxOverridesBytes);

  done_ = done;
  std::unique_ptr<FileResponseWriter> writer(new FileResponseWriter);
  // The downloader reports a writer that cannot store as a failed download.
  if (!writer->Open(target_path_)) LOG(ERROR) << "Cannot open " << target_path_.value();
  if (!downloader_->Start(GetPrefDefaultOverridesUrl(), tracking_data,
                          base::Bind(&PrefDefaultOverridesFetcher::OnDownloadDone, this),
                          std::move(writer),
                          std::unique_ptr<DownloadStatsObserver>(new DownloadStatsObserver))) {
    LOG(ERROR) << "Failed sending request for default prefs overrides";
    if (!base::DeleteFile(target_path_, false))
      LOG(ERROR) << "Could not remove the partial " << target_path_.AsUTF8();
    base::Closure run = done_;
    done_.Reset();
    run.Run();
  }
}

bool PrefDefaultOverridesFetcher::IsFeatureEnabled() const {
  if (feature_for_testing_ != kFeatureFromStates) return feature_for_testing_ == kFeatureOn;
  return base::IsFeatureEnabled(kFeatureName);
}

void PrefDefaultOverridesFetcher::OnDownloadDone() {
  if (downloader_->state() == WinInetDownloader::STATE_COMPLETED) {
    LOG(INFO) << "Default prefs overrides fetched successfully";
  } else {
    if (!base::DeleteFile(target_path_, false))
      LOG(ERROR) << "Could not remove the partial " << target_path_.AsUTF8();
    LOG(ERROR) << "Failed fetching default prefs overrides";
  }
  base::Closure run = done_;
  done_.Reset();
  if (!run.is_null()) run.Run();
}

}  // namespace installer
