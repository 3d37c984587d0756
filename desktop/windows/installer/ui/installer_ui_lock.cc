#include "desktop/windows/installer/ui/installer_ui_lock.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/windows/installer/private_kernel_object.h"

namespace installer {

namespace {

const wchar_t kLockFileName[] = L"velum_installer_ui.lck";

// Reads the owner's thread id from the lock file another instance holds; 0 when it
// cannot be read.
[[nodiscard]] DWORD ReadOwner(const base::FilePath& path) {
  base::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                           nullptr));
  DWORD owner = 0;
  DWORD read = 0;
  if (!file.IsValid() || !ReadFile(file.Get(), &owner, sizeof(owner), &read, nullptr) ||
      read != sizeof(owner)) {
    LOG(WARNING) << "Existing installer UI lock file is invalid";
    return 0;
  }
  return owner;
}

BOOL CALLBACK ActivateFirstWindow(HWND window, LPARAM) {
  if (!IsWindowEnabled(window) || !IsWindowVisible(window)) return TRUE;
  // A minimised window in front still shows nothing. Asynchronous: the window belongs to
  // another process, which restores it in its own time.
  if (IsIconic(window) && !ShowWindowAsync(window, SW_RESTORE))
    LOG(WARNING) << "Could not restore the installer window";
  if (!SetForegroundWindow(window)) LOG(WARNING) << "Could not bring the installer forward";
  return FALSE;
}

}  // namespace

DWORD InstallerUILock::Acquire(const std::wstring& product_name) {
  LOG(INFO) << "Getting installer UI mutex";
  const std::wstring mutex_name =
      kernel_objects::kUiLockMutexPrefix + product_name + kernel_objects::kUiLockMutexSuffix;
  // Private: a process of the session that made or holds the name otherwise decides whether
  // any installer window may start.
  base::ScopedHandle mutex;
  if (!CreateOrJoinPrivateMutex(mutex_name, false, &mutex)) {
    LOG(WARNING) << "Failed to create installer UI mutex.";
    return 0;
  }
  // Held only while a lock file is made or read; a holder that stays longer is stuck.
  const DWORD wait =
      WaitForSingleObject(mutex.Get(), static_cast<DWORD>(mutex_wait_.InMilliseconds()));
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    LOG(WARNING) << "Failed to create installer UI mutex.";
    return 0;
  }
  base::FilePath temp;
  if (!base::GetTempDir(&temp)) temp = base::FilePath();
  const base::FilePath path = temp.Append(kLockFileName);
  file_.Set(CreateFileW(path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                        nullptr));
  DWORD owner = 0;
  if (file_.IsValid()) {
    owner = GetCurrentThreadId();
    DWORD written = 0;
    if (!WriteFile(file_.Get(), &owner, sizeof(owner), &written, nullptr) ||
        written != sizeof(owner)) {
      LOG(WARNING) << "Could not write the installer UI lock";
    }
    VLOG(1) << "Obtained installer UI lock";
  } else {
    VLOG(1) << "Didn't obtain installer UI lock";
    owner = ReadOwner(path);
  }
  if (!ReleaseMutex(mutex.Get())) LOG(WARNING) << "Could not release the installer UI mutex";
  return owner;
}

void InstallerUILock::Release() {
  if (!file_.Close()) LOG(WARNING) << "Could not close the installer UI lock";
}

// static
void InstallerUILock::ActivateWindowOfThread(DWORD thread_id) {
  EnumThreadWindows(thread_id, &ActivateFirstWindow, 0);
}

}  // namespace installer
