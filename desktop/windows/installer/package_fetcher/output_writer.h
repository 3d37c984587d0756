// OutputWriter makes the folders and writes the files of an extraction on a thread of its
// own, in the order they are queued, so that the file system's cost per file (create,
// write, time, close) overlaps the decoding of the next files instead of following it.
//
//   OutputWriter writer(ensure_folder);
//   writer.Start();                    // without a thread, Push does the work itself
//   if (!writer.Push(job).ok()) ...    // a write failed: stop queueing
//   base::Result<> written = writer.Finish();
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
#include "base/result.h"
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
  // Makes |path| with its parents; the failure (logged) holds the Win32 error.
  using EnsureFolder = std::function<base::Result<>(const base::FilePath& path)>;
  // Reports that the job of archive entry |entry| begins; may be empty.
  using Progress = std::function<void(uint32_t entry)>;
  // Writes |size| bytes of |data| to |file|, the output |path|, as ::WriteFile does: false
  // with the thread's last error set. Tests pass one that fails as a full disk does.
  using WriteData = std::function<bool(HANDLE file, const base::FilePath& path,
                                       const unsigned char* data, DWORD size, DWORD* written)>;

  // An empty |write_data| writes with ::WriteFile.
  OutputWriter(const EnsureFolder& ensure_folder, const Progress& progress,
               const WriteData& write_data = WriteData());
  // Drops what is still queued and joins the thread.
  ~OutputWriter() override;

  // Starts the thread; false when there is none, and Push then does each job itself.
  [[nodiscard]] bool Start() override;

  // Queues |job|, waiting while the queue is full: the job's number, counted from 1, or,
  // without queueing, the first failure once a job has failed.
  base::Result<uint64_t> Push(Job job);
  // Waits until the jobs up to |number| are done (written, failed or dropped).
  void WaitFor(uint64_t number);
  // Waits until every queued job is done; the first failure: its Win32 error, the
  // extraction's error kind (ExtractionErrorKind), the failed call and the job's path.
  base::Result<> Finish();
  // The number of the last job that is done.
  uint64_t done();

 private:
  // PlainThread:
  void Run() override;

  base::Result<> Do(const Job& job);
  // Records the outcome of job |number| under the lock.
  void Done(uint64_t number, base::Result<> outcome);

  const EnsureFolder ensure_folder_;
  const Progress progress_;
  const WriteData write_data_;
  base::Lock lock_;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  std::deque<Job> queue_;
  uint64_t pushed_ = 0;
  uint64_t done_ = 0;
  bool threaded_ = false;
  bool stopping_ = false;
  base::Result<> failure_;  // success until a job fails
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_OUTPUT_WRITER_H_
