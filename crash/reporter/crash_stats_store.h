// Counts crashes per process type in a small JSON file shared by every reporter process,
// e.g. {"crash_reporter":2,"installer":1}. Counting never touches the file: increments
// wait in memory until the store's writer thread merges them in, with a lock file beside
// it held while it is read and replaced. Counts that cannot be written (the file is locked by
// another process, unreadable, or not JSON, which is never overwritten) stay pending.
#ifndef CRASH_REPORTER_CRASH_STATS_STORE_H_
#define CRASH_REPORTER_CRASH_STATS_STORE_H_

#include <windows.h>

#include <stdint.h>

#include <map>
#include <string>

#include "base/files/file_path.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/os_thread.h"

namespace crash_reporter {

// final: deleted through its own type, never through the thread's delegate interface.
class CrashStatsStore final : public base::OsThread::Delegate {
 public:
  typedef std::map<std::string, uint32_t> Counts;

  // Starts the writer thread at once.
  explicit CrashStatsStore(const base::FilePath& path);
  // Stops the writer, which first makes up to ten attempts to write what is pending.
  ~CrashStatsStore();
  CrashStatsStore(const CrashStatsStore&) = delete;
  CrashStatsStore& operator=(const CrashStatsStore&) = delete;

  // Adds |delta| to |name|'s count; |wake| has the writer merge it into the file soon.
  void Increment(const std::string& name, uint32_t delta, bool wake);

  // Merges the pending counts into the file; on failure they stay pending.
  [[nodiscard]] bool Flush();

  // Reads a statistics file; false when it cannot be read or is not a JSON object.
  // Members that are not non-negative integers are skipped.
  [[nodiscard]] static bool LoadCounts(HANDLE file, Counts* counts);

  // The file every writer of |path| locks while it merges: "<path>.lock".
  static base::FilePath LockFilePath(const base::FilePath& path);

  // The writer thread.
  void ThreadMain() override;

 private:
  [[nodiscard]] bool UpdateFile(const Counts& taken);
  bool HasPending();
  bool Stopping();

  const base::FilePath path_;
  HANDLE thread_ = nullptr;
  base::SyncEvent event_;
  base::Lock lock_;
  Counts pending_;  // under |lock_|
  bool stop_ = false;  // under |lock_|
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_STATS_STORE_H_
