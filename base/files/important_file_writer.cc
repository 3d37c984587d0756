#include "base/files/important_file_writer.h"

#include <windows.h>

#include <stdint.h>

#include <utility>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/metrics/histogram.h"

namespace base {

namespace {

const int64_t kDefaultCommitIntervalUs = 10 * 1000 * 1000;

// File::Write takes an int count.
const size_t kMaxDataSize = 0x7FFFFFFF;

ImportantFileWriter::ReplaceFileFunction g_replace_file = &ReplaceFile;

void RecordTempFileFailure(ImportantFileWriter::TempFileFailure failure) {
  static HistogramBase* histogram = LinearHistogram::FactoryGet(
      "ImportantFile.TempFileFailures", ImportantFileWriter::TEMP_FILE_FAILURE_MAX,
      ImportantFileWriter::TEMP_FILE_FAILURE_MAX + 1);
  if (histogram)
    histogram->Add(failure);
}

bool FailAndDelete(ImportantFileWriter::TempFileFailure failure, const FilePath& temp_file) {
  RecordTempFileFailure(failure);
  DeleteFile(temp_file, false);
  return false;
}

void WriteFileAtomicallyWithCallbacks(const FilePath& path, const std::string& data,
                                      const Closure& before_write,
                                      const Callback<void(bool)>& after_write) {
  if (!before_write.is_null())
    before_write.Run();
  bool result = ImportantFileWriter::WriteFileAtomically(path, data);
  if (!after_write.is_null())
    after_write.Run(result);
}

// Stands in for a write whose data cannot be written at all.
void ReportOversizedWrite(const Callback<void(bool)>& after_write) {
  RecordTempFileFailure(ImportantFileWriter::FAILED_WRITING);
  if (!after_write.is_null())
    after_write.Run(false);
}

// Runs |task| on |task_runner|, or here when the runner refuses it.
void PostOrRunHere(SequencedTaskRunner* task_runner, const Location& from_here, Closure task) {
  // Only a copy travels: a refused post releases its copy, this one stays runnable.
  if (!task_runner->PostTask(from_here, task))
    task.Run();
}

}  // namespace

// static
bool ImportantFileWriter::WriteFileAtomically(const FilePath& path, StringPiece data) {
  FilePath temp_file;
  if (!CreateTemporaryFileInDir(path.DirName(), &temp_file)) {
    RecordTempFileFailure(FAILED_CREATING);
    return false;
  }
  File file(temp_file, File::FLAG_OPEN | File::FLAG_WRITE);
  if (!file.IsValid())
    return FailAndDelete(FAILED_OPENING, temp_file);

  int bytes_written = file.Write(0, data.data(), static_cast<int>(data.size()));
  // The move below is atomic only for data already on the disk.
  bool flushed = FlushFileBuffers(file.GetPlatformFile()) != 0;
  file.Close();

  if (bytes_written < static_cast<int>(data.size()))
    return FailAndDelete(FAILED_WRITING, temp_file);
  if (!flushed)
    return FailAndDelete(FAILED_FLUSHING, temp_file);
  if (!g_replace_file(temp_file, path)) {
    // Without a backup name, a replace that cannot move the new file in may already have
    // removed the old one: the temporary file then holds the only copy of the data.
    if (PathExists(path))
      return FailAndDelete(FAILED_RENAMING, temp_file);
    if (!g_replace_file(temp_file, path)) {
      RecordTempFileFailure(FAILED_RENAMING);
      return false;
    }
  }
  return true;
}

// static
void ImportantFileWriter::SetReplaceFileFunctionForTesting(ReplaceFileFunction function) {
  g_replace_file = function ? function : &ReplaceFile;
}

ImportantFileWriter::ImportantFileWriter(const FilePath& path,
                                         scoped_refptr<SequencedTaskRunner> task_runner)
    : ImportantFileWriter(path, std::move(task_runner),
                          TimeDelta::FromMicroseconds(kDefaultCommitIntervalUs)) {}

ImportantFileWriter::ImportantFileWriter(const FilePath& path,
                                         scoped_refptr<SequencedTaskRunner> task_runner,
                                         TimeDelta interval)
    : path_(path),
      task_runner_(std::move(task_runner)),
      commit_interval_(interval),
      max_data_size_(kMaxDataSize),
      weak_factory_(this) {}

ImportantFileWriter::~ImportantFileWriter() {
  weak_factory_.InvalidateWeakPtrs();
}

bool ImportantFileWriter::HasPendingWrite() const {
  return timer_.IsRunning();
}

void ImportantFileWriter::WriteNow(std::unique_ptr<std::string> data) {
  Closure before_write = std::move(before_next_write_callback_);
  Callback<void(bool)> after_write = std::move(after_next_write_callback_);
  before_next_write_callback_.Reset();
  after_next_write_callback_.Reset();

  if (data->size() > max_data_size_) {
    // Nothing can be written; the owner still learns that this write failed.
    PostOrRunHere(task_runner_.get(),
                  Location("WriteNow", "base/files/important_file_writer", 185,
                           GetCallerAddress()),
                  Bind(&ReportOversizedWrite, std::move(after_write)));
    return;
  }

  if (HasPendingWrite())
    timer_.Stop();

  PostOrRunHere(task_runner_.get(),
                Location("WriteNow", "base/files/important_file_writer", 185,
                         GetCallerAddress()),
                Bind(&WriteFileAtomicallyWithCallbacks, path_, std::move(*data),
                     std::move(before_write), std::move(after_write)));
}

void ImportantFileWriter::ScheduleWrite(DataSerializer* serializer) {
  serializer_ = serializer;
  if (!timer_.IsRunning()) {
    timer_.Start(Location("ScheduleWrite", "base/files/important_file_writer", 202,
                          GetCallerAddress()),
                 commit_interval_,
                 Bind(&ImportantFileWriter::DoScheduledWrite, weak_factory_.GetWeakPtr()));
  }
}

void ImportantFileWriter::DoScheduledWrite() {
  // Forgotten first: a write that runs here (refused post) may schedule the next one.
  DataSerializer* serializer = serializer_;
  serializer_ = nullptr;
  std::unique_ptr<std::string> data(new std::string);
  if (serializer && serializer->SerializeData(data.get()))
    WriteNow(std::move(data));
}

void ImportantFileWriter::RegisterOnNextWriteCallbacks(Closure before_next_write,
                                                       Callback<void(bool)> after_next_write) {
  before_next_write_callback_ = std::move(before_next_write);
  after_next_write_callback_ = std::move(after_next_write);
}

}  // namespace base
