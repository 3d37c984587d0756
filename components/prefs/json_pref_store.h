// JsonPrefStore: preferences kept in memory and persisted to one JSON file. The file is
// read once (on the calling thread or on the file task runner); changes are written back
// atomically on the file task runner.
//
//   base::scoped_refptr<JsonPrefStore> store = new JsonPrefStore(path, runner);
//   store->ReadPrefs();
//   store->SetValue("profile_path", std::make_unique<base::Value>("x"), 0);
//   store->FlushPendingWrite();  // or just release it: the store flushes when it goes
#ifndef COMPONENTS_PREFS_JSON_PREF_STORE_H_
#define COMPONENTS_PREFS_JSON_PREF_STORE_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/time/time.h"
#include "components/prefs/persistent_pref_store.h"

namespace base {
class SequencedTaskRunner;
class SequencedWorkerPool;
}  // namespace base

class JsonPrefStore : public PersistentPrefStore,
                      public base::ImportantFileWriter::DataSerializer {
 public:
  // What a read of the file found; made on whichever thread reads.
  struct ReadResult;

  // The runner for the store of `path`: the pool's sequence "json_pref_store-<path>",
  // whose pending writes hold up the pool's shutdown.
  static base::scoped_refptr<base::SequencedTaskRunner> GetTaskRunnerForFile(
      const base::FilePath& path, base::SequencedWorkerPool* worker_pool);

  // Nothing is read or written here. `file_task_runner` runs the file work; writes are
  // batched on the store's thread's message loop when it has one.
  JsonPrefStore(const base::FilePath& path,
                base::scoped_refptr<base::SequencedTaskRunner> file_task_runner);

  void AddObserver(Observer* observer) override;
  void RemoveObserver(Observer* observer) override;
  bool HasObservers() const override;
  bool IsInitialized() const override;
  [[nodiscard]] bool GetValue(base::StringPiece key, const base::Value** result) const override;
  std::unique_ptr<base::Dictionary> CopyValues() const override;
  void SetValue(base::StringPiece key, std::unique_ptr<base::Value> value,
                uint32_t flags) override;
  void RemoveValue(base::StringPiece key, uint32_t flags) override;
  [[nodiscard]] bool GetStoredValue(base::StringPiece key, base::Value** result) override;
  void NotifyValueChanged(base::StringPiece key, uint32_t flags) override;
  void SetValueWithoutNotification(base::StringPiece key, std::unique_ptr<base::Value> value,
                                   uint32_t flags) override;
  bool IsReadOnly() const override { return read_only_; }
  PrefReadError GetReadError() const override { return read_error_; }
  PrefReadError ReadPrefs() override;
  void ReadPrefsAsync(ReadErrorDelegate* error_delegate) override;
  void FlushPendingWrite() override;
  void ScheduleDeferredWrites() override;
  void ClearValues() override;

  // The compact JSON text of the values, as the file gets it.
  [[nodiscard]] bool SerializeData(std::string* output) override;

  // `reply` runs once after the next write that reaches the disk; a failed write keeps it
  // for the write after. It is posted to the thread that registers it (which needs a task
  // runner), or to `reply_runner`. A later registration replaces the reply.
  void RegisterOnNextSuccessfulWriteReply(const base::Closure& reply);
  void RegisterOnNextSuccessfulWriteReply(const base::Closure& reply,
                                          base::scoped_refptr<base::TaskRunner> reply_runner);

 private:
  ~JsonPrefStore() override;

  void OnFileRead(std::unique_ptr<ReadResult> result);
  void ScheduleWrite(uint32_t flags);
  // Through the writer's commit timer, or at once on a thread without a message loop.
  void ScheduleWriterWrite();
  void WriteValuesNow();
  // Removes, with a log line, each value the reader could not read back from the file.
  void DropValuesTheFileCannotHold();
  void ReportOutstandingWrites();
  // Asks the writer to report its next write, unless it is asked already.
  void ArmWriteReply();
  // On the file task runner, after a write the reply waits for.
  static void PostWriteCallback(base::scoped_refptr<base::TaskRunner> reply_runner,
                                base::WeakPtr<JsonPrefStore> store, bool succeeded);
  void RunOrKeepWriteReply(bool succeeded);

  const base::FilePath path_;
  const base::scoped_refptr<base::SequencedTaskRunner> file_task_runner_;
  std::unique_ptr<base::Dictionary> values_;
  bool read_only_;
  base::ImportantFileWriter writer_;
  base::ObserverList<Observer> observers_;
  std::unique_ptr<ReadErrorDelegate> error_delegate_;
  bool initialized_;
  bool pending_lossy_write_;
  // A change waits for the writer's commit timer, which dies with its loop.
  bool changes_waiting_for_timer_;
  PrefReadError read_error_;

  // Writes since the last report of "Settings.JsonDataWriteCount.<file>".
  int writes_since_report_;
  base::TimeTicks last_write_report_;

  base::Closure on_next_successful_write_reply_;
  base::scoped_refptr<base::TaskRunner> write_reply_runner_;
  bool write_reply_pending_ = false;

  base::WeakPtrFactory<JsonPrefStore> weak_factory_;
};

#endif  // COMPONENTS_PREFS_JSON_PREF_STORE_H_
