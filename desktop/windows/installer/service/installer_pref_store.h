// The installer's own preference files ("installer_prefs.json" and others), opened as
// JSON preference stores whose writes run on the process-wide "PrefsTaskPool".
//
//   base::scoped_refptr<JsonPrefStore> store =
//       CreateInstallerPrefStore(GetPrefsTaskPool(), folder.Append(L"installer_prefs.json"));
//   store->SetValue("language", std::make_unique<base::Value>("de"), 0);
//   store = nullptr;  // the write runs on the pool; the exit callbacks wait for it
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLER_PREF_STORE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLER_PREF_STORE_H_

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"

class JsonPrefStore;

namespace base {
class SequencedWorkerPool;
}

namespace installer {

struct PrefsTaskPoolHolder {
  base::scoped_refptr<base::SequencedWorkerPool> pool;
};

// The process-wide holder, made on first use by whichever thread comes first; its pool
// is shut down by an exit callback, after the pending writes.
PrefsTaskPoolHolder* GetPrefsTaskPool();

// A store for `path` that writes through `holder`'s pool, already read (a missing or
// broken file gives a store without values).
base::scoped_refptr<JsonPrefStore> CreateInstallerPrefStore(PrefsTaskPoolHolder* holder,
                                                            const base::FilePath& path);

// Writes what `store` (made by CreateInstallerPrefStore for `path`) holds and waits until
// the file has it, so that whoever opens the file next reads these values.
void CommitInstallerPrefStore(PrefsTaskPoolHolder* holder, JsonPrefStore* store,
                              const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLER_PREF_STORE_H_
