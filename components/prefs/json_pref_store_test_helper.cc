// Rewrites the preference "payload" of "<folder>\installer_prefs.json" through the JSON
// preference store until it is killed, with the complete versions of the kill tests;
// sets the named event (second argument) after the first write.
#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/sequenced_task_runner.h"
#include "base/test/kill_test_util.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"

namespace {

// Refuses every task: the store's writer then writes on this thread, at once.
class RefusingRunner : public base::SequencedTaskRunner {
 public:
  bool PostDelayedTask(const base::Location&, base::Closure, base::TimeDelta) override {
    return false;
  }
  bool PostNonNestableDelayedTask(const base::Location&, base::Closure,
                                  base::TimeDelta) override {
    return false;
  }
  bool RunsTasksOnCurrentThread() const override { return true; }

 private:
  ~RefusingRunner() override = default;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 255;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (!ready) return 254;
  base::scoped_refptr<JsonPrefStore> store = new JsonPrefStore(
      base::FilePath(argv[1]).Append(L"installer_prefs.json"), new RefusingRunner);
  store->ReadPrefs();
  // This thread has no message loop: every change is written before SetValue returns.
  for (int generation = 1;; ++generation) {
    store->SetValue("payload", std::make_unique<base::Value>(base::KillTestContents(generation)),
                    0);
    if (generation == 1) SetEvent(ready);
  }
}
