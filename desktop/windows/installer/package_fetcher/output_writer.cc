#include "desktop/windows/installer/package_fetcher/output_writer.h"

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/package_fetcher/extraction_error_kind.h"

namespace installer {

namespace {

// Jobs hold no data of their own, so the queue may run far ahead of the writes.
constexpr size_t kMaxQueued = 256;

// The failure of |call| with |error|, logged as the extraction's callers look for it.
base::Failure CallFailure(const char* call, DWORD error, int kind, const base::FilePath& path) {
  LOG(ERROR) << "Error returned by " << call << ": " << error;
  return base::Failure{error, kind, call, path};
}

// One output file: created, written, timed and closed, or removed again, so that
// nothing half-written stays behind.
class EntryWriter {
 public:
  EntryWriter(const base::FilePath& path, const OutputWriter::WriteData& write_data)
      : path_(path), write_data_(write_data) {}
  ~EntryWriter() {
    if (!file_.IsValid()) return;
    file_.Close();
    base::DeleteFileBestEffort(path_, false);
  }
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  base::Result<> Create() {
    file_.Set(::CreateFileW(path_.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_.IsValid()) return {};
    return CallFailure("CreateFile", ::GetLastError(), ERROR_KIND_CREATE_FILE, path_);
  }

  base::Result<> Write(const unsigned char* data, size_t size) {
    size_t written_total = 0;
    while (written_total < size) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - written_total, 1u << 30));
      DWORD written = 0;
      const bool wrote =
          write_data_ ? write_data_(file_.Get(), path_, data + written_total, chunk, &written)
                      : ::WriteFile(file_.Get(), data + written_total, chunk, &written, nullptr);
      if (!wrote || written != chunk) {
        DWORD error = ::GetLastError();
        // A short write can leave no error code behind; still a failure.
        if (error == NO_ERROR) error = ERROR_WRITE_FAULT;
        return CallFailure("WriteFile", error, ERROR_KIND_WRITE, path_);
      }
      written_total += written;
    }
    return {};
  }

  base::Result<> SetTime(const FILETIME& time) {
    if (::SetFileTime(file_.Get(), nullptr, nullptr, &time)) return {};
    return CallFailure("SetFileTime", ::GetLastError(), ERROR_KIND_SET_TIME, path_);
  }

  // The one close whose failure the extraction reports, so the owner's checked close;
  // the file is kept only when it succeeds.
  base::Result<> Close() {
    if (file_.CloseChecked()) return {};
    const DWORD error = ::GetLastError();
    base::DeleteFileBestEffort(path_, false);
    return CallFailure("CloseHandle", error, ERROR_KIND_CLOSE, path_);
  }

 private:
  const base::FilePath path_;
  const OutputWriter::WriteData& write_data_;
  base::ScopedHandle file_;
};

}  // namespace

OutputWriter::OutputWriter(const EnsureFolder& ensure_folder, const Progress& progress,
                           const WriteData& write_data)
    : base::PlainThread("Package unpacking writer"),
      ensure_folder_(ensure_folder),
      progress_(progress),
      write_data_(write_data) {}

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

base::Result<uint64_t> OutputWriter::Push(Job job) {
  if (!threaded_) {
    if (!failure_.ok()) return failure_.failure();
    const uint64_t own = ++pushed_;
    Done(own, Do(job));
    if (!failure_.ok()) return failure_.failure();
    return own;
  }
  base::AutoLock hold(lock_);
  while (queue_.size() >= kMaxQueued && failure_.ok())
    ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
  if (!failure_.ok()) return failure_.failure();
  queue_.push_back(std::move(job));
  ++pushed_;
  ::WakeAllConditionVariable(&changed_);
  return pushed_;
}

void OutputWriter::WaitFor(uint64_t number) {
  base::AutoLock hold(lock_);
  while (done_ < number)
    ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
}

base::Result<> OutputWriter::Finish() {
  base::AutoLock hold(lock_);
  while (done_ < pushed_)
    ::SleepConditionVariableSRW(&changed_, lock_.native_handle(), INFINITE, 0);
  return failure_;
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
    Done(number, Do(job));
  }
}

base::Result<> OutputWriter::Do(const Job& job) {
  if (progress_) progress_(job.entry);
  const base::Result<> made = ensure_folder_(job.folder ? job.path : job.path.DirName());
  if (!made.ok()) {
    return base::Failure{made.failure().error, ERROR_KIND_CREATE_FILE, "CreateDirectory",
                         job.path};
  }
  if (job.folder) return {};
  EntryWriter writer(job.path, write_data_);
  base::Result<> step = writer.Create();
  if (step.ok()) step = writer.Write(job.data, job.size);
  if (step.ok() && job.has_time) step = writer.SetTime(job.time);
  if (step.ok()) step = writer.Close();
  return step;
}

void OutputWriter::Done(uint64_t number, base::Result<> outcome) {
  base::AutoLock hold(lock_);
  done_ = std::max(done_, number);
  if (!outcome.ok() && failure_.ok()) {
    failure_ = std::move(outcome);
    // What was queued after the failure is never written.
    done_ += queue_.size();
    queue_.clear();
  }
  ::WakeAllConditionVariable(&changed_);
}

}  // namespace installer
