// PackageFetcher: the front end's handle on the package fetcher. It produces the unpacked
// installation package in a folder of the download folder, from the installer's own full
// package or by downloading one, on its own thread "Package fetcher worker"; statuses and
// progress reach the delegates on the thread that made it.
//
//   PackageFetcher fetcher(download_folder, stats.root()->Clone(), ui, progress, payload,
//                          architecture, false);
//   fetcher.Start();
//   // ... NotifyStatusChanged(5): the package is in fetcher.package_folder();
//   // NotifyStatusChanged(7): if (!fetcher.Retry()) give up.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/threading/thread.h"
#include "base/time/time.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"
#include "desktop/windows/installer/package_fetcher/package_lock.h"

namespace installer {

class FetcherDelegate;
class FetcherUIDelegate;
class PayloadReader;
class StatsNode;

// folder + base + "_YYYYMMDDhhmmss.exe" of the local time.
base::FilePath MakeTimestampedFileName(const base::FilePath& folder, const std::wstring& base);

class PackageFetcher {
 public:
  // |ui| is required, |progress| may be null; both and |payload| outlive the fetcher.
  // |architecture| 1 asks for the x64 package. Marks this run's package files live and
  // removes those of killed runs from |download_folder|.
  PackageFetcher(const base::FilePath& download_folder, std::unique_ptr<StatsNode> fetcher_node,
                 FetcherUIDelegate* ui, FetcherDelegate* progress, PayloadReader* payload,
                 uint32_t architecture, bool with_suite);
  // Ends the worker on its thread, which deletes what the tries left behind.
  ~PackageFetcher();
  PackageFetcher(const PackageFetcher&) = delete;
  PackageFetcher& operator=(const PackageFetcher&) = delete;

  void Start();
  // Starts another try after a delay when the tries so far allow it.
  [[nodiscard]] bool Retry();

  const base::FilePath& installer_path() const { return installer_path_; }
  const base::FilePath& suite_path() const { return suite_path_; }
  const base::FilePath& package_folder() const { return worker_->package_folder(); }

  // Tests only: the delay before a retried try, six seconds otherwise.
  void SetRetryDelayForTesting(base::TimeDelta delay) { retry_delay_ = delay; }
  // Tests only, before Start: the signature rule in place of this build's.
  void SetSignatureRuleForTesting(SignatureRule rule) { worker_->set_signature_rule(rule); }
  // Tests only, before Start: how long a try's additional files may take.
  void SetAdditionalFilesDeadlineForTesting(base::TimeDelta deadline) {
    worker_->set_additional_files_deadline(deadline);
  }
  base::TimeDelta AdditionalFilesDeadlineForTesting() const {
    return worker_->additional_files_deadline();
  }

 private:
  // Held until the worker has deleted the package's files; made before the stem it locks.
  PackageLock lock_;
  const base::FilePath installer_path_;
  const base::FilePath suite_path_;
  // Deleted on the worker thread.
  PackageFetcherWorker* worker_;
  base::WeakPtr<PackageFetcherWorker> weak_worker_;
  base::Thread worker_thread_;
  base::TimeDelta retry_delay_ = base::TimeDelta::FromSeconds(6);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
