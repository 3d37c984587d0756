#include "crash/reporter/crash_stats_store.h"

#include <limits.h>

#include <memory>
#include <utility>

#include "base/files/file.h"
#include "base/files/important_file_writer.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/values.h"

namespace crash_reporter {

namespace {

constexpr int kFailuresBeforeWaiting = 10;
constexpr int kFinalAttempts = 10;

void AddCounts(const CrashStatsStore::Counts& from, CrashStatsStore::Counts* to) {
  for (const auto& count : from) (*to)[count.first] += count.second;
}

}  // namespace

CrashStatsStore::CrashStatsStore(const base::FilePath& path)
    : path_(path), event_(base::SyncEvent::AUTOMATIC, base::SyncEvent::NOT_SIGNALED) {
  if (!base::OsThread::Create(0, this, &thread_, base::OsThread::PRIORITY_NORMAL)) {
    LOG(ERROR) << "cannot start the crash statistics writer";
    thread_ = nullptr;
  }
}

CrashStatsStore::~CrashStatsStore() {
  {
    base::AutoLock hold(lock_);
    stop_ = true;
  }
  event_.Signal();
  if (thread_) base::OsThread::Join(thread_);
}

void CrashStatsStore::Increment(const std::string& name, uint32_t delta, bool wake) {
  {
    base::AutoLock hold(lock_);
    pending_[name] += delta;
  }
  if (wake) event_.Signal();
}

bool CrashStatsStore::HasPending() {
  base::AutoLock hold(lock_);
  return !pending_.empty();
}

bool CrashStatsStore::Stopping() {
  base::AutoLock hold(lock_);
  return stop_;
}

bool CrashStatsStore::Flush() {
  Counts taken;
  {
    base::AutoLock hold(lock_);
    taken.swap(pending_);
  }
  if (taken.empty()) return true;
  if (UpdateFile(taken)) return true;
  base::AutoLock hold(lock_);
  AddCounts(taken, &pending_);
  return false;
}

bool CrashStatsStore::LoadCounts(HANDLE handle, Counts* counts) {
  LARGE_INTEGER size = {};
  // A length that cannot be read is treated as a file with content.
  if (GetFileSizeEx(handle, &size) && size.QuadPart == 0) return true;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) return false;
  std::string text;
  char piece[1024];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(handle, piece, sizeof(piece), &read, nullptr)) return false;
    if (read == 0) break;
    text.append(piece, read);
  }
  std::unique_ptr<base::Dictionary> dictionary =
      base::Dictionary::From(base::JsonReader::Read(text));
  if (!dictionary) return false;
  for (base::Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    int value = 0;
    if (it.value().GetAsInteger(&value) && value >= 0)
      (*counts)[it.key()] += static_cast<uint32_t>(value);
  }
  return true;
}

base::FilePath CrashStatsStore::LockFilePath(const base::FilePath& path) {
  return base::FilePath(path.value() + L".lock");
}

bool CrashStatsStore::UpdateFile(const Counts& taken) {
  // Reporters serialise on a lock file beside the statistics, which is never truncated in
  // place: the merged counts replace it whole (the file being replaced cannot be the one
  // held locked), so a failed write or a kill part way leaves the previous counts.
  base::File lock(LockFilePath(path_), base::File::FLAG_OPEN_ALWAYS | base::File::FLAG_READ |
                                           base::File::FLAG_WRITE);
  if (!lock.IsValid() || lock.Lock() != base::File::FILE_OK) return false;
  Counts counts;
  base::File file(path_, base::File::FLAG_OPEN | base::File::FLAG_READ);
  if (file.IsValid()) {
    if (!LoadCounts(file.GetPlatformFile(), &counts)) return false;
  } else if (file.error_details() != base::File::FILE_ERROR_NOT_FOUND) {
    return false;
  }
  file.Close();
  AddCounts(taken, &counts);

  base::Dictionary dictionary;
  for (const auto& count : counts) {
    const int value = count.second > INT_MAX ? INT_MAX : static_cast<int>(count.second);
    dictionary.SetWithoutPathExpansion(count.first, std::make_unique<base::Value>(value));
  }
  std::string text;
  if (!base::JsonWriter::WriteWithOptions(dictionary, 0, &text)) return false;
  // Closing the lock file afterwards releases the lock.
  return base::ImportantFileWriter::WriteFileAtomically(path_, text);
}

void CrashStatsStore::ThreadMain() {
  base::OsThread::SetName("CrashStatsStore");
  event_.Wait();
  int failures = 0;
  while (!Stopping()) {
    if (Flush()) {
      failures = 0;
    } else if (++failures < kFailuresBeforeWaiting) {
      // Retry soon; a run of failures leaves the counts for the next increment.
      event_.Signal();
      base::OsThread::Sleep(base::TimeDelta::FromMilliseconds(100));
    } else {
      failures = 0;
    }
    event_.Wait();
  }
  if (!HasPending()) return;
  for (int attempt = 0; attempt < kFinalAttempts; ++attempt) {
    if (attempt) base::OsThread::Sleep(base::TimeDelta::FromMilliseconds(50));
    if (Flush()) return;
  }
}

}  // namespace crash_reporter
