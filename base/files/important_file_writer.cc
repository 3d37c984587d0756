#include "base/files/important_file_writer.h"

#include <windows.h>

#include <stdint.h>

#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

const int64_t kDefaultCommitIntervalUs = 10 * 1000 * 1000;

// File::Write takes an int count.
const size_t kMaxDataSize = 0x7FFFFFFF;

// The GUID's text length in a temporary file's name.
const size_t kGuidLength = 36;
const wchar_t kTempSuffix[] = L".tmp";

// One rename: the target holds the old or the new file at every moment, which the
// system's replace call does not promise (it may delete the target before moving the
// new file in). Write-through so the rename itself reaches the disk.
[[nodiscard]] bool RenameOver(const FilePath& from, const FilePath& to) {
  return ::MoveFileExW(from.value().c_str(), to.value().c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

ImportantFileWriter::ReplaceFileFunction g_replace_file = &RenameOver;

[[nodiscard]] bool FlushToDisk(File* file) {
  return FlushFileBuffers(file->GetPlatformFile()) != 0;
}

ImportantFileWriter::FlushFileFunction g_flush_file = &FlushToDisk;

// "<target name>.<GUID>.tmp" beside the target, so that a write killed halfway leaves a
// file that a later write of the same target recognises as its own.
std::wstring TempFilePrefix(const FilePath& target) {
  return target.BaseName().value() + L".";
}

bool IsOwnTempFileName(const std::wstring& name, const std::wstring& prefix) {
  const size_t suffix_length = wcslen(kTempSuffix);
  if (name.size() != prefix.size() + kGuidLength + suffix_length) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  if (name.compare(prefix.size() + kGuidLength, suffix_length, kTempSuffix) != 0) return false;
  for (size_t i = prefix.size(); i < prefix.size() + kGuidLength; ++i) {
    const wchar_t c = name[i];
    const bool dash = i - prefix.size() == 8 || i - prefix.size() == 13 ||
                      i - prefix.size() == 18 || i - prefix.size() == 23;
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
    if (dash ? c != L'-' : !hex) return false;
  }
  return true;
}

// A new empty temporary file for |target|; the plain "<GUID>.tmp" name when the longer
// one would not fit in a path.
[[nodiscard]] bool CreateTempFileFor(const FilePath& target, FilePath* temp_file) {
  const FilePath folder = target.DirName();
  const std::wstring prefix = TempFilePrefix(target);
  if (folder.Append(prefix).value().size() + kGuidLength + wcslen(kTempSuffix) >= MAX_PATH)
    return CreateTemporaryFileInDir(folder, temp_file);
  for (int attempt = 0; attempt < 100; ++attempt) {
    FilePath path = folder.Append(prefix + ASCIIToWide(GenerateGuid()) + kTempSuffix);
    File file(path, File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
    if (file.IsValid()) {
      *temp_file = path;
      return true;
    }
    // Only a name that is taken is worth another try.
    if (file.error_details() != File::FILE_ERROR_EXISTS) return false;
  }
  return false;
}

// Removes what writes of |target| killed before their rename left behind. A temporary
// file still being written elsewhere is open without delete sharing and stays.
void DeleteStaleTempFiles(const FilePath& target) {
  const std::wstring prefix = TempFilePrefix(target);
  FileEnumerator entries(target.DirName(), false, FileEnumerator::FILES,
                         prefix + L"*" + kTempSuffix);
  for (FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    if (IsOwnTempFileName(entry.BaseName().value(), prefix))
      ::DeleteFileW(entry.value().c_str());
  }
}

// What the system's replace call would keep of the replaced file: its attributes and
// its DACL. Best effort: a target whose security cannot be read is still replaced.
void CarryOverAttributes(const FilePath& target, const FilePath& temp_file) {
  const DWORD attributes = ::GetFileAttributesW(target.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (attributes & kept)
    ::SetFileAttributesW(temp_file.value().c_str(), attributes & kept);
  DWORD size = 0;
  ::GetFileSecurityW(target.value().c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  if (size == 0) return;
  std::vector<BYTE> descriptor(size);
  if (::GetFileSecurityW(target.value().c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                         size, &size)) {
    ::SetFileSecurityW(temp_file.value().c_str(), DACL_SECURITY_INFORMATION,
                       descriptor.data());
  }
}

void RecordTempFileFailure(ImportantFileWriter::TempFileFailure failure) {
  static HistogramBase* histogram = LinearHistogram::FactoryGet(
      "ImportantFile.TempFileFailures", ImportantFileWriter::TEMP_FILE_FAILURE_MAX,
      ImportantFileWriter::TEMP_FILE_FAILURE_MAX + 1);
  if (histogram)
    histogram->Add(failure);
}

bool FailAndDelete(ImportantFileWriter::TempFileFailure failure, const FilePath& temp_file) {
  RecordTempFileFailure(failure);
  DeleteFileBestEffort(temp_file, false);
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
void ImportantFileWriter::DeleteStaleTempFilesOf(const FilePath& path) { DeleteStaleTempFiles(path); }

// static
bool ImportantFileWriter::IsTempFileNameOf(const std::wstring& name, const FilePath& target) {
  return IsOwnTempFileName(name, TempFilePrefix(target));
}

// static
bool ImportantFileWriter::WriteFileAtomically(const FilePath& path, StringPiece data) {
  FilePath temp_file;
  if (!CreateTempFileFor(path, &temp_file)) {
    RecordTempFileFailure(FAILED_CREATING);
    return false;
  }
  File file(temp_file, File::FLAG_OPEN | File::FLAG_WRITE);
  if (!file.IsValid())
    return FailAndDelete(FAILED_OPENING, temp_file);

  int bytes_written = file.Write(0, data.data(), static_cast<int>(data.size()));
  // The move below is atomic only for data already on the disk.
  bool flushed = g_flush_file(&file);
  file.Close();

  if (bytes_written < static_cast<int>(data.size()))
    return FailAndDelete(FAILED_WRITING, temp_file);
  if (!flushed)
    return FailAndDelete(FAILED_FLUSHING, temp_file);
  CarryOverAttributes(path, temp_file);
  if (!g_replace_file(temp_file, path)) {
    // A replace that moved the old file away without moving the new one in leaves the
    // temporary file as the only copy of the data.
    if (PathExists(path))
      return FailAndDelete(FAILED_RENAMING, temp_file);
    if (!g_replace_file(temp_file, path)) {
      RecordTempFileFailure(FAILED_RENAMING);
      return false;
    }
  }
  DeleteStaleTempFiles(path);
  return true;
}

// static
void ImportantFileWriter::SetReplaceFileFunctionForTesting(ReplaceFileFunction function) {
  g_replace_file = function ? function : &RenameOver;
}

// static
void ImportantFileWriter::SetFlushFileFunctionForTesting(FlushFileFunction function) {
  g_flush_file = function ? function : &FlushToDisk;
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
