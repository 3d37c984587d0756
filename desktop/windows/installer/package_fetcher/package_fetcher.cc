#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <windows.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "desktop/windows/installer/package_fetcher/fetcher_delegate_proxy.h"
#include "desktop/windows/installer/statistics/stats_node.h"

namespace installer {

namespace {

void DeleteWorker(PackageFetcherWorker* worker) { delete worker; }

}  // namespace

namespace {

// YYYYMMDDhhmmss of the local time.
std::wstring LocalTimeText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return base::StringPrintf(L"%04d%02d%02d%02d%02d%02d", now.wYear, now.wMonth, now.wDay,
                            now.wHour, now.wMinute, now.wSecond);
}

}  // namespace

base::FilePath MakeTimestampedFileName(const base::FilePath& folder, const std::wstring& base) {
  return folder.Append(base + L"_" + LocalTimeText() + L".exe");
}

PackageFetcher::PackageFetcher(const base::FilePath& download_folder,
                               std::unique_ptr<StatsNode> fetcher_node, FetcherUIDelegate* ui,
                               FetcherDelegate* progress, PayloadReader* payload,
                               uint32_t architecture, bool with_suite)
    : installer_path_(
          lock_.AcquireNewStem(download_folder, LocalTimeText(), ::GetCurrentProcessId())),
      suite_path_(with_suite ? MakeTimestampedFileName(download_folder, L"suite")
                             : base::FilePath()),
      worker_(nullptr),
      worker_thread_("Package fetcher worker") {
  RemoveDeadPackages(download_folder);
  CHECK(worker_thread_.Start()) << "cannot start the package fetcher's thread";
  PackageFetcherWorker::Paths paths;
  paths.download_folder = download_folder;
  paths.installer_path = installer_path_;
  paths.suite_path = suite_path_;
  worker_ = new PackageFetcherWorker(
      base::scoped_refptr<FetcherDelegateProxy>(new FetcherDelegateProxy(ui, progress)), payload,
      paths, std::move(fetcher_node), architecture);
  weak_worker_ = worker_->GetWeakPtr();
}

PackageFetcher::~PackageFetcher() {
  worker_thread_.GetTaskRunner()->PostTask(FROM_HERE, base::Bind(&DeleteWorker, worker_));
  worker_thread_.Stop();
}

void PackageFetcher::Start() {
  worker_thread_.GetTaskRunner()->PostTask(FROM_HERE,
                                           base::Bind(&PackageFetcherWorker::Start, weak_worker_));
}

bool PackageFetcher::Retry() {
  if (!worker_->CanRetry()) return false;
  LOG(INFO) << "Retrying a fetch attempt";
  worker_thread_.GetTaskRunner()->PostDelayedTask(
      FROM_HERE, base::Bind(&PackageFetcherWorker::Start, weak_worker_), retry_delay_);
  return true;
}

}  // namespace installer
