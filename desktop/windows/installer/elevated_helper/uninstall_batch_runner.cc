#include "desktop/windows/installer/elevated_helper/uninstall_batch_runner.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"

namespace installer {

namespace {

// How long an uninstallation's processes may take to end after the helper is done with
// the grant; they have ended their work by then.
const uint32_t kProcessWaitMs = 60000;

// Removes the folder `path` when it is empty and its final path is `expected`: held
// from the check until it is gone. A folder still in use stays, as rmdir leaves it.
void RemoveEmptyFolder(const base::FilePath& path, const base::FilePath& expected) {
  HeldFile held;
  const base::Result<> result =
      HoldPlace(path, expected, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE, true, &held);
  if (IsMissingPlace(result)) return;
  if (!result.ok()) {
    LOG(WARNING) << "Not removing " << path.AsUTF8() << ": " << result.failure().text;
    return;
  }
  bool empty = false;
  if (!held.IsEmptyFolder(&empty) || !empty) return;
  if (!held.DeleteOnClose()) PLOG(WARNING) << "Could not remove " << path.AsUTF8();
}

// The folders the batch names, deepest first, each removed when empty. Those under the
// install folder `folder` must lie where the held install folder did (`final_folder`).
void RemoveEmptyFolders(const CleanupBatch& batch, const base::FilePath& folder,
                        const base::FilePath& final_folder) {
  std::vector<std::pair<size_t, base::FilePath>> folders;
  for (const std::wstring& text : batch.folders) {
    const base::Result<base::FilePath> normalized = NormalizeGrantFolder(base::FilePath(text));
    if (!normalized.ok()) continue;  // checked before; nothing by that name to remove
    const std::wstring& path = normalized.value().value();
    folders.emplace_back(std::count(path.begin(), path.end(), L'\\'), normalized.value());
  }
  std::stable_sort(folders.begin(), folders.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& entry : folders) {
    const base::FilePath& path = entry.second;
    RemoveEmptyFolder(path, IsSameOrUnder(path, folder) ? RebasePath(path, folder, final_folder)
                                                        : path);
  }
}

// The granted install folder's batch checked and done while the folder is held.
base::Result<> CleanUp(const base::FilePath& install_folder, const base::FilePath& granted_folder,
                       const BatchProcessWaiter& waiter) {
  if (granted_folder.empty()) return base::Failure{0, 0, "no access was given for it", {}};
  const base::Result<base::FilePath> normalized = NormalizeGrantFolder(install_folder);
  if (!normalized.ok()) return normalized.failure();
  const base::FilePath& folder = normalized.value();
  if (!IsSamePath(folder, granted_folder)) {
    return base::Failure{
        0, 0, "access was given for " + granted_folder.AsUTF8() + ", not for its folder", folder};
  }
  // Everything below is decided against where the held folder really is.
  HeldFile held_folder;
  base::Result<> held = HoldPlace(folder, folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, true, &held_folder);
  if (!held.ok()) return held;
  const base::FilePath final_folder = held_folder.final_path();
  // Read, checked and deleted as one file that nobody writes meanwhile.
  HeldFile batch_file;
  held = HoldPlace(folder.Append(kCleanupBatchFileName),
                   final_folder.Append(kCleanupBatchFileName), GENERIC_READ | DELETE,
                   FILE_SHARE_READ, false, &batch_file);
  if (!held.ok()) return held;
  const base::Result<std::string> text = ReadCleanupBatch(batch_file);
  if (!text.ok()) return text.failure();
  const base::Result<CleanupBatch> batch = ValidateCleanupBatchText(text.value(), folder);
  if (!batch.ok()) return batch.failure();

  // The helper that runs the batch may be named in it: waiting for itself would never end.
  std::vector<uint32_t> pids;
  for (uint32_t pid : batch.value().pids) {
    if (pid != 0 && pid != GetCurrentProcessId()) pids.push_back(pid);
  }
  waiter.Wait(pids);

  internal::DeletionHolds holds;
  held = internal::HoldDeletionWays(batch.value(), folder, held_folder, &holds);
  if (!held.ok()) return held;
  for (const HeldFile& file : holds.files) {
    if (!file.DeleteOnClose()) PLOG(WARNING) << "Could not delete " << file.final_path().AsUTF8();
  }
  if (!batch_file.DeleteOnClose()) PLOG(WARNING) << "Could not delete the clean-up batch";
  // Closed, the deletions happen and the folders may go.
  holds = internal::DeletionHolds();
  batch_file = HeldFile();
  held_folder = HeldFile();
  RemoveEmptyFolders(batch.value(), folder, final_folder);
  return {};
}

}  // namespace

// static
uint64_t BoundedProcessWaiter::SystemClock() { return GetTickCount64(); }

void BoundedProcessWaiter::Wait(const std::vector<uint32_t>& pids) const {
  const uint64_t deadline = clock_() + bound_ms_;
  for (uint32_t pid : pids) {
    base::ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process.IsValid()) continue;  // ended already
    const uint64_t now = clock_();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0)
      LOG(WARNING) << "The process " << pid << " of the clean-up still runs; going on";
  }
}

const BatchProcessWaiter& DefaultBatchProcessWaiter() {
  static const BoundedProcessWaiter waiter(kProcessWaitMs);
  return waiter;
}

namespace internal {

base::Result<> HoldDeletionWays(const CleanupBatch& batch, const base::FilePath& folder,
                                const HeldFile& install_folder, DeletionHolds* holds) {
  for (const std::wstring& text : batch.failed_files) {
    const base::Result<base::FilePath> normalized = NormalizeGrantFolder(base::FilePath(text));
    if (!normalized.ok()) return normalized.failure();
    const base::FilePath& file = normalized.value();
    HeldWay way;
    const base::Result<> result =
        HoldBelow(folder, install_folder.final_path(), file, DELETE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, false, &way);
    // A folder on the way that is not where its name says refuses the whole batch.
    const bool at_file = result.ok() || IsSamePath(result.failure().path, file);
    if (!at_file && !IsMissingPlace(result)) return result;
    for (HeldFile& held : way.folders) holds->folders.push_back(std::move(held));
    if (!result.ok()) {
      LOG(WARNING) << "Not deleting " << file.AsUTF8() << ": " << result.failure().text;
      continue;
    }
    holds->files.push_back(std::move(way.place));
  }
  return {};
}

}  // namespace internal

bool RunUninstallBat(const base::FilePath& install_folder, const base::FilePath& granted_folder,
                     const BatchProcessWaiter& waiter) {
  const base::FilePath batch_file = install_folder.Append(kCleanupBatchFileName);
  if (!base::PathExists(batch_file)) return false;
  const base::Result<> done = CleanUp(install_folder, granted_folder, waiter);
  if (!done.ok()) {
    LOG(ERROR) << "Refusing the clean-up " << batch_file.AsUTF8() << ": " << done.failure().text;
    return false;
  }
  LOG(INFO) << "Cleaned up after the uninstallation";
  return true;
}

}  // namespace installer
