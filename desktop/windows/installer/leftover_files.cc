#include "desktop/windows/installer/leftover_files.h"

#include <memory>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

namespace {

bool IsNumber(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

bool Contains(const NameSet& names, const std::wstring& name) {
  return names.count(name) != 0;
}

// The name `name` was first set aside from, when it is a copy last set aside before
// `set_aside_before` (a run killed while it deleted such a copy set the copy itself
// aside); empty otherwise.
std::wstring OriginalOfOldCopy(const std::wstring& name, int64_t set_aside_before) {
  std::wstring original;
  int64_t seconds = 0;
  if (!ParseSetAsideName(name, &original, &seconds) || seconds >= set_aside_before)
    return std::wstring();
  for (std::wstring inner = original; ParseSetAsideName(inner, &original, &seconds);)
    inner = original;
  return original;
}

// A set-aside copy, from before `scope`'s run, of one of `names`.
bool IsOldSetAsideCopy(const std::wstring& name, const NameSet& names,
                       const LeftoverScope& scope) {
  const std::wstring original = OriginalOfOldCopy(name, scope.set_aside_before);
  return !original.empty() && Contains(names, original);
}

// The path of `path` below `folder`, as "files_list" writes it.
std::wstring RelativePath(const base::FilePath& folder, const base::FilePath& path) {
  return path.value().substr(folder.StripTrailingSeparators().value().size() + 1);
}

void Delete(const base::FilePath& path, Transaction* transaction) {
  LOG(INFO) << "Removing " << path.AsUTF8() << ", left by an earlier run";
  // Emptied parents go too: an uninstallation's last leftover leaves the folder empty.
  if (!transaction->Execute(std::make_unique<DeleteFileOperation>(path, false, true)))
    LOG(WARNING) << "Could not remove " << path.AsUTF8();
}

// The files below `folder`; false when anything there is not a file of the package or
// an earlier run's set-aside copy of one.
bool HoldsOnlyPackageFiles(const base::FilePath& folder, const LeftoverScope& scope) {
  base::FileEnumerator files(folder, true, base::FileEnumerator::FILES, std::wstring());
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const std::wstring relative = RelativePath(folder, path);
    if (!Contains(scope.version_files, relative) &&
        !IsOldSetAsideCopy(relative, scope.version_files, scope))
      return false;
  }
  return true;
}

// Whether `path` is `folder` or below it.
bool Holds(const base::FilePath& folder, const base::FilePath& path) {
  const std::wstring prefix = folder.StripTrailingSeparators().value();
  const std::wstring value = path.StripTrailingSeparators().value();
  return value.size() >= prefix.size() &&
         base::FilePath::CompareIgnoreCase(value.substr(0, prefix.size()), prefix) == 0 &&
         (value.size() == prefix.size() || value[prefix.size()] == L'\\');
}

void RemoveSetAsideCopiesIn(const base::FilePath& folder, const LeftoverScope& scope,
                            Transaction* transaction) {
  std::vector<base::FilePath> copies;
  // No pattern: it would keep the enumeration out of subfolders not matching it.
  base::FileEnumerator files(folder, true, base::FileEnumerator::FILES, std::wstring());
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    if (IsOldSetAsideCopy(RelativePath(folder, path), scope.version_files, scope))
      copies.push_back(path);
  }
  for (const base::FilePath& path : copies) Delete(path, transaction);
}

}  // namespace

void RemoveSetAsideCopies(const base::FilePath& folder, const NameSet& names,
                          int64_t set_aside_before, Transaction* transaction) {
  LeftoverScope scope;
  scope.set_aside_before = set_aside_before;
  std::vector<base::FilePath> copies;
  base::FileEnumerator files(folder, false, base::FileEnumerator::FILES, std::wstring());
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    if (IsOldSetAsideCopy(path.BaseName().value(), names, scope)) copies.push_back(path);
  }
  for (const base::FilePath& path : copies) Delete(path, transaction);
}

void AddRecordToScope(const InstallLog& record, LeftoverScope* scope) {
  if (!record.subfolder.empty()) scope->recorded_subfolders.insert(record.subfolder);
  AddRecordFilesToScope(record, scope);
}

void AddRecordFilesToScope(const InstallLog& record, LeftoverScope* scope) {
  scope->version_files.insert(record.files.begin(), record.files.end());
  scope->root_files.insert(record.root_files.begin(), record.root_files.end());
}

void RemoveRecordedRootFiles(const InstallLog& record, const LeftoverScope& scope,
                             Transaction* transaction) {
  for (const std::wstring& name : record.root_files) {
    // The record is a file anybody who can write the folder can change.
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"\\/:") != std::wstring::npos)
      continue;
    const base::FilePath path = scope.install_folder.Append(name);
    if (base::PathExists(path) && !base::DirectoryExists(path)) Delete(path, transaction);
  }
}

bool IsVersionFolderName(const std::wstring& name) {
  std::wstring version = name;
  const size_t underscore = name.find(L'_');
  if (underscore != std::wstring::npos) {
    if (!IsNumber(name.substr(underscore + 1))) return false;
    version.resize(underscore);
  }
  size_t parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = version.find(L'.', start);
    if (!IsNumber(version.substr(start, dot == std::wstring::npos ? dot : dot - start)))
      return false;
    ++parts;
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

void RemoveLeftovers(const LeftoverScope& scope, Transaction* transaction,
                     std::vector<base::FilePath>* in_use) {
  std::vector<base::FilePath> entries;
  base::FileEnumerator top(scope.install_folder, false,
                           base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                           std::wstring());
  for (base::FilePath path = top.Next(); !path.empty(); path = top.Next())
    entries.push_back(path);
  for (const base::FilePath& path : entries) {
    const std::wstring name = path.BaseName().value();
    if (base::DirectoryExists(path)) {
      // A version folder that a run killed while it deleted it had set aside.
      const std::wstring original = OriginalOfOldCopy(name, scope.set_aside_before);
      if (IsVersionFolderName(original)) {
        if (HoldsOnlyPackageFiles(path, scope)) Delete(path, transaction);
        continue;
      }
      if (!IsVersionFolderName(name)) continue;
      if (!Contains(scope.recorded_subfolders, name) && HoldsOnlyPackageFiles(path, scope)) {
        if (!Holds(path, scope.running_folder))
          Delete(path, transaction);
        else if (in_use)
          in_use->push_back(path);
      } else
        RemoveSetAsideCopiesIn(path, scope, transaction);
      continue;
    }
    if (IsOldSetAsideCopy(name, scope.root_files, scope)) Delete(path, transaction);
  }
}

}  // namespace installer
