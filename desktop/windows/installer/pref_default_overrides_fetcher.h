// PrefDefaultOverridesFetcher: before an installation, downloads this product's and
// version's default-preference overrides from the update server into the package folder
// ("pref_default_overrides"), passing the installation's tracking data. A failed download
// leaves no file behind and never stops the installation.
//
//   PrefDefaultOverridesFetcher fetcher(package_folder, ui_delegate);
//   fetcher.Fetch(tracking_data, base::Bind(&Controller::OnOverridesFetched, weak));
#ifndef DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"

namespace installer {

class WinInetDownloader;

class PrefDefaultOverridesFetcher {
 public:
  // |ui| (required) outlives the fetcher.
  PrefDefaultOverridesFetcher(const base::FilePath& folder, FetcherUIDelegate* ui);
  ~PrefDefaultOverridesFetcher();
  PrefDefaultOverridesFetcher(const PrefDefaultOverridesFetcher&) = delete;
  PrefDefaultOverridesFetcher& operator=(const PrefDefaultOverridesFetcher&) = delete;

  // Runs |done| exactly once: at once when the feature is off or the request cannot be
  // sent, else from this thread's message loop when the download has ended.
  void Fetch(const std::string& tracking_data, base::Closure done);

  // The switch "local-pref-default-overrides-server" (a whole URL, or a local development
  // server without a value), else the configured "autoupdate" URL + "api/prefs/?...".
  static std::wstring GetPrefDefaultOverridesUrl();
  // The hosts the download may reach: the maker's, internal and loopback ones, and the
  // configured "domain" when it is another.
  static std::vector<std::wstring> GetAllowedHostSuffixes();

  // Tests only: decides instead of the process's feature states, which tests must leave
  // as they are.
  void SetFeatureEnabledForTesting(bool enabled) {
    feature_for_testing_ = enabled ? kFeatureOn : kFeatureOff;
  }

 private:
  void OnDownloadDone();
  bool IsFeatureEnabled() const;

  enum FeatureForTesting { kFeatureFromStates, kFeatureOn, kFeatureOff };

  const base::FilePath target_path_;
  std::unique_ptr<WinInetDownloader> downloader_;
  base::Closure done_;
  FeatureForTesting feature_for_testing_ = kFeatureFromStates;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
