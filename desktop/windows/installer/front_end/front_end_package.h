// FrontEndPackage: the package side of a front-end run, which both controllers keep: the
// fetcher that gets the package when the installer carries a payload, the runner that
// starts the backend on it, the default-preference overrides fetcher and the payload's
// tracking data. It makes them from the payload and runs the tracking-data actions that
// complete the package before the backend may use it. It logs nothing: a log line names
// its source file, and the controllers' lines stay theirs.
//
//   FrontEndPackage package;
//   package.Create(payload_or_null, download_folder, system.own_folder, *settings,
//                  stats.root(), controller, controller);
//   if (package.fetcher()) package.fetcher()->Start();
//   ...  // once the package is there and the settings have their status:
//   package.HandleTrackingData(*settings, stats.root(), actions_done);
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_PACKAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_PACKAGE_H_

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/installer_runner.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

namespace installer {

class PayloadReader;
class Settings;
class StatsNode;

class FrontEndPackage {
 public:
  FrontEndPackage();
  // Deletes the overrides fetcher, the runner and the package fetcher, in this order.
  ~FrontEndPackage();
  FrontEndPackage(const FrontEndPackage&) = delete;
  FrontEndPackage& operator=(const FrontEndPackage&) = delete;

  // Makes the pieces of a run, once. With `payload`: records its type, and its tracking
  // data unless it carries the full package, in `stats`; makes the package fetcher (not
  // started) with a copy of `stats`, and the runner and the overrides fetcher on the
  // fetcher's folders. Without one (running from an unpacked package) they work in
  // `own_folder`. `ui` answers both fetchers' requests for UI; `delegate` hears the
  // package fetcher. Both outlive this.
  void Create(PayloadReader* payload, const base::FilePath& download_folder,
              const base::FilePath& own_folder, const Settings& settings, StatsNode* stats,
              FetcherUIDelegate* ui, FetcherDelegate* delegate);

  // A runner runs one installation: another try gets a new one on the same folders.
  void RenewRunner();

  // The tracking-data actions: records the tracking data in `stats` (the payload's, else
  // the one the existing installation has) and, unless uninstalling, fetches the
  // default-preference overrides it names. `done` runs when they are over; at once for an
  // uninstallation.
  void HandleTrackingData(const Settings& settings, StatsNode* stats, const base::Closure& done);

  // The payload's tracking data; empty without a payload or with the full package.
  const std::string& tracking_data() const { return tracking_data_; }
  // Null without a payload, and once deleted.
  PackageFetcher* fetcher() { return fetcher_.get(); }
  // Stops the runner and waits for its backend before: the backend runs from the
  // package folder that the fetcher deletes, and rolls back with its files.
  void DeleteFetcher();
  // Null before Create.
  InstallerRunner* runner() { return runner_.get(); }

  // Tests only: whether the overrides fetcher that Create makes fetches, in place of the
  // process's feature state.
  void SetOverridesFeatureForTesting(bool enabled) {
    overrides_feature_for_testing_ = enabled ? 1 : 0;
  }

 private:
  std::string tracking_data_;
  // Where the runner finds the package and the assistant.
  base::FilePath package_folder_;
  base::FilePath assistant_folder_;
  std::unique_ptr<PackageFetcher> fetcher_;
  std::unique_ptr<InstallerRunner> runner_;
  std::unique_ptr<PrefDefaultOverridesFetcher> overrides_fetcher_;
  int overrides_feature_for_testing_ = -1;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_FRONT_END_PACKAGE_H_
