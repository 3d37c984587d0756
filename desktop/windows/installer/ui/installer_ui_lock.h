// One installer window per user session. A named mutex serialises the check between
// processes; the lock itself is a file in the temporary folder that only its owner can
// write, deleted by the system when the owner closes it (or dies), holding the owner's
// UI thread id so that a second instance can bring the first one's window forward.
//
//   InstallerUILock lock;
//   DWORD owner = lock.Acquire(product_name);
//   if (owner != 0 && owner != GetCurrentThreadId()) { /* another window runs */ }
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_LOCK_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_LOCK_H_

#include <windows.h>

#include <string>

#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace installer {

class InstallerUILock {
 public:
  // |mutex_wait| bounds the wait for another instance's check.
  explicit InstallerUILock(base::TimeDelta mutex_wait = base::TimeDelta::FromSeconds(30))
      : mutex_wait_(mutex_wait) {}
  InstallerUILock(const InstallerUILock&) = delete;
  InstallerUILock& operator=(const InstallerUILock&) = delete;

  // The UI thread id of the lock's owner: this thread's id when it got the lock, 0 when
  // the owner cannot be told (no other instance is assumed then): also when the mutex is
  // someone else's or its wait runs out.
  [[nodiscard]] DWORD Acquire(const std::wstring& product_name);
  // Lets others take the lock (deletes the file).
  void Release();

  // Brings the first enabled, visible top-level window of |thread_id| to the front.
  static void ActivateWindowOfThread(DWORD thread_id);

 private:
  const base::TimeDelta mutex_wait_;
  base::ScopedHandle file_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_LOCK_H_
