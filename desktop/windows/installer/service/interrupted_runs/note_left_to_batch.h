// An uninstallation leaves its clean-up batch what it could not delete, and the batch
// deletes it once the processes it waits for have ended. The batch removes the run's note
// after it only when that wait frees each of those files (their programs are the
// processes waited for); otherwise the run keeps its note, naming only those files by
// exact name, and a later run finishes it once they are free.
//
//   kept = FindFilesOutlivingBatch(left, waited_programs, earlier_notes);
//   ...  // the batch gets the note only when `kept` is empty; then the commit
//   if (!kept.empty()) KeepNoteForLaterRun(&note_file, note, kept);
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_NOTE_LEFT_TO_BATCH_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_NOTE_LEFT_TO_BATCH_H_

#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note_file.h"

namespace installer {

// What of `left` the run's note is to name from its commit on: every file but `notes`
// (earlier runs' notes, which the batch removes itself), the first one that is none of
// `waited_programs` (the program files of the processes the batch waits for) first; none
// when there is no such file.
std::vector<base::FilePath> FindFilesOutlivingBatch(
    const std::vector<base::FilePath>& left, const std::vector<base::FilePath>& waited_programs,
    const std::vector<base::FilePath>& notes);

// Rewrites the committed run's held note durably to name only `files`, each to be
// removed; the note stays as it was when it cannot be.
void KeepNoteForLaterRun(RunNoteFile* file, const RunNote& note,
                         const std::vector<base::FilePath>& files);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_NOTE_LEFT_TO_BATCH_H_
