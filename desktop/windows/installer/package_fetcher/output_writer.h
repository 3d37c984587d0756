// OutputWriter makes the folders and writes the files of an extraction on a thread of its
// own, in the order they are queued, so that the file system's cost per file (create,
// write, time, close) overlaps the decoding of the next files instead of following it.
//
//   OutputWriter writer(ensure_folder);
//   writer.Start();                    // without a thread, Push does the work itself
//   if (!writer.Push(job)) ...         // a write failed: stop queueing
//   DWORD result = writer.Finish(&failure);
//
// A queued file's data must stay valid until done() has reached the number Push gave it.
// The first failure stops the writing: later jobs are dropped, the failed file is
// removed, and Push and Finish report it.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_OUTPUT_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_OUTPUT_WRITER_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <functional>

#include "base/files/file_path.h"
#include "base/synchronization/lock.h"
#include "base/threading/plain_thread.h"

namespace installer {

class OutputWriter : public base::PlainThread {
 public:
  // A folder to make, or a file (in a folder to make first) to write with |size| bytes
  // of |data| and, when |has_time|, |time| as its last-write time.
  struct Job {
    uint32_t entry = 0;  // the archive entry, reported to the progress callback first
    base::FilePath path;
    bool folder = false;
    const unsigned char* data = nullptr;
    size_t size = 0;
    bool has_time = false;
    FILETIME time = {};
  };
  // A failed job: its path, the Win32 error and the extraction's error kind.
  struct Failure {
    base::FilePath path;
    DWORD error = 0;
    int kind = 0;
  };
  // Makes |path| with its parents; 0 or the Win32 error, logged.
  using EnsureFolder = std::function<DWORD(const base::FilePath& path)>;
  // Reports that the job of archive entry |entry| begins; may be empty.
  using Progress = std::function<void(uint32_t entry)>;

  OutputWriter(const EnsureFolder& ensure_folder, const Progress& progress);
  // Drops what is still queued and joins the thread.
  ~OutputWriter() override;

  // Starts the thread; false when there is none, and Push then does each job itself.
  bool Start() override;

  // Queues |job|, waiting while the queue is full; false, without queueing, once a job
  // has failed. |number| (may be null) receives the job's number, counted from 1.
  [[nodiscard]] bool Push(Job job, uint64_t* number);
  // Waits until the jobs up to |number| are done (written, failed or dropped).
  void WaitFor(uint64_t number);
  // Waits until every queued job is done; 0, or the first failure's error with
  // |failure| (may be null) filled in.
  [[nodiscard]] DWORD Finish(Failure* failure);
  // The number of the last job that is done.
  uint64_t done();

  // The file job numbered |number| fails as a write on a full disk does, half-written.
  void set_failing_job_for_testing(uint64_t number) { failing_job_ = number; }

 private:
  // PlainThread:
  void Run() override;

  // Does job |number|; 0 or the Win32 error with |kind| set.
  DWORD Do(const Job& job, uint64_t number, int* kind);
  // Records the outcome of job |number| under the lock.
  void Done(uint64_t number, const Job& job, DWORD error, int kind);

  const EnsureFolder ensure_folder_;
  const Progress progress_;
  base::Lock lock_;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  std::deque<Job> queue_;
  uint64_t pushed_ = 0;
  uint64_t done_ = 0;
  bool threaded_ = false;
  bool stopping_ = false;
  Failure failure_;
  uint64_t failing_job_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_OUTPUT_WRITER_H_
