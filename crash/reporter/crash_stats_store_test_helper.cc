// Merges counts into "<folder>\crash_stats.json" through the statistics store, for its
// kill and concurrency tests:
//   crash_stats_store_test_helper <folder> <event>      counts "installer" one at a time
//       until killed; sets the named event after the first count arrived;
//   crash_stats_store_test_helper <folder> count <n>    counts "installer" n times, each
//       written before the next, then ends with 0.
#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "crash/reporter/crash_stats_store.h"

namespace {

// Another process may hold the file for a moment: retry, bounded.
[[nodiscard]] bool CountOnce(crash_reporter::CrashStatsStore* store) {
  store->Increment("installer", 1, false);
  for (int attempt = 0; attempt < 60000; ++attempt) {
    if (store->Flush()) return true;
    Sleep(1);
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 255;
  const base::FilePath path = base::FilePath(argv[1]).Append(L"crash_stats.json");
  crash_reporter::CrashStatsStore store(path);
  if (std::wstring(argv[2]) == L"count") {
    if (argc < 4) return 255;
    const int count = _wtoi(argv[3]);
    for (int i = 0; i < count; ++i) {
      if (!CountOnce(&store)) return 1;
    }
    return 0;
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (!ready) return 254;
  for (int generation = 1;; ++generation) {
    if (!CountOnce(&store)) return 1;
    if (generation == 1) SetEvent(ready);
  }
}
