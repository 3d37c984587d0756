#include "components/prefs/json_pref_store.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/json/json_parser.h"
#include "base/json/json_writer.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/sequenced_task_runner.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"

namespace {

const int64_t kCommitIntervalSeconds = 10;
const char kSequenceNamePrefix[] = "json_pref_store-";
const int64_t kWriteReportIntervalMinutes = 5;

// "<file base name>" with blanks as "_", for the per-file histogram names.
std::string HistogramSuffix(const base::FilePath& path) {
  std::string suffix = base::WideToASCII(path.BaseName().value());
  for (char& c : suffix) {
    if (c == ' ') c = '_';
  }
  return suffix;
}

// Dictionaries and lists a preference value may open at once: the file's own dictionary
// holds it, and the reader refuses the text once 200 are open.
const int kMaxValueNesting = base::JsonParser::kStackMaxDepth - 2;

// The members of a dictionary or the elements of a list; nothing for any other value.
std::vector<const base::Value*> ChildrenOf(const base::Value& value) {
  std::vector<const base::Value*> children;
  const base::Dictionary* dictionary = nullptr;
  const base::List* list = nullptr;
  if (value.GetAsDictionary(&dictionary)) {
    for (base::Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance())
      children.push_back(&it.value());
  } else if (value.GetAsList(&list)) {
    for (size_t i = 0; i < list->size(); ++i) {
      const base::Value* element = nullptr;
      if (list->Get(i, &element)) children.push_back(element);
    }
  }
  return children;
}

// Whether `value` opens at most `levels` dictionaries and lists at once. Never descends
// further than that, so a value built deeper than the stack allows is still measured.
bool NestsWithin(const base::Value& value, int levels) {
  if (!value.is_dictionary() && !value.is_list()) return true;
  if (levels == 0) return false;
  for (const base::Value* child : ChildrenOf(value)) {
    if (!NestsWithin(*child, levels - 1)) return false;
  }
  return true;
}

// A value the file could hold but never read back is refused: written, it would cost the
// whole file at the next read, every other preference with it. Each '.' of the key is a
// dictionary of its own around the value.
bool FitsTheFile(base::StringPiece key, const base::Value& value) {
  const int path_levels = static_cast<int>(std::count(key.begin(), key.end(), '.'));
  if (path_levels <= kMaxValueNesting && NestsWithin(value, kMaxValueNesting - path_levels))
    return true;
  LOG(ERROR) << "Preference \"" << key << "\" refused: nested deeper than the preferences "
             << "file can read back (" << kMaxValueNesting << " levels below the file's own)";
  return false;
}

void DropMembersDeeperThan(base::Dictionary* dictionary, int levels);

// What of `value` opens at most `levels` dictionaries and lists: one too deep is entered,
// so only its deepest members or elements go and their siblings stay; null when nothing
// is left, so one emptied so goes with them.
std::unique_ptr<base::Value> KeepWithin(std::unique_ptr<base::Value> value, int levels) {
  if (NestsWithin(*value, levels)) return value;
  if (levels == 0) return nullptr;
  base::Dictionary* dictionary = nullptr;
  base::List* list = nullptr;
  if (value->GetAsDictionary(&dictionary)) {
    DropMembersDeeperThan(dictionary, levels - 1);
    if (dictionary->empty()) return nullptr;
    return value;
  }
  if (!value->GetAsList(&list)) return nullptr;
  std::unique_ptr<base::List> kept = std::make_unique<base::List>();
  for (size_t i = 0; i < list->size(); ++i) {
    base::Value* element = nullptr;
    if (!list->Get(i, &element)) continue;
    kept->Append(KeepWithin(std::make_unique<base::Value>(std::move(*element)), levels - 1));
  }
  if (kept->empty()) return nullptr;
  return kept;
}

// Removes from `dictionary` only what opens more than `levels` dictionaries and lists
// below it, as KeepWithin does.
void DropMembersDeeperThan(base::Dictionary* dictionary, int levels) {
  std::vector<std::string> too_deep;
  for (base::Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    if (!NestsWithin(it.value(), levels)) too_deep.push_back(it.key());
  }
  for (const std::string& key : too_deep) {
    std::unique_ptr<base::Value> member;
    if (!dictionary->RemoveWithoutPathExpansion(key, &member)) continue;
    dictionary->SetWithoutPathExpansion(key, KeepWithin(std::move(member), levels));
  }
}

}  // namespace

struct JsonPrefStore::ReadResult {
  std::unique_ptr<base::Value> value;
  PrefReadError error = PREF_READ_ERROR_NONE;
  bool no_dir = false;
};

namespace {

std::unique_ptr<JsonPrefStore::ReadResult> ReadPrefsFromDisk(const base::FilePath& path) {
  std::unique_ptr<JsonPrefStore::ReadResult> result(new JsonPrefStore::ReadResult);
  base::JsonFileReader reader(path, 0);
  int error_code = 0;
  std::string error_message;
  result->value = reader.Deserialize(&error_code, &error_message);
  if (!result->value) {
    switch (error_code) {
      case base::JsonFileReader::JSON_ACCESS_DENIED:
        result->error = PersistentPrefStore::PREF_READ_ERROR_ACCESS_DENIED;
        break;
      case base::JsonFileReader::JSON_CANNOT_READ_FILE:
        result->error = PersistentPrefStore::PREF_READ_ERROR_FILE_OTHER;
        break;
      case base::JsonFileReader::JSON_FILE_LOCKED:
        result->error = PersistentPrefStore::PREF_READ_ERROR_FILE_LOCKED;
        break;
      case base::JsonFileReader::JSON_NO_SUCH_FILE:
        result->error = PersistentPrefStore::PREF_READ_ERROR_NO_FILE;
        break;
      default: {
        // Kept aside for diagnosis; the store starts afresh.
        const base::FilePath bad = path.ReplaceExtension(L"bad");
        const bool bad_existed = base::PathExists(bad);
        // Should the move fail the next read finds the same file and starts afresh again.
        static_cast<void>(base::Move(path, bad));
        result->error = bad_existed ? PersistentPrefStore::PREF_READ_ERROR_JSON_REPEAT
                                    : PersistentPrefStore::PREF_READ_ERROR_JSON_PARSE;
        break;
      }
    }
  } else if (!result->value->is_dictionary()) {
    result->error = PersistentPrefStore::PREF_READ_ERROR_JSON_TYPE;
  } else {
    base::HistogramBase* histogram = base::Histogram::FactoryGet(
        "Settings.JsonDataReadSizeKilobytes." + HistogramSuffix(path), 1, 10000, 50, 1);
    if (histogram) histogram->Add(static_cast<int>(reader.last_read_size() / 1024));
  }
  result->no_dir = !base::DirectoryExists(path.DirName());
  return result;
}

// Runs on the file task runner; the reply takes the result back.
void ReadPrefsTask(const base::FilePath& path,
                   std::unique_ptr<JsonPrefStore::ReadResult>* result) {
  *result = ReadPrefsFromDisk(path);
}

}  // namespace

base::scoped_refptr<base::SequencedTaskRunner> JsonPrefStore::GetTaskRunnerForFile(
    const base::FilePath& path, base::SequencedWorkerPool* worker_pool) {
  return worker_pool->GetSequencedTaskRunner(
      worker_pool->GetNamedSequenceToken(kSequenceNamePrefix + base::WideToUTF8(path.value())),
      base::SequencedWorkerPool::BLOCK_SHUTDOWN);
}

JsonPrefStore::JsonPrefStore(const base::FilePath& path,
                             base::scoped_refptr<base::SequencedTaskRunner> file_task_runner)
    : path_(path),
      file_task_runner_(std::move(file_task_runner)),
      values_(new base::Dictionary),
      read_only_(false),
      writer_(path_, file_task_runner_, base::TimeDelta::FromSeconds(kCommitIntervalSeconds)),
      initialized_(false),
      pending_lossy_write_(false),
      changes_waiting_for_timer_(false),
      read_error_(PREF_READ_ERROR_NONE),
      writes_since_report_(0),
      last_write_report_(base::TimeTicks::Now()),
      weak_factory_(this) {}

JsonPrefStore::~JsonPrefStore() {
  FlushPendingWrite();
  ReportOutstandingWrites();
}

void JsonPrefStore::AddObserver(Observer* observer) { observers_.AddObserver(observer); }
void JsonPrefStore::RemoveObserver(Observer* observer) {
  observers_.RemoveObserver(observer);
}
bool JsonPrefStore::HasObservers() const { return observers_.HasObservers(); }
bool JsonPrefStore::IsInitialized() const { return initialized_; }

bool JsonPrefStore::GetValue(base::StringPiece key, const base::Value** result) const {
  const base::Value* value = nullptr;
  if (!values_->Get(key, &value)) return false;
  if (result) *result = value;
  return true;
}

std::unique_ptr<base::Dictionary> JsonPrefStore::CopyValues() const {
  return base::Dictionary::From(values_->CreateDeepCopy());
}

void JsonPrefStore::SetValue(base::StringPiece key, std::unique_ptr<base::Value> value,
                             uint32_t flags) {
  DCHECK(value);
  if (!FitsTheFile(key, *value)) return;
  base::Value* old_value = nullptr;
  if (values_->Get(key, &old_value) && old_value->Equals(*value)) return;
  values_->Set(key, std::move(value));
  NotifyValueChanged(key, flags);
}

void JsonPrefStore::SetValueWithoutNotification(base::StringPiece key,
                                                std::unique_ptr<base::Value> value,
                                                uint32_t flags) {
  DCHECK(value);
  if (!FitsTheFile(key, *value)) return;
  base::Value* old_value = nullptr;
  if (values_->Get(key, &old_value) && old_value->Equals(*value)) return;
  values_->Set(key, std::move(value));
  ScheduleWrite(flags);
}

void JsonPrefStore::RemoveValue(base::StringPiece key, uint32_t flags) {
  if (values_->Remove(key, nullptr)) NotifyValueChanged(key, flags);
}

bool JsonPrefStore::GetStoredValue(base::StringPiece key, base::Value** result) {
  return values_->Get(key, result);
}

void JsonPrefStore::NotifyValueChanged(base::StringPiece key, uint32_t flags) {
  const std::string name = key.as_string();
  observers_.Notify(&Observer::OnValueChanged, name);
  ScheduleWrite(flags);
}

PersistentPrefStore::PrefReadError JsonPrefStore::ReadPrefs() {
  OnFileRead(ReadPrefsFromDisk(path_));
  return read_error_;
}

void JsonPrefStore::ReadPrefsAsync(ReadErrorDelegate* error_delegate) {
  error_delegate_.reset(error_delegate);
  // The slot lives in the reply, which runs after the task and owns it.
  auto* slot = new std::unique_ptr<ReadResult>;
  std::shared_ptr<std::unique_ptr<ReadResult>> owner(slot);
  base::WeakPtr<JsonPrefStore> weak = weak_factory_.GetWeakPtr();
  file_task_runner_->PostTaskAndReply(
      FROM_HERE,
      base::Bind(&ReadPrefsTask, path_, slot), base::Bind([weak, owner]() {
        if (JsonPrefStore* store = weak.get()) store->OnFileRead(std::move(*owner));
      }));
}

void JsonPrefStore::OnFileRead(std::unique_ptr<ReadResult> result) {
  std::unique_ptr<base::Dictionary> values(new base::Dictionary);
  read_error_ = result->error;
  if (!result->no_dir) {
    switch (read_error_) {
      case PREF_READ_ERROR_JSON_TYPE:
      case PREF_READ_ERROR_ACCESS_DENIED:
      case PREF_READ_ERROR_FILE_OTHER:
      case PREF_READ_ERROR_FILE_LOCKED:
      case PREF_READ_ERROR_FILE_NOT_SPECIFIED:
        // Whatever is on disk must not be overwritten with what we could not read.
        read_only_ = true;
        break;
      case PREF_READ_ERROR_NONE:
        values = base::Dictionary::From(std::move(result->value));
        break;
      default:
        // A first run or a broken file: defaults may be written freely.
        break;
    }
  }
  if (result->no_dir) {
    observers_.Notify(&Observer::OnInitialized, false);
    return;
  }
  values_ = std::move(values);
  initialized_ = true;
  if (read_error_ != PREF_READ_ERROR_NONE && error_delegate_)
    error_delegate_->OnReadError(read_error_);
  observers_.Notify(&Observer::OnInitialized, true);
}

void JsonPrefStore::FlushPendingWrite() {
  ScheduleDeferredWrites();
  if (read_only_) return;
  if (writer_.HasPendingWrite()) {
    writer_.DoScheduledWrite();
  } else if (changes_waiting_for_timer_) {
    // The loop that held the commit timer ended without running it.
    WriteValuesNow();
  }
}

void JsonPrefStore::ScheduleDeferredWrites() {
  if (pending_lossy_write_) ScheduleWriterWrite();
}

void JsonPrefStore::ClearValues() { LOG(ERROR) << "NOT IMPLEMENTED"; }

void JsonPrefStore::ScheduleWrite(uint32_t flags) {
  if (read_only_) return;
  if (flags & LOSSY_PREF_WRITE_FLAG)
    pending_lossy_write_ = true;
  else
    ScheduleWriterWrite();
}

void JsonPrefStore::ScheduleWriterWrite() {
  if (base::CurrentThreadTaskRunner::IsSet()) {
    changes_waiting_for_timer_ = true;
    writer_.ScheduleWrite(this);
    return;
  }
  // Without a loop there is no timer to batch on: the change goes to disk at once.
  WriteValuesNow();
}

void JsonPrefStore::WriteValuesNow() {
  std::unique_ptr<std::string> data(new std::string);
  if (SerializeData(data.get())) writer_.WriteNow(std::move(data));
}

bool JsonPrefStore::SerializeData(std::string* output) {
  pending_lossy_write_ = false;
  changes_waiting_for_timer_ = false;
  ReportOutstandingWrites();
  ++writes_since_report_;
  DropValuesTheFileCannotHold();
  return base::JsonWriter::Write(*values_, output);
}

void JsonPrefStore::DropValuesTheFileCannotHold() {
  // A value grown in place through GetStoredValue escaped the check at SetValue. The keys
  // here are the file's own: a '.' in one is part of its name, not a level.
  DropMembersDeeperThan(values_.get(), kMaxValueNesting);
}

void JsonPrefStore::RegisterOnNextSuccessfulWriteReply(const base::Closure& reply) {
  RegisterOnNextSuccessfulWriteReply(reply, base::CurrentThreadTaskRunner::Get());
}

void JsonPrefStore::RegisterOnNextSuccessfulWriteReply(
    const base::Closure& reply, base::scoped_refptr<base::TaskRunner> reply_runner) {
  on_next_successful_write_reply_ = reply;
  write_reply_runner_ = std::move(reply_runner);
  ArmWriteReply();
}

void JsonPrefStore::ArmWriteReply() {
  if (write_reply_pending_ || on_next_successful_write_reply_.is_null()) return;
  write_reply_pending_ = true;
  writer_.RegisterOnNextWriteCallbacks(
      base::Closure(), base::Bind(&JsonPrefStore::PostWriteCallback, write_reply_runner_,
                                  weak_factory_.GetWeakPtr()));
}

// static
void JsonPrefStore::PostWriteCallback(base::scoped_refptr<base::TaskRunner> reply_runner,
                                      base::WeakPtr<JsonPrefStore> store, bool succeeded) {
  reply_runner->PostTask(
      base::Location("PostWriteCallback", __FILE__, __LINE__, base::GetCallerAddress()),
      base::Bind([store, succeeded]() {
        if (JsonPrefStore* self = store.get()) self->RunOrKeepWriteReply(succeeded);
      }));
}

void JsonPrefStore::RunOrKeepWriteReply(bool succeeded) {
  write_reply_pending_ = false;
  if (!succeeded) {
    ArmWriteReply();
    return;
  }
  base::Closure reply = std::move(on_next_successful_write_reply_);
  on_next_successful_write_reply_.Reset();
  if (!reply.is_null()) reply.Run();
}

void JsonPrefStore::ReportOutstandingWrites() {
  const base::TimeDelta interval = base::TimeDelta::FromSeconds(kWriteReportIntervalMinutes * 60);
  const base::TimeDelta passed = base::TimeTicks::Now() - last_write_report_;
  if (passed < interval) return;
  static_assert(kWriteReportIntervalMinutes * 60 / kCommitIntervalSeconds == 30,
                "the histogram's range is the writes one interval can hold");
  base::HistogramBase* histogram = base::Histogram::FactoryGet(
      "Settings.JsonDataWriteCount." + HistogramSuffix(path_), 1, 30, 31,
      base::HistogramBase::kUmaTargetedHistogramFlag);
  const int64_t intervals = passed.InMicroseconds() / interval.InMicroseconds();
  if (histogram) {
    histogram->Add(writes_since_report_);
    for (int64_t i = 1; i < intervals; ++i) histogram->Add(0);
  }
  writes_since_report_ = 0;
  last_write_report_ = last_write_report_ + base::TimeDelta::FromMicroseconds(
                                                intervals * interval.InMicroseconds());
}
