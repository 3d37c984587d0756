// The recovery of interrupted runs. A run writes a note into the install folder
// ("old_status\run.<seconds>.note") before its first change there: what it is about to
// make, replace or remove. A run that ends normally removes it after its commit or
// rollback; one that was cut short leaves it, and the next run in the folder finishes
// that run as its rollback (or, once it was committing, its commit) would have. Nothing
// that no note names is taken for a leftover. A run that cannot finish a note whole (a
// file still open) rewrites it, before its own first change, to name only what is left by
// exact names: later runs may make, move or set aside files of the same names.
//
// Besides the names a note holds, finishing touches:
// - for a note as its run wrote it, what it finds by the names' shape: the copies of each
//   named file set aside since the note's start ("<name>.<seconds>.old", the counter form
//   and copies set aside again too), removed, or the first put back when undoing; the
//   "<name>.<GUID>.tmp" of cut atomic writes of the named files of the install folder
//   itself; and when undoing an upgrade whose record has no such copy, the earliest record
//   moved to "old_status\installation_status.xml.<seconds>" since the start, put back;
// - for a note a later run rewrote ("left-" lines), only the exact names it gives;
// - for either, the folders below the install folder that its removals left empty and the
//   empty folders of the version folder it names when its run is undone; before any
//   note, the temporaries of notes whose first write was cut; "old_status" once empty.
// Every note is read, and every act of finishing done, through the install folder held for
// the run (HeldInstallFolder) from before the notes are read: a folder swapped for a link
// meanwhile changes nothing. A note that exists but cannot be read stops the run: it may be
// a live run's, which holds its note from its first write to its removal.
// Here: the note, its text, writing and reading, its finishing and the read-only views of
// what finishing will leave (run_note.*), the note files and the running run's held note
// (run_note_file.*), the acts through held handles (run_note_finisher.*), an
// uninstallation's note kept past its clean-up batch (note_left_to_batch.*). The engine
// builds a run's note (run_note_builder.h).
//
//   HeldInstallFolder install;            // held first
//   FinishInterruptedRuns(install, check);
//   RunNote note;                         // filled with what the run will touch
//   RunNoteFile file;
//   base::Result<> written = WriteRunNote(install, note, &file);
//   ...                                   // the run's changes
//   note.committing = true;
//   RewriteRunNote(&file, note);          // then the commit
//   file.Remove();
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_H_

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"

namespace installer {

class HeldInstallFolder;
class RunNoteFile;

struct RunNote {
  enum class Operation { kInstall, kUpgrade, kUninstall };
  enum class Kind {
    // Missing when the note was written: what is there later is the run's.
    kMake,
    // There when the note was written: the run's first set-aside copy is the original.
    kReplace,
    // There when the note was written, and removed by the run for good.
    kRemove,
    // Written by the run beside what it puts in place, and gone by its end either way.
    kTemporary,
  };
  struct Entry {
    Kind kind;
    base::FilePath path;
  };
  // A shortcut the run moves to another name.
  struct Move {
    base::FilePath from;
    base::FilePath to;
  };
  // What a later run could not do of this note's finishing, by exact names.
  struct Step {
    base::FilePath path;
    // Put back over `path`; empty: `path` is removed.
    base::FilePath copy;
  };

  Operation operation = Operation::kInstall;
  // Copies set aside from this second on are the run's.
  int64_t start = 0;
  // Written just before the commit: from then on the run is finished, not undone.
  bool committing = false;
  // The version folder the run makes, a plain name in the install folder; may be empty.
  std::wstring subfolder;
  // Below the install folder (written relative to it).
  std::vector<Entry> entries;
  // Shortcut files, anywhere.
  std::vector<Entry> shortcuts;
  std::vector<Move> moves;
  // Written by a run that could not finish this note whole: only what is still undone, in
  // order. A note holding steps holds no entries, shortcuts or moves, and its finishing looks
  // for no copy or record beyond the names its steps give (later runs may have made others).
  std::vector<Step> left;
};

// Whether a shortcut path a note names is one of the product's shortcut names in one of
// the places the shortcuts of the finishing run's mode are made. A move is read only
// within one folder.
using ShortcutCheck = std::function<bool(const base::FilePath& shortcut)>;

// A note found in an install folder; one found damaged (one that names anything outside
// the install folder or a shortcut the check refuses, one too large, a link) has no note.
struct FoundRunNote {
  base::FilePath path;
  std::optional<RunNote> note;
  std::string problem;
};

// Writes `note` durably as the run's note into `file` (RunNoteFile::Write), which then
// holds it, in the held install folder's "old_status".
base::Result<> WriteRunNote(const HeldInstallFolder& install, const RunNote& note,
                            RunNoteFile* file);
// Replaces the run's held note durably.
[[nodiscard]] bool RewriteRunNote(RunNoteFile* file, const RunNote& note);
// The same by the install folder's or the note's path, held only while written.
base::Result<base::FilePath> WriteRunNote(const base::FilePath& install_folder,
                                          const RunNote& note);
[[nodiscard]] bool RewriteRunNote(const base::FilePath& path, const RunNote& note);

// The notes of the held install folder, oldest first; a failure when one exists that
// cannot be read (ReadStoredRunNotes). With a null `is_product_shortcut` every shortcut
// entry is read (for callers that look only at shortcuts they know already).
base::Result<std::vector<FoundRunNote>> FindRunNotes(const HeldInstallFolder& install,
                                                     const ShortcutCheck& is_product_shortcut);
// The same for the read-only views: only the notes that can be read.
std::vector<FoundRunNote> FindRunNotes(const base::FilePath& install_folder,
                                       const ShortcutCheck& is_product_shortcut);

// The note's text form and its reading; `install_folder` anchors the relative names.
std::string SerializeRunNote(const RunNote& note, const base::FilePath& install_folder);
base::Result<RunNote> ParseRunNote(const std::string& text, const base::FilePath& install_folder,
                                   const ShortcutCheck& is_product_shortcut);

// Whether the run of `note` is finished forward (it was committing, or the record it
// wrote names its version folder) rather than undone.
bool RunNoteRollsForward(const base::FilePath& install_folder, const RunNote& note);

// The copies of `path` that the run of `note` set aside, the first set aside first.
std::vector<base::FilePath> RunCopiesOf(const RunNote& note, const base::FilePath& path);

// What finishing the earlier runs left undone.
struct UnfinishedRuns {
  std::vector<RunNote::Step> left;
  // The files of those that a program holds.
  std::vector<base::FilePath> held;
  // The notes kept, each rewritten to name only what is left.
  std::vector<base::FilePath> notes;

  // Whether `step` is the removal of a file a program holds.
  bool IsHeld(const RunNote::Step& step) const;
};

// Finishes the interrupted runs whose notes the held install folder holds, oldest first,
// through its handle, and removes each note once done; damaged notes are logged and kept,
// with everything they may name. A note that cannot be finished whole is rewritten
// durably to name only what is left. A failure, before anything is done, when a note
// cannot be read (it names it), and when a kept note cannot be rewritten.
base::Result<UnfinishedRuns> FinishInterruptedRuns(const HeldInstallFolder& install,
                                                   const ShortcutCheck& is_product_shortcut);
// The same, the install folder held for the call.
base::Result<UnfinishedRuns> FinishInterruptedRuns(const base::FilePath& install_folder,
                                                   const ShortcutCheck& is_product_shortcut);

// Whether `paths` names `path`, letters compared as Windows does.
bool IsOneOf(const std::vector<base::FilePath>& paths, const base::FilePath& path);

// The step of `left` that stands in the way of `run`: one naming a name `run` names (its own
// run would make it its own), or with `any`, every step but those of `own_files` (the
// files this run's own processes run from: the clean-up batch takes their steps, a
// put-back's copy too); null when none does.
const RunNote::Step* FindStepInTheWay(const std::vector<RunNote::Step>& left,
                                      const RunNote& run, bool any = false,
                                      const std::vector<base::FilePath>& own_files = {});

// Read-only views of the folder as FinishInterruptedRuns will leave it:
// The installation record an interrupted run set aside or moved and that its finishing
// restores (with `finishing_uninstallation`, also the record of an uninstallation cut
// while it committed, which the running uninstallation finishes); empty when none.
base::FilePath FindInterruptedRunRecord(const base::FilePath& install_folder,
                                        bool finishing_uninstallation);
// Whether `path` is missing only because an interrupted run set it aside (or moved it),
// and its copy is there; with `restored_only`, only where finishing that run puts it back.
bool IsSetAsideByInterruptedRun(const base::FilePath& install_folder, const base::FilePath& path,
                                bool restored_only);

namespace internal {

// Called by finishing with each name it holds, between the check and the act; a test's,
// to change the folder meanwhile. Null: none.
using FinishingActHook = std::function<void(const base::FilePath& path)>;
void SetFinishingActHookForTesting(FinishingActHook hook);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INTERRUPTED_RUNS_RUN_NOTE_H_
