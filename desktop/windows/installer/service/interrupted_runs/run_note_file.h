// The files of the run notes: the folder "old_status" of a held install folder and the
// notes "run.<seconds>.note" in it, reached only through the held install folder, never
// through a link. The running run's own note is held from its first write until it is
// removed (or the process ends) so that no other run reads it and takes it for a cut
// run's: held for reading without read sharing, shared for deletion only, so that its own
// atomic rewrite still replaces it; taken again after each rewrite.
//
//   RunNoteFile note;
//   base::Result<> written = note.Write(install, start, text);  // install: held
//   ...
//   note.Rewrite(committing_text);
//   note.Remove();
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_FILE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_FILE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/held_install_folder.h"

namespace installer {

// Whether `name` is a note's file name "run.<seconds>.note"; the second it names.
[[nodiscard]] bool ParseRunNoteFileName(const std::wstring& name, int64_t* second);

// A note's file as read, its text whole or the reason it cannot count.
struct StoredRunNote {
  // As the run names the install folder.
  base::FilePath path;
  std::string text;
  // Empty: `text` is all the file holds.
  std::string problem;
};

// The notes of the held install folder read through held handles, oldest first. A note
// that exists but cannot be opened or read to its end (another run holds it, access is
// denied, a read fails) fails the reading, naming it: what it names may be a live run's.
// "old_status" that is a link, a note that is a link or a folder, and one larger than a
// note can be are read with their problem, to be kept whole.
base::Result<std::vector<StoredRunNote>> ReadStoredRunNotes(const HeldInstallFolder& install);

// Removes, through the held `folder`'s handle, the "<name>.<GUID>.tmp" files that cut
// atomic writes of `targets` (names in that folder) left, and with `any_note` those of
// every note's name (a note whose first write was cut). One still being written (open
// without delete sharing) stays.
void DeleteStaleTempFilesIn(const HeldFile& folder, const std::vector<std::wstring>& targets,
                            bool any_note);
// The same, in the held install folder's "old_status" when it has one.
void DeleteStaleNoteTempFiles(const HeldInstallFolder& install,
                              const std::vector<std::wstring>& targets, bool any_note);

// Removes the note `path` of an earlier run through handles held from the install folder
// down, the temporary files its cut writes left, and "old_status" when that leaves it empty.
void RemoveStoredRunNote(const HeldInstallFolder& install, const base::FilePath& path);

class RunNoteFile {
 public:
  RunNoteFile();
  ~RunNoteFile();
  RunNoteFile(const RunNoteFile&) = delete;
  RunNoteFile& operator=(const RunNoteFile&) = delete;

  // Writes `text` durably as a new note in the held install folder's "old_status" (made
  // when missing, never through a link), named by the second `start` or the first free one
  // after it, then holds it. `install` stays held until the note is removed or let go.
  base::Result<> Write(const HeldInstallFolder& install, int64_t start, const std::string& text);
  // Replaces the note's text durably and holds the new file. False, with the thread's last
  // error, when it cannot: the note is then as it was.
  [[nodiscard]] bool Rewrite(const std::string& text);
  // Removes the note through its held handle, the temporary files cut writes of it left,
  // and "old_status" when that leaves it empty.
  void Remove();
  // Lets the note go; it stays (a clean-up batch removes it).
  void Release();
  // What the held note holds, read through its own handle (no other can read it).
  [[nodiscard]] bool Read(std::string* text) const;

  bool written() const { return !path_.empty(); }
  // As the run names the install folder; empty until written and once removed.
  const base::FilePath& path() const { return path_; }
  // Where the install folder really is: the name the note is written at.
  const base::FilePath& final_path() const { return final_path_; }
  const base::FilePath& install_folder() const { return install_->path(); }

 private:
  // Holds the note at its name.
  [[nodiscard]] bool Take();

  const HeldInstallFolder* install_ = nullptr;
  // "old_status", held without delete sharing while the note is.
  HeldFile folder_;
  HeldFile note_;
  base::FilePath path_;
  base::FilePath final_path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_FILE_H_
