#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_FINISHER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_FINISHER_H_

#include <windows.h>

#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/held_install_folder.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"
#include "desktop/windows/installer/service/transactions/set_aside_copies.h"

namespace installer {

// What finishing a note does and what it could not do. Each removal or move is made
// through handles held from the check to the act: every folder from the held install
// folder (or a shortcut's own folder) down to the name, and the name itself, none of them
// a link, so that nothing outside is reached, not even through a link put there meanwhile.
class RunNoteFinisher {
 public:
  // `install` stays held while this lives.
  explicit RunNoteFinisher(const HeldInstallFolder& install);
  RunNoteFinisher(const RunNoteFinisher&) = delete;
  RunNoteFinisher& operator=(const RunNoteFinisher&) = delete;

  // What could not be done, in order.
  const std::vector<RunNote::Step>& left() const { return left_; }
  // The files among them that another program holds.
  const std::vector<base::FilePath>& held() const { return held_; }
  // Whether a folder the run made is behind a link: its note stays for a later run.
  bool folder_refused() const { return folder_refused_; }

  // The copies the run of `note` set aside of `path`, each folder listed once.
  std::vector<base::FilePath> CopiesOf(const RunNote& note, const base::FilePath& path) {
    return copies_.CopiesSince(path, note.start);
  }

  void Delete(const base::FilePath& path);
  void Restore(const base::FilePath& copy, const base::FilePath& path);
  // The folder the run made, with its subfolders, where they hold nothing (a cut copy may
  // have made them before any file): walked from the top down through held handles, without
  // recursion, however deep.
  void RemoveEmptyTree(const base::FilePath& folder);
  // Folders below the install folder that the deletions left empty (a version folder of
  // the run, its subfolders), each tried once, the deepest first; a shortcut's folder is
  // the user's, however long its path.
  void RemoveEmptiedFolders();

 private:
  // A name behind a link is kept, named for a later run.
  void Refuse(const RunNote::Step& step, const base::Failure& failure);
  // Holds the folder `folder` below the install folder and lists it; a link keeps the note.
  bool ListToRemove(const base::FilePath& folder, std::vector<HeldFile::Listed>* listed);
  // Removes the folder below the install folder when it is empty, through a handle held
  // from the install folder down; a link keeps the note.
  void RemoveIfEmpty(const base::FilePath& folder);
  void RefuseFolder(const base::FilePath& folder, const base::Failure& failure);

  const base::FilePath install_folder_;
  std::vector<RunNote::Step> left_;
  std::vector<base::FilePath> held_;
  bool folder_refused_ = false;
  SetAsideCopyIndex copies_;
  // The folders held for the acts on the names in them.
  HeldFolders folders_;
  // The folders of the files removed below the install folder.
  std::vector<base::FilePath> emptied_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_FINISHER_H_
