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

bool AllDigits(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text)
    if (c < L'0' || c > L'9') return false;
  return true;
}

// The stem of |name| when it is one of a run's package files: the stem itself (the
// package folder), the stem with ".exe", ".lck" or "_<try>.exe" / "_<try>.7z". Empty
// for any other name: the logs ("velum_installer_<17 digits>.log") are not ours to take.
std::wstring PackageStem(const std::wstring& name) {
  const size_t prefix = wcslen(kStemPrefix);
  if (name.size() < prefix + kTimestampLength || name.compare(0, prefix, kStemPrefix) != 0)
    return std::wstring();
  const std::wstring stem = name.substr(0, prefix + kTimestampLength);
  if (!AllDigits(stem.substr(prefix))) return std::wstring();
  const std::wstring rest = name.substr(stem.size());
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

}  // namespace

bool PackageLock::Acquire(const base::FilePath& installer_path) {
  const base::FilePath lock = installer_path.RemoveExtension().AddExtension(kLockExtension);
  // Read sharing only: a deletion by another run fails while this handle is open.
  file_.Set(::CreateFileW(lock.value().c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                          nullptr));
  if (!file_.IsValid()) PLOG(ERROR) << "Cannot create the package lock " << lock.value();
  return file_.IsValid();
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
