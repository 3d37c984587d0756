#include "desktop/windows/installer/package_fetcher/output_writer.h"

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"

namespace installer {

namespace {

// Jobs hold no data of their own, so the queue may run far ahead of the writes.
constexpr size_t kMaxQueued = 256;

// One output file: created, written, timed and closed, or removed again, so that
// nothing half-written stays behind.
class EntryWriter {
 public:
  explicit EntryWriter(const base::FilePath& path) : path_(path) {}
  ~EntryWriter() {
    if (!file_.IsValid()) return;
    file_.Close();
    base::DeleteFileBestEffort(path_, false);
  }
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // Each returns 0, or the Win32 error with |kind| set to the failed step's error kind.
  DWORD Create(int* kind) {
    file_.Set(::CreateFileW(path_.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_.IsValid()) return 0;
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by CreateFile: " << error;
    *kind = LzmaUtil::ERROR_KIND_CREATE_FILE;
    return error;
  }

  // |fail_halfway| stops after half the data as a full disk would.
  DWORD Write(const unsigned char* data, size_t size, bool fail_halfway, int* kind) {
    size_t written_total = 0;
    const size_t end = fail_halfway ? size / 2 : size;
    while (written_total < size) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(end - written_total, 1u << 30));
      DWORD written = 0;
      const bool wrote = written_total < end &&
                         ::WriteFile(file_.Get(), data + written_total, chunk, &written, nullptr);
      if (!wrote || written != chunk) {
        DWORD error = written_total < end ? ::GetLastError() : ERROR_DISK_FULL;
        // A short write can leave no error code behind; still a failure.
        if (error == NO_ERROR) error = ERROR_WRITE_FAULT;
        LOG(ERROR) << "Error returned by WriteFile: " << error;
        *kind = LzmaUtil::ERROR_KIND_WRITE;
        return error;
      }
      written_total += written;
    }
    return 0;
  }

  DWORD SetTime(const FILETIME& time, int* kind) {
    if (::SetFileTime(file_.Get(), nullptr, nullptr, &time)) return 0;
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by SetFileTime: " << error;
    *kind = LzmaUtil::ERROR_KIND_SET_TIME;
    return error;
  }

  // The one close whose failure the extraction reports, so the owner's checked close;
  // the file is kept only when it succeeds.
  DWORD Close(int* kind) {
    if (file_.CloseChecked()) return 0;
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by CloseHandle: " << error;
    base::DeleteFileBestEffort(path_, false);
    *kind = LzmaUtil::ERROR_KIND_CLOSE;
    return error;
  }

 private:
  const base::FilePath path_;
  base::ScopedHandle file_;
};

}  // namespace

OutputWriter::OutputWriter(const EnsureFolder& ensure_folder, const Progress& progress)
    : base::PlainThread("Package unpacking writer"),
      ensure_folder_(ensure_folder),
      progress_(progress) {}

OutputWriter::~OutputWriter() {
  {
    base::AutoLock hold(lock_);
    stopping_ = true;
    done_ += queue_.size();
    queue_.clear();
    ::WakeAllConditionVariable(&changed_);
  }
  if (threaded_) Join();
}

bool OutputWriter::Start() {
  threaded_ = base::PlainThread::Start();
  return threaded_;
}

bool OutputWriter::Push(Job job, uint64_t* number) {
  if (!threaded_) {
    if (failure_.error != 0) return false;
    const uint64_t own = ++pushed_;
    if (number) *number = own;
    int kind = LzmaUtil::ERROR_KIND_NONE;
    const DWORD error = Do(job, own, &kind);
    Done(own, job, error, kind);
    return error == 0;
  }
  base::AutoLock hold(lock_);
  while (queue_.size() >= kMaxQueued && failure_.error == 0)
    ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
  if (failure_.error != 0) return false;
  queue_.push_back(std::move(job));
  ++pushed_;
  if (number) *number = pushed_;
  ::WakeAllConditionVariable(&changed_);
  return true;
}

void OutputWriter::WaitFor(uint64_t number) {
  base::AutoLock hold(lock_);
  while (done_ < number)
    ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
}

DWORD OutputWriter::Finish(Failure* failure) {
  base::AutoLock hold(lock_);
  while (done_ < pushed_)
    ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
  if (failure_.error != 0 && failure) *failure = failure_;
  return failure_.error;
}

uint64_t OutputWriter::done() {
  base::AutoLock hold(lock_);
  return done_;
}

void OutputWriter::Run() {
  for (;;) {
    Job job;
    uint64_t number;
    {
      base::AutoLock hold(lock_);
      while (queue_.empty() && !stopping_)
        ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      number = done_ + 1;
    }
    int kind = LzmaUtil::ERROR_KIND_NONE;
    const DWORD error = Do(job, number, &kind);
    Done(number, job, error, kind);
  }
}

DWORD OutputWriter::Do(const Job& job, uint64_t number, int* kind) {
  if (progress_) progress_(job.entry);
  DWORD error = ensure_folder_(job.folder ? job.path : job.path.DirName());
  if (error != 0 || job.folder) {
    *kind = LzmaUtil::ERROR_KIND_CREATE_FILE;
    return error;
  }
  EntryWriter writer(job.path);
  error = writer.Create(kind);
  if (error == 0) error = writer.Write(job.data, job.size, number == failing_job_, kind);
  if (error == 0 && job.has_time) error = writer.SetTime(job.time, kind);
  if (error == 0) error = writer.Close(kind);
  return error;
}

void OutputWriter::Done(uint64_t number, const Job& job, DWORD error, int kind) {
  base::AutoLock hold(lock_);
  done_ = std::max(done_, number);
  if (error != 0 && failure_.error == 0) {
    failure_.path = job.path;
    failure_.error = error;
    failure_.kind = kind;
    // What was queued after the failure is never written.
    done_ += queue_.size();
    queue_.clear();
  }
  ::WakeAllConditionVariable(&changed_);
}

}  // namespace installer
