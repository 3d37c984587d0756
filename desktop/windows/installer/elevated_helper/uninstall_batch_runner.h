// The elevated clean-up after an uninstallation of an all-users installation: what the
// batch ("k.bat") left in the install folder names is done by the helper itself, not by
// cmd. The batch was written by the user, so it is done only as checked, only for the
// folder the elevated grant was made for, and only on what the helper holds: every
// deletion goes through a handle whose final path was checked, nothing is deleted later
// by name.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_UNINSTALL_BATCH_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_UNINSTALL_BATCH_RUNNER_H_

#include <stdint.h>

#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/service/held_file.h"

namespace installer {

// How the helper waits for the processes a batch names: the system's, bounded, or a
// test's that acts while the helper waits.
class BatchProcessWaiter {
 public:
  // Returns once every process of `pids` has ended, or earlier.
  virtual void Wait(const std::vector<uint32_t>& pids) const = 0;

 protected:
  ~BatchProcessWaiter() = default;
};

// Waits for all the processes together at most `bound_ms`; those still running then are
// logged, and the helper goes on without them (what they hold cannot be taken).
class BoundedProcessWaiter : public BatchProcessWaiter {
 public:
  // Milliseconds of a clock that only goes forward; a test's may jump.
  using Clock = uint64_t (*)();
  explicit BoundedProcessWaiter(uint32_t bound_ms, Clock clock = &SystemClock)
      : bound_ms_(bound_ms), clock_(clock) {}
  void Wait(const std::vector<uint32_t>& pids) const override;

 private:
  static uint64_t SystemClock();

  uint32_t bound_ms_;
  Clock clock_;
};

// The helper's waiter: a minute for an uninstallation's processes to end.
const BatchProcessWaiter& DefaultBatchProcessWaiter();

// Carries out the clean-up that "k.bat" of `install_folder` describes, without running
// the batch (the elevated road starts no cmd): reads it, and when the grant for
// `granted_folder` (empty: none was made) succeeded for that same folder and the batch
// holds nothing but the clean-up the uninstallation writes for it, waits for the
// processes it names (not this one), deletes the files it names through held handles,
// then the batch, then each folder it names that is empty, each held while it is checked
// and removed. False (logged) when it was refused.
[[nodiscard]] bool RunUninstallBat(const base::FilePath& install_folder,
                                   const base::FilePath& granted_folder,
                                   const BatchProcessWaiter& waiter = DefaultBatchProcessWaiter());

namespace internal {

// What the helper holds while it deletes: every folder from the install folder down to
// each file, none of which can then be renamed or replaced, and the files themselves.
struct DeletionHolds {
  std::vector<HeldFile> folders;
  std::vector<HeldFile> files;
};

// Holds the ways to the batch's files below the held `install_folder` (the normalized
// `folder`, as checked). A folder on a way that is not where its name says (a link, or
// reached through one) refuses the whole batch; a file whose way or name is gone, or that
// is no plain file there, is skipped with a log line.
base::Result<> HoldDeletionWays(const CleanupBatch& batch, const base::FilePath& folder,
                                const HeldFile& install_folder, DeletionHolds* holds);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_UNINSTALL_BATCH_RUNNER_H_
