#include "desktop/windows/installer/package_fetcher/package_lock.h"

#include <windows.h>

#include <string>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

namespace {

const wchar_t kStemPrefix[] = L"velum_installer_";
const size_t kTimestampLength = 14;
const wchar_t kLockExtension[] = L".lck";
const int kMaxStemTries = 16;

bool AllDigits(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text)
    if (c < L'0' || c > L'9') return false;
  return true;
}

// The length of the stem at the start of |name|: the prefix, the run's time and up to two
// "-<digits>" parts (the process id and a counter); 0 when |name| has no such start.
size_t StemLength(const std::wstring& name) {
  const size_t prefix = wcslen(kStemPrefix);
  if (name.size() < prefix + kTimestampLength || name.compare(0, prefix, kStemPrefix) != 0)
    return 0;
  if (!AllDigits(name.substr(prefix, kTimestampLength))) return 0;
  size_t length = prefix + kTimestampLength;
  for (int part = 0; part < 2 && length < name.size() && name[length] == L'-'; ++part) {
    size_t end = length + 1;
    while (end < name.size() && name[end] >= L'0' && name[end] <= L'9') ++end;
    if (end == length + 1) return 0;
    length = end;
  }
  return length;
}

// The stem of |name| when it is one of a run's package files: the stem itself (the
// package folder), the stem with ".exe", ".lck" or "_<try>.exe" / "_<try>.7z". Empty
// for any other name: the logs ("velum_installer_<17 digits>.log") are not ours to take.
std::wstring PackageStem(const std::wstring& name) {
  const size_t length = StemLength(name);
  if (length == 0) return std::wstring();
  const std::wstring stem = name.substr(0, length);
  const std::wstring rest = name.substr(length);
  if (rest.empty() || rest == L".exe" || rest == kLockExtension) return stem;
  if (rest[0] != L'_') return std::wstring();
  const size_t dot = rest.find(L'.');
  if (dot == std::wstring::npos || !AllDigits(rest.substr(1, dot - 1))) return std::wstring();
  const std::wstring extension = rest.substr(dot);
  return extension == L".exe" || extension == L".7z" ? stem : std::wstring();
}

// Whether a run holds the lock of |stem|. A lock nobody holds (left by a machine that
// stopped before the close could delete it) is deleted here.
bool IsLive(const base::FilePath& download_folder, const std::wstring& stem) {
  const base::FilePath lock = download_folder.Append(stem + kLockExtension);
  if (::DeleteFileW(lock.value().c_str())) return false;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Whether any entry of |download_folder| belongs to |stem|.
bool IsNamed(const base::FilePath& download_folder, const std::wstring& stem) {
  base::FileEnumerator entries(download_folder, false,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               stem + L"*");
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    if (PackageStem(path.BaseName().value()) == stem) return true;
  }
  return false;
}

}  // namespace

bool PackageLock::Acquire(const base::FilePath& installer_path) {
  return TryAcquire(installer_path) == ERROR_SUCCESS;
}

DWORD PackageLock::TryAcquire(const base::FilePath& installer_path) {
  const base::FilePath lock = installer_path.RemoveExtension().AddExtension(kLockExtension);
  // Read sharing only: a deletion by another run fails while this handle is open.
  file_.Set(::CreateFileW(lock.value().c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                          nullptr));
  if (file_.IsValid()) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  PLOG(ERROR) << "Cannot create the package lock " << lock.value();
  return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
}

base::FilePath PackageLock::AcquireNewStem(const base::FilePath& download_folder,
                                           const std::wstring& time, unsigned long process_id) {
  const std::wstring run = kStemPrefix + time + L"-" + std::to_wstring(process_id);
  base::FilePath unheld;
  for (int counter = 0; counter < kMaxStemTries; ++counter) {
    // Taken by a run of a process of the same number (one of ours, or a killed one's lock
    // that a stopped machine left behind): the counter makes another name.
    const std::wstring stem = counter == 0 ? run : run + L"-" + std::to_wstring(counter);
    const base::FilePath installer_path = download_folder.Append(stem + L".exe");
    const DWORD error = TryAcquire(installer_path);
    if (error == ERROR_SUCCESS) return installer_path;
    // A lock that exists may be another live run's: its name is never ours.
    if (unheld.empty() && error != ERROR_FILE_EXISTS && !IsNamed(download_folder, stem))
      unheld = installer_path;
  }
  if (unheld.empty()) {
    LOG(ERROR) << "No package name is free for this run: the " << kMaxStemTries
               << " names of " << run << " are taken by other runs";
    return base::FilePath();
  }
  // A run without its lock still installs on a name nobody else uses; it only risks its
  // files to a later run's clean-up.
  LOG(WARNING) << "Running without a package lock";
  return unheld;
}

void RemoveDeadPackages(const base::FilePath& download_folder) {
  base::FileEnumerator entries(download_folder, false,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               std::wstring(kStemPrefix) + L"*");
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    const std::wstring name = path.BaseName().value();
    const std::wstring stem = PackageStem(name);
    if (stem.empty() || IsLive(download_folder, stem)) continue;
    // A lock nobody held is gone already.
    if (name == stem + kLockExtension) continue;
    LOG(INFO) << "Removing a package nobody holds: " << path.value();
    if (!base::DeleteFile(path, true)) LOG(WARNING) << "Unable to remove " << path.value();
  }
}

}  // namespace installer
