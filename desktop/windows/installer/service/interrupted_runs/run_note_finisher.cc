#include "desktop/windows/installer/service/interrupted_runs/run_note_finisher.h"

#include <algorithm>
#include <set>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

namespace {

internal::FinishingActHook& ActHook() {
  static internal::FinishingActHook hook;
  return hook;
}

void BeforeAct(const base::FilePath& path) {
  if (ActHook()) ActHook()(path);
}


}  // namespace

RunNoteFinisher::RunNoteFinisher(const HeldInstallFolder& install)
    : install_folder_(install.path()), folders_(install.path(), install.folder()) {}

void RunNoteFinisher::Delete(const base::FilePath& path) {
  HeldFile file;
  const base::Result<> held =
      folders_.HoldFile(path, DELETE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &file,
                        [&path] { BeforeAct(path); });
  if (IsMissingPlace(held)) return;
  // The notes name files; a folder there now is nobody's to remove whole.
  if (!held.ok() && held.failure().kind == kHeldOtherKind &&
      IsSamePath(held.failure().path, path)) {
    LOG(WARNING) << "Keeping the folder " << path.AsUTF8() << " where a file was noted";
    return;
  }
  if (!held.ok() && held.failure().kind != 0) {
    Refuse({path, base::FilePath()}, held.failure());
    return;
  }
  LOG(INFO) << "Removing " << path.AsUTF8() << ", left by an interrupted run";
  if (held.ok() && file.DeleteOnClose()) {
    folders_.Moved(path);
    if (IsBelow(path, install_folder_)) emptied_.push_back(path.DirName());
    return;
  }
  const DWORD error = GetLastError();
  PLOG(WARNING) << "Could not remove " << path.AsUTF8();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
      error == ERROR_LOCK_VIOLATION)
    held_.push_back(path);
  left_.push_back({path, base::FilePath()});
}

void RunNoteFinisher::Restore(const base::FilePath& copy, const base::FilePath& path) {
  // A copy a kept note names may be gone since: nothing is left to put back then.
  if (!base::PathExists(copy)) {
    LOG(WARNING) << "The copy " << copy.AsUTF8() << " to put back is gone";
    return;
  }
  LOG(INFO) << "Putting " << copy.AsUTF8() << " back, set aside by an interrupted run";
  HeldFile held_copy;
  base::Result<> held = folders_.HoldFile(copy, DELETE | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &held_copy,
                                          [&copy] { BeforeAct(copy); });
  const HeldFile* folder = nullptr;
  if (held.ok()) held = folders_.Hold(path.DirName(), &folder);
  if (!held.ok() && held.failure().kind != 0) {
    Refuse({path, copy}, held.failure());
    return;
  }
  if (held.ok() && held_copy.MoveInto(*folder, path.BaseName().value())) {
    folders_.Moved(copy, path);
    return;
  }
  PLOG(WARNING) << "Could not move " << copy.AsUTF8() << " back";
  left_.push_back({path, copy});
}

void RunNoteFinisher::RemoveEmptyTree(const base::FilePath& folder) {
  // Each level: a folder and what is left of its listing; a folder goes once its own did.
  struct Level {
    base::FilePath path;
    std::vector<HeldFile::Listed> entries;
    size_t next = 0;
  };
  std::vector<Level> levels(1);
  levels[0].path = folder;
  if (!ListToRemove(folder, &levels[0].entries)) return;
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.entries.size()) {
      const base::FilePath path = level.path;
      levels.pop_back();
      RemoveIfEmpty(path);
      continue;
    }
    const HeldFile::Listed& entry = level.entries[level.next++];
    if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    Level below;
    below.path = level.path.Append(entry.name);
    if (ListToRemove(below.path, &below.entries)) levels.push_back(std::move(below));
  }
}

void RunNoteFinisher::RemoveEmptiedFolders() {
  std::set<base::FilePath, PathIgnoreCaseLess> seen;
  std::vector<base::FilePath> folders;
  for (const base::FilePath& emptied : emptied_) {
    for (base::FilePath folder = emptied; IsBelow(folder, install_folder_);
         folder = folder.DirName()) {
      if (!seen.insert(folder).second) break;
      folders.push_back(folder);
    }
  }
  emptied_.clear();
  std::stable_sort(folders.begin(), folders.end(),
                   [](const base::FilePath& a, const base::FilePath& b) {
                     return a.value().size() > b.value().size();
                   });
  for (const base::FilePath& folder : folders) RemoveIfEmpty(folder);
}

void RunNoteFinisher::Refuse(const RunNote::Step& step, const base::Failure& failure) {
  LOG(WARNING) << "Keeping " << (step.copy.empty() ? step.path : step.copy).AsUTF8()
               << ", reached through a link: " << failure.text;
  left_.push_back(step);
}

void RunNoteFinisher::RefuseFolder(const base::FilePath& folder, const base::Failure& failure) {
  LOG(WARNING) << "Keeping the folder " << folder.AsUTF8()
               << ", reached through a link: " << failure.text;
  folder_refused_ = true;
}

bool RunNoteFinisher::ListToRemove(const base::FilePath& folder,
                                   std::vector<HeldFile::Listed>* listed) {
  const HeldFile* held = nullptr;
  const base::Result<> result = folders_.Hold(folder, &held);
  if (!result.ok() && result.failure().kind == kHeldLink) RefuseFolder(folder, result.failure());
  return result.ok() && held->ListFolder(listed);
}

void RunNoteFinisher::RemoveIfEmpty(const base::FilePath& folder) {
  const base::Result<> removed = folders_.RemoveEmptyFolder(folder, [&folder] { BeforeAct(folder); });
  if (removed.ok() || IsMissingPlace(removed) || removed.failure().error == ERROR_DIR_NOT_EMPTY)
    return;
  if (removed.failure().kind == kHeldLink)
    RefuseFolder(folder, removed.failure());
  else
    LOG(WARNING) << "Could not remove the folder " << folder.AsUTF8() << ": "
                 << base::DescribeFailure(removed.failure());
}

namespace internal {

void SetFinishingActHookForTesting(FinishingActHook hook) { ActHook() = std::move(hook); }

}  // namespace internal

}  // namespace installer
