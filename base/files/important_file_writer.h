// ImportantFileWriter: saves a file so that a crash or power loss mid-way leaves the old
// or the new contents, never a torn file: temporary file beside the target, write,
// flush, then one rename over the target. Temporary files of the target that a killed
// write left behind are removed by the next successful write. Scheduled writes wait one commit interval, so a
// burst of changes costs one write, serialised when the interval ends. The disk work
// runs on the given task runner.
//
//   ImportantFileWriter writer(path, file_task_runner);
//   writer.ScheduleWrite(this);   // this->SerializeData runs in 10 s, on this thread
#ifndef BASE_FILES_IMPORTANT_FILE_WRITER_H_
#define BASE_FILES_IMPORTANT_FILE_WRITER_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"
#include "base/strings/string_piece.h"
#include "base/time/time.h"
#include "base/timer/timer.h"

namespace base {

class File;

class ImportantFileWriter {
 public:
  // Values of the "ImportantFile.TempFileFailures" histogram.
  enum TempFileFailure {
    FAILED_CREATING = 0,
    FAILED_OPENING = 1,
    FAILED_WRITING = 3,
    FAILED_RENAMING = 4,
    FAILED_FLUSHING = 5,
    TEMP_FILE_FAILURE_MAX = 6,
  };

  class DataSerializer {
   public:
    // Fills |data| with what to write; false drops the write.
    [[nodiscard]] virtual bool SerializeData(std::string* data) = 0;

   protected:
    ~DataSerializer() = default;
  };

  // The atomic write; false (with the target unchanged) when any step fails.
  [[nodiscard]] static bool WriteFileAtomically(const FilePath& path, StringPiece data);
  // Removes the temporary files that writes of |path| cut short left beside it.
  static void DeleteStaleTempFilesOf(const FilePath& path);
  // Whether |name| is a name a write of |target| gives its temporary file beside it.
  static bool IsTempFileNameOf(const std::wstring& name, const FilePath& target);

  // A commit interval of 10 seconds.
  ImportantFileWriter(const FilePath& path, scoped_refptr<SequencedTaskRunner> task_runner);
  ImportantFileWriter(const FilePath& path, scoped_refptr<SequencedTaskRunner> task_runner,
                      TimeDelta interval);
  // A pending scheduled write is dropped; a write already posted still happens.
  ~ImportantFileWriter();
  ImportantFileWriter(const ImportantFileWriter&) = delete;
  ImportantFileWriter& operator=(const ImportantFileWriter&) = delete;

  const FilePath& path() const { return path_; }
  [[nodiscard]] bool HasPendingWrite() const;

  // Writes |data| on the task runner (here when the runner refuses), cancelling a
  // scheduled write. Data of 2^31 bytes or more cannot be written: the after-write
  // callback then reports failure.
  void WriteNow(std::unique_ptr<std::string> data);

  // Writes what |serializer| (which must outlive the wait) gives one commit interval
  // after the first of a series of calls.
  void ScheduleWrite(DataSerializer* serializer);
  // The timer's task; public so that owners can flush a pending write at once.
  void DoScheduledWrite();

  // Both apply to the next write only and run on the task runner around it.
  void RegisterOnNextWriteCallbacks(Closure before_next_write,
                                    Callback<void(bool)> after_next_write);

  TimeDelta commit_interval() const { return commit_interval_; }

  // Stands in for the rename over the target, so that failures (also those of a
  // replace that moves the target away) can be made on demand; null restores it.
  typedef bool (*ReplaceFileFunction)(const FilePath& from, const FilePath& to);
  static void SetReplaceFileFunctionForTesting(ReplaceFileFunction function);
  // Stands in for the flush of the written temporary file; null restores it.
  typedef bool (*FlushFileFunction)(File* file);
  static void SetFlushFileFunctionForTesting(FlushFileFunction function);

  // Lets tests reach the size limit without gigabytes of data.
  void set_max_data_size_for_testing(size_t size) { max_data_size_ = size; }

 private:
  Closure before_next_write_callback_;
  Callback<void(bool)> after_next_write_callback_;
  const FilePath path_;
  const scoped_refptr<SequencedTaskRunner> task_runner_;
  Timer timer_;
  DataSerializer* serializer_ = nullptr;
  const TimeDelta commit_interval_;
  size_t max_data_size_;
  WeakPtrFactory<ImportantFileWriter> weak_factory_;
};

}  // namespace base

#endif  // BASE_FILES_IMPORTANT_FILE_WRITER_H_
