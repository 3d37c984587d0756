#include "desktop/windows/installer/elevated_helper/uninstall_batch_runner.h"

#include <windows.h>

#include <vector>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/result.h"
#include "base/strings/string_piece.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"

namespace installer {

namespace {

// A batch file is a few lines per locked file; anything larger is not ours.
const int64_t kMaxBatchSize = 1 << 20;

// Opens `folder` without following a link and without delete sharing, so that neither
// it nor a folder above it can be renamed, removed or replaced while held.
base::Result<> HoldFolder(const base::FilePath& folder,
                          std::vector<base::ScopedHandle>* holds) {
  base::ScopedHandle hold(CreateFileW(folder.value().c_str(),
                                      FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!hold.IsValid() || !GetFileInformationByHandle(hold.Get(), &information))
    return base::Failure{GetLastError(), 0, "the folder " + folder.AsUTF8() + " cannot be held",
                         folder};
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return base::Failure{0, 0, "the link " + folder.AsUTF8(), folder};
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return base::Failure{0, 0, folder.AsUTF8() + " is no folder", folder};
  holds->push_back(std::move(hold));
  return {};
}

// A file the batch deletes, held without following a link and without delete
// sharing until it is deleted through the handle; a file already gone is left out.
base::Result<> HoldFile(const base::FilePath& file, std::vector<base::ScopedHandle>* files) {
  base::ScopedHandle hold(CreateFileW(file.value().c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!hold.IsValid()) {
    // Gone, or held by a process the batch does not wait for: cmd fails on it too.
    LOG(WARNING) << "Cannot take " << file.AsUTF8() << " for deletion";
    return {};
  }
  if (!GetFileInformationByHandle(hold.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return base::Failure{0, 0, file.AsUTF8() + " is no file", file};
  }
  files->push_back(std::move(hold));
  return {};
}

// Every folder from `install_folder` (resolved) down to each file the batch deletes,
// and the file, each checked while it is held: nothing on a deletion's way can become
// a link before the deletion.
base::Result<> HoldDeletionWays(const CleanupBatch& batch, const base::FilePath& install_folder,
                                std::vector<base::ScopedHandle>* folders,
                                std::vector<base::ScopedHandle>* files) {
  base::FilePath link;
  if (FindReparsePoint(install_folder, base::FilePath(), &link)) {
    return base::Failure{0, 0, "the install folder lies under the link " + link.AsUTF8(),
                         install_folder};
  }
  base::Result<> held = HoldFolder(install_folder, folders);
  if (!held.ok()) return held;
  for (const std::wstring& text : batch.failed_files) {
    const base::Result<base::FilePath> normalized = NormalizeGrantFolder(base::FilePath(text));
    if (!normalized.ok()) return normalized.failure();
    const base::FilePath& file = normalized.value();
    std::vector<base::FilePath> way;
    for (base::FilePath folder = file.DirName();
         !IsSameOrUnder(install_folder, folder) && folder.DirName() != folder;
         folder = folder.DirName()) {
      way.push_back(folder);
    }
    for (auto it = way.rbegin(); it != way.rend(); ++it) {
      held = HoldFolder(*it, folders);
      if (!held.ok()) return held;
    }
    held = HoldFile(file, files);
    if (!held.ok()) return held;
  }
  return {};
}

// Waits for every process the batch waits for: the batch's own wait then passes at
// once, and works where TASKLIST cannot.
void WaitForProcesses(const std::vector<base::ScopedHandle>& processes) {
  for (const base::ScopedHandle& process : processes)
    (void)WaitForSingleObject(process.Get(), INFINITE);
}

// The batch of the granted `install_folder` read from `batch_file` into `text` and
// checked, its processes waited for, and every way to its deletions held.
base::Result<CleanupBatch> TakeCleanupBatch(const base::FilePath& batch_file,
                                            const base::FilePath& install_folder,
                                            const base::FilePath& granted_folder,
                                            std::string* text,
                                            std::vector<base::ScopedHandle>* folders,
                                            std::vector<base::ScopedHandle>* files) {
  if (granted_folder.empty()) return base::Failure{0, 0, "no access was given for it", {}};
  const base::Result<base::FilePath> normalized = NormalizeGrantFolder(install_folder);
  if (!normalized.ok()) return normalized.failure();
  const base::FilePath& folder = normalized.value();
  if (base::FilePath::CompareIgnoreCase(folder.value(), granted_folder.value()) != 0) {
    return base::Failure{
        0, 0, "access was given for " + granted_folder.AsUTF8() + ", not for its folder", folder};
  }
  if (!base::ReadFileToStringWithMaxSize(batch_file, text, kMaxBatchSize))
    return base::Failure{0, 0, "it cannot be read", batch_file};
  base::Result<CleanupBatch> batch = ValidateCleanupBatchText(*text, folder);
  if (!batch.ok()) return batch;
  std::vector<base::ScopedHandle> processes;
  // The helper that runs the batch may be named in it: waiting for itself would never end.
  for (uint32_t pid : batch.value().pids) {
    if (pid != 0 && pid != GetCurrentProcessId())
      processes.emplace_back(OpenProcess(SYNCHRONIZE, FALSE, pid));
  }
  WaitForProcesses(processes);
  const base::Result<> held = HoldDeletionWays(batch.value(), folder, folders, files);
  if (!held.ok()) return held.failure();
  return batch;
}

// Runs the checked `text` from a folder only administrators can change, in that
// folder, with the system folder its only PATH, and waits for it.
[[nodiscard]] bool RunCopy(const std::string& text) {
  base::FilePath system_folder;
  if (!base::PathRegistry::Get(base::DIR_SYSTEM, &system_folder)) return false;
  AdminOnlyFolder copy_folder;
  base::FilePath copy;
  if (!copy_folder.Create() || !copy_folder.WriteIn(text, L"k.bat", &copy)) return false;
  const std::wstring environment = internal::BatchEnvironment(system_folder);
  base::LaunchOptions options;
  options.start_hidden = true;
  // cmd looks for chcp, TASKLIST, FIND and ping in its working folder first.
  options.current_directory = copy_folder.path();
  options.environment = environment.c_str();
  base::Process process = base::LaunchProcess(
      BuildCleanupBatchCommand(system_folder.Append(L"cmd.exe"), copy), options);
  if (!process.IsValid()) {
    PLOG(ERROR) << "Cannot start the clean-up batch";
    return false;
  }
  int32_t exit_code = 0;
  return process.WaitForExit(&exit_code);
}

}  // namespace

namespace internal {

std::wstring BatchEnvironment(const base::FilePath& system_folder) {
  std::wstring environment;
  base::ScopedEnvironmentStrings strings(GetEnvironmentStringsW());
  for (const wchar_t* entry = strings.Get(); entry && *entry; entry += wcslen(entry) + 1) {
    const base::StringPiece16 name(entry, 5);
    if (wcslen(entry) >= 5 && base::FilePath::CompareIgnoreCase(name, L"PATH=") == 0) continue;
    environment.append(entry);
    environment.push_back(L'\0');
  }
  environment.append(L"PATH=" + system_folder.value());
  environment.push_back(L'\0');
  return environment;  // c_str() adds the closing empty string
}

}  // namespace internal

bool RunUninstallBat(const base::FilePath& install_folder, const base::FilePath& granted_folder) {
  const base::FilePath batch_file = install_folder.Append(kCleanupBatchFileName);
  if (!base::PathExists(batch_file)) return false;
  std::string text;
  std::vector<base::ScopedHandle> folders;
  std::vector<base::ScopedHandle> files;
  const base::Result<CleanupBatch> batch =
      TakeCleanupBatch(batch_file, install_folder, granted_folder, &text, &folders, &files);
  if (!batch.ok()) {
    LOG(ERROR) << "Refusing to run " << batch_file.AsUTF8() << ": " << batch.failure().text;
    return false;
  }
  if (!base::DeleteFile(batch_file, false))
    LOG(WARNING) << "Could not delete " << batch_file.AsUTF8();
  const bool ran = RunCopy(text);
  // The holds kept the batch's own deletions from the held names; they go through
  // the handles that were checked.
  for (const base::ScopedHandle& file : files) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition)))
      PLOG(WARNING) << "Could not delete a file of the clean-up";
  }
  files.clear();
  folders.clear();
  // Removing an empty folder, or a link put in its place, reaches nothing else.
  for (const std::wstring& name : batch.value().folders) (void)RemoveDirectoryW(name.c_str());
  return ran;
}

}  // namespace installer
