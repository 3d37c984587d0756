// PackageLock: marks a run's package files in the download folder as live. Each run's
// files there share one name stem, "velum_installer_<YYYYMMDDhhmmss>-<process id>", with
// "-<n>" after it when that name was taken (the downloads, the archive and the unpacked
// package folder); stems of older runs without the process id are still recognised; "<stem>.lck" beside them is held open,
// without sharing delete, and deleted on close, so it goes with the run also when the run
// is killed. A later run or an uninstallation removes the files of every stem whose lock
// nobody holds.
//
//   PackageLock lock;
//   installer_path = lock.AcquireNewStem(folder, time, pid);  // before the first file
//   RemoveDeadPackages(download_folder);      // skips the stems of live runs
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_LOCK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_LOCK_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

class PackageLock {
 public:
  PackageLock() = default;
  PackageLock(const PackageLock&) = delete;
  PackageLock& operator=(const PackageLock&) = delete;

  // Creates and holds the lock of the stem of |installer_path| (its name without the
  // extension). False when it cannot be made or another run holds it.
  [[nodiscard]] bool Acquire(const base::FilePath& installer_path);
  // Makes this run's stem in |download_folder| from |time| (YYYYMMDDhhmmss) and
  // |process_id|, counting on while a stem's lock cannot be made, and holds the lock of the
  // stem it returns as "<stem>.exe". When no lock can be made, the first name that has no
  // lock and no files is returned and held() stays false; when every name is another
  // run's, an empty path.
  base::FilePath AcquireNewStem(const base::FilePath& download_folder, const std::wstring& time,
                                unsigned long process_id);
  bool held() const { return file_.IsValid(); }

 private:
  // ERROR_SUCCESS when the lock is made and held, else the reason it could not be.
  [[nodiscard]] DWORD TryAcquire(const base::FilePath& installer_path);

  base::ScopedHandle file_;
};

// Removes from |download_folder| the files and folders of every stem of this product
// whose lock is not held (a killed run's). Other names, the logs among them, stay.
void RemoveDeadPackages(const base::FilePath& download_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_LOCK_H_
