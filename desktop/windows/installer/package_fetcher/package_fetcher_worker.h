// PackageFetcherWorker: the package fetcher's work on its own thread. One try finds the
// package (the installer's own payload, or a download whose address the update server
// gives), checks its checksum, signer and version, unpacks it into the package folder,
// then fetches the additional components, reporting every step as a status through the
// proxy and into the statistics record.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_WORKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_WORKER_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "base/values.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace installer {

class FetcherDelegateProxy;
class PayloadReader;
class StatsNode;
class WinInetDownloader;

// The statuses a try reports; the last four end it.
enum PackageStatus {
  PACKAGE_STATUS_STARTED = 0,
  PACKAGE_STATUS_FETCHING_URL = 1,
  PACKAGE_STATUS_DOWNLOADING = 2,
  PACKAGE_STATUS_EXTRACTING = 3,
  PACKAGE_STATUS_FETCHING_COMPONENTS = 4,
  PACKAGE_STATUS_READY = 5,
  PACKAGE_STATUS_INITIALIZATION_FAILED = 6,
  PACKAGE_STATUS_DOWNLOAD_FAILED = 7,
  PACKAGE_STATUS_UNPACKING_FAILED = 8,
};

// Whether |name| is taken in the package: an entry of the package folder or a line of
// its file lists, ignoring case. A partner file, checked only against the server's own
// checksum, must never replace what the package's signature covered.
bool IsTakenInPackage(const base::FilePath& package_folder, const std::wstring& name);

// "package_ready", "initialization_failed", "download_failed", "unpacking_failed";
// "invalid" for any other value.
std::string PackageStatusToString(int status);

class PackageFetcherWorker {
 public:
  struct Paths {
    base::FilePath download_folder;
    // The downloaded package of a try is this with "_<try>" before the extension; its
    // name without the extension is the package folder.
    base::FilePath installer_path;
    // Empty when no suite is wanted.
    base::FilePath suite_path;
  };

  // Made on the UI thread, used and deleted on the worker thread. |payload| is the
  // running installer's and outlives the worker.
  PackageFetcherWorker(base::scoped_refptr<FetcherDelegateProxy> proxy, PayloadReader* payload,
                       const Paths& paths, std::unique_ptr<StatsNode> fetcher_node,
                       uint32_t architecture);
  // Clears the proxy's delegates, stops a running download and deletes what the tries
  // left: downloads, archives, the package folder and the suite folder.
  ~PackageFetcherWorker();
  PackageFetcherWorker(const PackageFetcherWorker&) = delete;
  PackageFetcherWorker& operator=(const PackageFetcherWorker&) = delete;

  // Tests only, before the first try: the signature rule in place of this build's.
  void set_signature_rule(SignatureRule rule) { signature_rule_ = rule; }
  // Tests only, before the first try: how long the additional files of a try may take,
  // ten minutes otherwise.
  void set_additional_files_deadline(base::TimeDelta deadline) {
    additional_files_deadline_ = deadline;
  }
  base::TimeDelta additional_files_deadline() const { return additional_files_deadline_; }

  // The additional files one answer may bring: the rest of its list is left out.
  static constexpr size_t kMaxAdditionalFiles = 20;
  // The counted retries of each additional file's download (the package's own allow an
  // hour of them): a server that answers 503 forever holds one file for three waits.
  static constexpr int32_t kAdditionalFileMaxRetries = 2;
  // How long the additional files of a try may take as a whole, from the first one's
  // start; the installation goes on without those not fetched by then.
  static constexpr int64_t kAdditionalFilesDeadlineSeconds = 10 * 60;

  // One try; on the worker thread.
  void Start();
  // From any thread: fewer failed tries than the limit (6 below 4 MiB received and three
  // no-content answers, else 3).
  bool CanRetry();
  // The rule CanRetry applies to the failed tries so far, the no-content answers among
  // them and the body bytes all tries received.
  static bool AllowsRetry(int32_t tries, int32_t no_content_answers, int32_t total_bytes);
  // |total| + |bytes| as the 32-bit total holds them: saturated at its maximum, so a body
  // of 2 GiB or more counts as large instead of wrapping round to negative.
  static int32_t AddReceivedBytes(int32_t total, uint32_t bytes);
  // The hosts that may answer the download-address request.
  static std::vector<std::wstring> GetAddressHostSuffixes();

  const base::FilePath& package_folder() const { return package_folder_; }
  // Checked on the worker thread, where the worker is deleted.
  base::WeakPtr<PackageFetcherWorker> GetWeakPtr() { return weak_factory_.GetWeakPtr(); }

 private:
  void FetchDownloadUrl();
  void OnDownloadUrlFetched();
  // The components of |reply| to fetch, the first kMaxAdditionalFiles of them.
  void TakeAdditionalFiles(const base::Dictionary& reply);
  void ExtractArchive(const std::string& expected_checksum);
  // Writes the 7z archive of |package| beside the download and unpacks it next.
  void WriteOutArchive(const PayloadReader& package);
  void UnpackArchive(const base::FilePath& archive);
  void OnArchiveUnpacked();
  void DownloadAdditionalFile();
  void OnAdditionalFileDownloaded(const std::string& filename, int archive,
                                  const std::string& checksum, const std::string& type);
  // Moves, unpacks and checks one downloaded component; false when it is skipped.
  [[nodiscard]] bool PlaceAdditionalFile(const base::FilePath& downloaded, const std::string& filename,
                           bool archive, const std::string& type);
  void NextAdditionalFile();
  // The additional files' deadline: the file being fetched is given up and the rest left
  // out.
  void OnAdditionalFilesDeadline();
  // Lists the partner files placed in the package's file list; the package is then ready.
  void FinishAdditionalFiles();
  void NotifyPackageReady();

  // Whether downloads must carry the expected signature: this build is signed, or that
  // cannot be told.
  bool SignatureRequired() const;
  void ReportStatus(int status);
  void ReportResult(int status);
  // The body bytes the downloader received in this try (0 before the try started it).
  uint32_t TryBytesReceived() const;
  void ReportFailure(const std::string& reason, int status);
  void ReportDownloadError(const std::string& message);
  void ReportJsonError(const std::string& message);

  const base::scoped_refptr<FetcherDelegateProxy> proxy_;
  PayloadReader* const payload_;
  // This build's; a test's before the worker starts.
  SignatureRule signature_rule_ = ThisBuildSignatureRule();

  base::Lock lock_;
  // Under lock_.
  int32_t fetch_try_counter_ = 0;
  int32_t no_content_counter_ = 0;
  int32_t total_bytes_received_ = 0;
  // Whether this try has started the downloader: its counters are the try's only then.
  bool downloader_started_ = false;
  int32_t additional_file_try_counter_ = 0;

  const base::FilePath download_folder_;
  const base::FilePath installer_path_;
  const base::FilePath package_folder_;
  const base::FilePath suite_path_;
  base::FilePath current_download_path_;
  std::vector<base::FilePath> temporary_files_;

  std::unique_ptr<WinInetDownloader> downloader_;
  std::string reply_text_;
  std::unique_ptr<base::Value> reply_;
  std::unique_ptr<base::List> additional_files_;
  size_t additional_file_cursor_ = 0;
  // While the additional files of a try are being fetched; the deadline ends it.
  bool fetching_additional_files_ = false;
  base::TimeDelta additional_files_deadline_ =
      base::TimeDelta::FromSeconds(kAdditionalFilesDeadlineSeconds);
  std::vector<std::string> partner_file_names_;

  std::unique_ptr<StatsNode> fetcher_node_;
  std::unique_ptr<StatsNode> fetch_node_;
  std::unique_ptr<StatsNode> additional_file_node_;
  std::unique_ptr<StatsNode> additional_file_try_node_;
  const uint32_t architecture_;

  base::WeakPtrFactory<PackageFetcherWorker> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_WORKER_H_
