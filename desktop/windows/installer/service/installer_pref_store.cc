#include "desktop/windows/installer/service/installer_pref_store.h"

#include <windows.h>

#include <atomic>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/location.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/sequenced_worker_pool.h"
#include "components/prefs/json_pref_store.h"

namespace installer {

namespace {

const size_t kMaxWorkers = 2;

// 0: no pool; 1: being made by some thread; else the holder's address.
std::atomic<uintptr_t> g_holder(0);

void ShutDownPrefsTaskPool(void*) {
  PrefsTaskPoolHolder* holder = reinterpret_cast<PrefsTaskPoolHolder*>(g_holder.load());
  if (reinterpret_cast<uintptr_t>(holder) > 1) {
    // Writes of released stores are block-shutdown tasks: they finish first.
    holder->pool->Shutdown();
    // Each worker drops its own reference as its thread ends. Should a worker's be the last,
    // the deletion would have to be posted to the loop that made the pool, long gone by now:
    // the workers are joined first, so the holder's reference is released after theirs.
    // Refused, and logged, only on a worker of the pool: exit callbacks never run there.
    static_cast<void>(holder->pool->JoinWorkers());
    delete holder;
  }
  g_holder.store(0);
}

}  // namespace

PrefsTaskPoolHolder* GetPrefsTaskPool() {
  uintptr_t value = g_holder.load();
  if (value > 1) return reinterpret_cast<PrefsTaskPoolHolder*>(value);
  uintptr_t expected = 0;
  if (g_holder.compare_exchange_strong(expected, 1)) {
    PrefsTaskPoolHolder* holder = new PrefsTaskPoolHolder;
    holder->pool = new base::SequencedWorkerPool(kMaxWorkers, "PrefsTaskPool");
    g_holder.store(reinterpret_cast<uintptr_t>(holder));
    base::ExitCallbackStack::Register(&ShutDownPrefsTaskPool, nullptr);
    return holder;
  }
  // Another thread is making it.
  while ((value = g_holder.load()) == 1) Sleep(0);
  return reinterpret_cast<PrefsTaskPoolHolder*>(value);
}

base::scoped_refptr<JsonPrefStore> CreateInstallerPrefStore(PrefsTaskPoolHolder* holder,
                                                            const base::FilePath& path) {
  base::scoped_refptr<JsonPrefStore> store =
      new JsonPrefStore(path, JsonPrefStore::GetTaskRunnerForFile(path, holder->pool.get()));
  store->ReadPrefs();
  return store;
}

void CommitInstallerPrefStore(PrefsTaskPoolHolder* holder, JsonPrefStore* store,
                              const base::FilePath& path) {
  store->FlushPendingWrite();
  // The write runs on the file's own sequence: a task queued behind it runs after it.
  base::SyncEvent written(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED);
  if (JsonPrefStore::GetTaskRunnerForFile(path, holder->pool.get())
          ->PostTask(FROM_HERE, base::Bind(&base::SyncEvent::Signal, &written)))
    written.Wait();
}

}  // namespace installer
