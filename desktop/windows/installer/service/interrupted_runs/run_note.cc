#include "desktop/windows/installer/service/interrupted_runs/run_note.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note_file.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note_finisher.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/set_aside_copies.h"

namespace installer {

namespace {

const char kHeader[] = "velum run note 2";
// The format before the end line; still read, as its notes were written whole.
const char kFirstHeader[] = "velum run note";
const char kEndLine[] = "end";
// The longest path the system takes: a note's name joined to the install folder fits in it.
const size_t kMaxPathSize = 32767;

struct KindName {
  RunNote::Kind kind;
  const char* name;
};
const KindName kKindNames[] = {
    {RunNote::Kind::kMake, "make"},
    {RunNote::Kind::kReplace, "replace"},
    {RunNote::Kind::kRemove, "remove"},
    {RunNote::Kind::kTemporary, "temporary"},
};
const char* const kOperationNames[] = {"install", "upgrade", "uninstall"};
// The lines of what a later run left undone ("shortcut-" before them for a shortcut).
const char kLeftRemove[] = "left-remove";
const char kLeftPutBack[] = "left-put-back";

const char* NameOf(RunNote::Kind kind) {
  for (const KindName& known : kKindNames) {
    if (known.kind == kind) return known.name;
  }
  return "";
}

// Whether the entry names something that was there before the run.
bool IsOriginal(const RunNote::Entry& entry) {
  return entry.kind == RunNote::Kind::kReplace || entry.kind == RunNote::Kind::kRemove;
}

// Reads one "<what> <value>" line's value as a path of the note: relative to the install
// folder, or a whole shortcut path.
base::Result<base::FilePath> ReadRelative(const std::string& value,
                                          const base::FilePath& install_folder) {
  const std::wstring name = base::UTF8ToWide(value);
  const base::FilePath path = install_folder.Append(name);
  if (CheckRelativePath(name) != NameProblem::kNone || name.find(L'/') != std::wstring::npos ||
      path.value().size() > kMaxPathSize)
    return base::Failure{0, 0, "a name outside the install folder: " + value.substr(0, 260), {}};
  return path;
}

base::Result<base::FilePath> ReadShortcut(const std::string& value,
                                          const ShortcutCheck& is_product_shortcut) {
  const base::FilePath path(base::UTF8ToWide(value));
  if (!path.IsAbsolute() || (is_product_shortcut && !is_product_shortcut(path)))
    return base::Failure{0, 0, "not a shortcut of the product: " + value, {}};
  return path;
}

// The name `path` had before it was set aside (once or more); `path` itself when it is no
// set-aside copy.
base::FilePath OriginalOf(const base::FilePath& path) {
  std::wstring name = path.BaseName().value();
  std::wstring original;
  int64_t second = 0;
  while (ParseSetAsideName(name, &original, &second)) name = original;
  return path.DirName().Append(name);
}

// A step's name of a shortcut: one of the product's shortcuts or a set-aside copy of one.
base::Result<base::FilePath> ReadShortcutOrCopy(const std::string& value,
                                                const ShortcutCheck& is_product_shortcut) {
  const base::FilePath path(base::UTF8ToWide(value));
  if (!path.IsAbsolute() || (is_product_shortcut && !is_product_shortcut(OriginalOf(path))))
    return base::Failure{0, 0, "not a shortcut of the product: " + value, {}};
  return path;
}

// One line of what a later run left undone; `what` without its "shortcut-".
base::Result<RunNote::Step> ReadStep(const std::string& what, const std::string& value,
                                     bool shortcut, const base::FilePath& install_folder,
                                     const ShortcutCheck& is_product_shortcut) {
  const auto read = [&](const std::string& name) {
    return shortcut ? ReadShortcutOrCopy(name, is_product_shortcut)
                    : ReadRelative(name, install_folder);
  };
  const bool put_back = what == kLeftPutBack;
  const size_t bar = put_back ? value.find('|') : std::string::npos;
  if (put_back && bar == std::string::npos)
    return base::Failure{0, 0, "a put-back without its copy", {}};
  base::Result<base::FilePath> path = read(put_back ? value.substr(bar + 1) : value);
  if (!path.ok()) return path.failure();
  RunNote::Step step{path.value(), base::FilePath()};
  if (!put_back) return step;
  base::Result<base::FilePath> copy = read(value.substr(0, bar));
  if (!copy.ok()) return copy.failure();
  // A shortcut comes back from its own folder only.
  if (shortcut && !IsSamePath(copy.value().DirName(), path.value().DirName()))
    return base::Failure{0, 0, "a put-back from another folder: " + value, {}};
  step.copy = copy.value();
  return step;
}

// The record the run moved into "old_status" (an upgrade keeps its predecessor's there).
base::FilePath MovedRecordOf(const base::FilePath& install_folder, const RunNote& note) {
  if (note.operation != RunNote::Operation::kUpgrade) return base::FilePath();
  const base::FilePath folder = install_folder.Append(kOldStatusFolderName);
  const std::wstring prefix = std::wstring(kStatusFileName) + L".";
  base::FilePath earliest;
  int64_t earliest_second = INT64_MAX;
  base::FileEnumerator records(folder, false, base::FileEnumerator::FILES, prefix + L"*");
  for (base::FilePath path = records.Next(); !path.empty(); path = records.Next()) {
    int64_t second = 0;
    const std::wstring digits = path.BaseName().value().substr(prefix.size());
    if (!base::StringToInt64(digits, &second) || second < note.start ||
        second >= earliest_second)
      continue;
    earliest = path;
    earliest_second = second;
  }
  return earliest;
}

void Undo(const base::FilePath& install_folder, const RunNote& note, RunNoteFinisher* finisher) {
  for (const RunNote::Move& move : note.moves) {
    if (!base::PathExists(move.from) && finisher->CopiesOf(note, move.from).empty() &&
        base::PathExists(move.to))
      finisher->Restore(move.to, move.from);
  }
  const base::FilePath record = install_folder.Append(kStatusFileName);
  for (const std::vector<RunNote::Entry>* list : {&note.entries, &note.shortcuts}) {
    for (const RunNote::Entry& entry : *list) {
      std::vector<base::FilePath> copies = finisher->CopiesOf(note, entry.path);
      if (copies.empty() && IsOriginal(entry) && IsSamePath(entry.path, record)) {
        const base::FilePath moved = MovedRecordOf(install_folder, note);
        if (!moved.empty()) copies.push_back(moved);
      }
      if (entry.kind == RunNote::Kind::kMake || entry.kind == RunNote::Kind::kTemporary) {
        finisher->Delete(entry.path);
        for (const base::FilePath& copy : copies) finisher->Delete(copy);
        continue;
      }
      if (copies.empty()) continue;
      // What stands in the original's place is the run's; the first copy the original.
      finisher->Delete(entry.path);
      for (size_t i = 1; i < copies.size(); ++i) finisher->Delete(copies[i]);
      finisher->Restore(copies[0], entry.path);
    }
  }
  if (!note.subfolder.empty()) finisher->RemoveEmptyTree(install_folder.Append(note.subfolder));
}

void Complete(const RunNote& note, RunNoteFinisher* finisher) {
  const bool uninstall = note.operation == RunNote::Operation::kUninstall;
  for (const std::vector<RunNote::Entry>* list : {&note.entries, &note.shortcuts}) {
    for (const RunNote::Entry& entry : *list) {
      for (const base::FilePath& copy : finisher->CopiesOf(note, entry.path)) finisher->Delete(copy);
      // An uninstallation's end leaves nothing of what it named.
      if (entry.kind == RunNote::Kind::kRemove || entry.kind == RunNote::Kind::kTemporary ||
          uninstall)
        finisher->Delete(entry.path);
    }
  }
}

// `path` as a note writes it: "/" is the system's separator too, written as the one the
// reader takes.
std::wstring Written(const std::wstring& path) {
  std::wstring written = path;
  std::replace(written.begin(), written.end(), L'/', L'\\');
  return written;
}

// The name of `path` in a note: relative to the install folder (cut after its separator,
// a drive root's own too), or whole for a shortcut.
std::string NoteName(const base::FilePath& install_folder, const base::FilePath& path) {
  const base::FilePath name = IsBelow(path, install_folder)
                                  ? RebasePath(path, install_folder, base::FilePath())
                                  : path;
  return base::WideToUTF8(Written(name.value()));
}

// A line naming what the run changes: a shortcut's move, an entry, or what a later run
// left undone; added to `note`.
base::Result<> ReadNameLine(const std::string& what, const std::string& value,
                            const base::FilePath& install_folder,
                            const ShortcutCheck& is_product_shortcut, RunNote* note) {
  if (what == "move") {
    const size_t bar = value.find('|');
    if (bar == std::string::npos) return base::Failure{0, 0, "a move without a target", {}};
    base::Result<base::FilePath> from = ReadShortcut(value.substr(0, bar), is_product_shortcut);
    if (!from.ok()) return from.failure();
    base::Result<base::FilePath> to = ReadShortcut(value.substr(bar + 1), is_product_shortcut);
    if (!to.ok()) return to.failure();
    // A run renames its shortcuts in their folder, never into another.
    if (!IsSamePath(from.value().DirName(), to.value().DirName()))
      return base::Failure{0, 0, "a move between folders: " + value, {}};
    note->moves.push_back({from.value(), to.value()});
    return base::Result<>();
  }
  const bool shortcut = what.compare(0, 9, "shortcut-") == 0;
  const std::string kind_name = shortcut ? what.substr(9) : what;
  if (kind_name == kLeftRemove || kind_name == kLeftPutBack) {
    base::Result<RunNote::Step> step =
        ReadStep(kind_name, value, shortcut, install_folder, is_product_shortcut);
    if (!step.ok()) return step.failure();
    note->left.push_back(step.value());
    return base::Result<>();
  }
  const auto* const end_kind = std::end(kKindNames);
  const auto* kind = std::find_if(std::begin(kKindNames), end_kind,
                                  [&kind_name](const KindName& k) { return kind_name == k.name; });
  if (kind == end_kind) return base::Failure{0, 0, "an unknown line: " + what, {}};
  base::Result<base::FilePath> path = shortcut ? ReadShortcut(value, is_product_shortcut)
                                               : ReadRelative(value, install_folder);
  if (!path.ok()) return path.failure();
  (shortcut ? note->shortcuts : note->entries).push_back({kind->kind, path.value()});
  return base::Result<>();
}

// Whether `read` names exactly what `note` names.
bool ReadsAs(const RunNote& note, const RunNote& read) {
  // Compared as UTF-16: a unit that UTF-8 cannot hold is written as another character.
  const auto same = [](const base::FilePath& a, const base::FilePath& b) {
    return Written(a.value()) == b.value();
  };
  if (note.subfolder != read.subfolder || note.entries.size() != read.entries.size() ||
      note.shortcuts.size() != read.shortcuts.size() || note.moves.size() != read.moves.size())
    return false;
  for (size_t i = 0; i < note.entries.size(); ++i) {
    if (!same(note.entries[i].path, read.entries[i].path)) return false;
  }
  for (size_t i = 0; i < note.shortcuts.size(); ++i) {
    if (!same(note.shortcuts[i].path, read.shortcuts[i].path)) return false;
  }
  for (size_t i = 0; i < note.moves.size(); ++i) {
    if (!same(note.moves[i].from, read.moves[i].from) || !same(note.moves[i].to, read.moves[i].to))
      return false;
  }
  if (note.left.size() != read.left.size()) return false;
  for (size_t i = 0; i < note.left.size(); ++i) {
    if (!same(note.left[i].path, read.left[i].path) || !same(note.left[i].copy, read.left[i].copy))
      return false;
  }
  return true;
}

// The note's text as it will be read: a name that would read back as another (a name that
// is not UTF-16, a line break in it) fails the run before its first change.
base::Result<std::string> NoteTextOf(const RunNote& note, const base::FilePath& install_folder) {
  std::string text = SerializeRunNote(note, install_folder);
  const base::Result<RunNote> read = ParseRunNote(text, install_folder, nullptr);
  if (!read.ok() || !ReadsAs(note, read.value())) {
    LOG(ERROR) << "The run's note would not read back as written"
               << (read.ok() ? std::string() : ": " + read.failure().text);
    SetLastError(ERROR_INVALID_DATA);
    return base::Failure{ERROR_INVALID_DATA, 0, "the run's note would not read back", {}};
  }
  return text;
}

// Finishes the run of the note `found` through the held install folder: removes the note
// once done, else rewrites it to name only what is left, and adds that to `unfinished`.
base::Result<> FinishRun(const HeldInstallFolder& install, const FoundRunNote& found,
                         UnfinishedRuns* unfinished) {
  const base::FilePath& install_folder = install.path();
  const RunNote& note = *found.note;
  RunNoteFinisher finisher(install);
  const bool forward = note.left.empty() && RunNoteRollsForward(install.final_path(), note);
  if (!note.left.empty()) {
    LOG(INFO) << "Finishing what is left of the interrupted run of " << found.path.AsUTF8();
    for (const RunNote::Step& step : note.left) {
      if (step.copy.empty())
        finisher.Delete(step.path);
      else
        finisher.Restore(step.copy, step.path);
    }
    finisher.RemoveEmptiedFolders();
    if (!note.subfolder.empty()) finisher.RemoveEmptyTree(install_folder.Append(note.subfolder));
  } else {
    LOG(INFO) << (forward ? "Completing" : "Undoing") << " the interrupted run of "
              << found.path.AsUTF8();
    if (forward)
      Complete(note, &finisher);
    else
      Undo(install_folder, note, &finisher);
    finisher.RemoveEmptiedFolders();
    // What the run's atomic writes of the files of the folder itself left half done.
    std::vector<std::wstring> written;
    for (const RunNote::Entry& entry : note.entries) {
      if (IsSamePath(entry.path.DirName(), install_folder))
        written.push_back(entry.path.BaseName().value());
    }
    DeleteStaleTempFilesIn(install.folder(), written, false);
  }
  if (finisher.left().empty() && !finisher.folder_refused()) {
    RemoveStoredRunNote(install, found.path);
    return {};
  }
  // Named exactly from now on: what is there later may be a later run's.
  RunNote rest;
  rest.operation = note.operation;
  rest.start = note.start;
  if (!forward && !note.subfolder.empty() &&
      base::DirectoryExists(install.final_path().Append(note.subfolder)))
    rest.subfolder = note.subfolder;
  rest.left = finisher.left();
  const base::Result<std::string> text = NoteTextOf(rest, install_folder);
  if (!text.ok() || !base::ImportantFileWriter::WriteFileAtomically(
                        RebasePath(found.path, install_folder, install.final_path()), text.value()))
    return base::Failure{GetLastError(), 0, "could not note what is left of an interrupted run",
                         found.path};
  LOG(WARNING) << "Keeping the note " << found.path.AsUTF8()
               << " for a later run, naming only what is left";
  unfinished->left.insert(unfinished->left.end(), rest.left.begin(), rest.left.end());
  unfinished->held.insert(unfinished->held.end(), finisher.held().begin(), finisher.held().end());
  unfinished->notes.push_back(found.path);
  return {};
}

}  // namespace

std::string SerializeRunNote(const RunNote& note, const base::FilePath& install_folder) {
  std::string text = std::string(kHeader) + "\n";
  text += std::string("operation ") + kOperationNames[static_cast<int>(note.operation)] + "\n";
  text += "start " + std::to_string(note.start) + "\n";
  if (!note.subfolder.empty()) text += "subfolder " + base::WideToUTF8(note.subfolder) + "\n";
  for (const RunNote::Entry& entry : note.entries)
    text += std::string(NameOf(entry.kind)) + " " + NoteName(install_folder, entry.path) + "\n";
  for (const RunNote::Entry& entry : note.shortcuts)
    text += std::string("shortcut-") + NameOf(entry.kind) + " " +
            base::WideToUTF8(Written(entry.path.value())) + "\n";
  for (const RunNote::Move& move : note.moves)
    text += "move " + base::WideToUTF8(Written(move.from.value())) + "|" +
            base::WideToUTF8(Written(move.to.value())) + "\n";
  for (const RunNote::Step& step : note.left) {
    text += IsBelow(step.path, install_folder) ? "" : "shortcut-";
    text += step.copy.empty() ? std::string(kLeftRemove) + " "
                              : std::string(kLeftPutBack) + " " +
                                    NoteName(install_folder, step.copy) + "|";
    text += NoteName(install_folder, step.path) + "\n";
  }
  if (note.committing) text += "committing\n";
  return text + kEndLine + "\n";
}

base::Result<RunNote> ParseRunNote(const std::string& text, const base::FilePath& install_folder,
                                   const ShortcutCheck& is_product_shortcut) {
  // Whole or refused: a note in the first format, without the end line, counts only when
  // its last line is whole (it was written in one atomic step).
  const size_t header_end = text.find('\n');
  const std::string header = text.substr(0, header_end);
  const bool first_format = header == kFirstHeader;
  if (header != kHeader && !first_format) return base::Failure{0, 0, "not a run note", {}};
  if (text.empty() || text.back() != '\n') return base::Failure{0, 0, "a note cut short", {}};
  // Names are read as they were written: a byte that is no UTF-8 would be read as another.
  if (base::WideToUTF8(base::UTF8ToWide(text)) != text)
    return base::Failure{0, 0, "a note that is not UTF-8", {}};
  RunNote note;
  std::set<std::string> seen;
  bool ended = false;
  for (size_t start = header_end + 1; start < text.size();) {
    const size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (ended) return base::Failure{0, 0, "a line after the end", {}};
    const size_t blank = line.find(' ');
    const std::string what = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (value.find('/') != std::string::npos)
      return base::Failure{0, 0, "a name with a \"/\": " + value, {}};
    const bool once = what == kEndLine || what == "committing" || what == "operation" ||
                      what == "start" || what == "subfolder";
    if (once && !seen.insert(what).second)
      return base::Failure{0, 0, "a repeated line: " + what, {}};
    if (what == kEndLine && value.empty()) {
      ended = true;
    } else if (what == "committing" && value.empty()) {
      note.committing = true;
    } else if (what == "operation") {
      const auto* const end_name = std::end(kOperationNames);
      const auto* found = std::find_if(std::begin(kOperationNames), end_name,
                                       [&value](const char* name) { return value == name; });
      if (found == end_name) return base::Failure{0, 0, "unknown operation " + value, {}};
      note.operation = static_cast<RunNote::Operation>(found - std::begin(kOperationNames));
    } else if (what == "start") {
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
          !base::StringToInt64(value, &note.start))
        return base::Failure{0, 0, "a bad start: " + value, {}};
    } else if (what == "subfolder") {
      note.subfolder = base::UTF8ToWide(value);
      if (!IsBareFileName(note.subfolder))
        return base::Failure{0, 0, "a version folder outside the install folder: " + value, {}};
    } else {
      const base::Result<> read = ReadNameLine(what, value, install_folder, is_product_shortcut, &note);
      if (!read.ok()) return read.failure();
    }
  }
  if (!seen.count("operation") || !seen.count("start") || (!ended && !first_format))
    return base::Failure{0, 0, "an incomplete note", {}};
  if (!note.left.empty() &&
      (!note.entries.empty() || !note.shortcuts.empty() || !note.moves.empty() || note.committing))
    return base::Failure{0, 0, "what was left beside a whole run", {}};
  return note;
}

base::Result<> WriteRunNote(const HeldInstallFolder& install, const RunNote& note,
                            RunNoteFile* file) {
  const base::Result<std::string> text = NoteTextOf(note, install.path());
  if (!text.ok()) return text.failure();
  return file->Write(install, note.start, text.value());
}

bool RewriteRunNote(RunNoteFile* file, const RunNote& note) {
  const base::Result<std::string> text = NoteTextOf(note, file->install_folder());
  return text.ok() && file->Rewrite(text.value());
}

base::Result<base::FilePath> WriteRunNote(const base::FilePath& install_folder,
                                          const RunNote& note) {
  HeldInstallFolder install;
  base::Result<> written = install.Hold(install_folder);
  RunNoteFile file;
  if (written.ok()) written = WriteRunNote(install, note, &file);
  if (!written.ok()) return written.failure();
  return file.path();
}

bool RewriteRunNote(const base::FilePath& path, const RunNote& note) {
  const base::Result<std::string> text = NoteTextOf(note, path.DirName().DirName());
  return text.ok() && base::ImportantFileWriter::WriteFileAtomically(path, text.value());
}

base::Result<std::vector<FoundRunNote>> FindRunNotes(const HeldInstallFolder& install,
                                                     const ShortcutCheck& is_product_shortcut) {
  const base::Result<std::vector<StoredRunNote>> stored = ReadStoredRunNotes(install);
  if (!stored.ok()) return stored.failure();
  std::vector<FoundRunNote> found;
  for (const StoredRunNote& file : stored.value()) {
    FoundRunNote note{file.path, std::nullopt, file.problem};
    if (note.problem.empty()) {
      base::Result<RunNote> parsed = ParseRunNote(file.text, install.path(), is_product_shortcut);
      if (parsed.ok())
        note.note = std::move(parsed).value();
      else
        note.problem = parsed.failure().text;
    }
    found.push_back(std::move(note));
  }
  return found;
}

std::vector<FoundRunNote> FindRunNotes(const base::FilePath& install_folder,
                                       const ShortcutCheck& is_product_shortcut) {
  HeldInstallFolder install;
  if (!install.Hold(install_folder).ok()) return {};
  base::Result<std::vector<FoundRunNote>> found = FindRunNotes(install, is_product_shortcut);
  // Each note that can be read counts; one that cannot is none of these views' business.
  return found.ok() ? std::move(found).value() : std::vector<FoundRunNote>();
}

bool RunNoteRollsForward(const base::FilePath& install_folder, const RunNote& note) {
  if (note.committing) return true;
  if (note.operation == RunNote::Operation::kUninstall || note.subfolder.empty()) return false;
  const base::FilePath record = install_folder.Append(kStatusFileName);
  if (!base::PathExists(record)) return false;
  std::unique_ptr<InstallLog> log;
  InstallLogReader().ParseFile(&log, record, SOURCE_STATUS_FILE);
  return log && base::FilePath::CompareIgnoreCase(log->subfolder, note.subfolder) == 0;
}

std::vector<base::FilePath> RunCopiesOf(const RunNote& note, const base::FilePath& path) {
  return FindSetAsideCopiesSince(path, note.start);
}

base::Result<UnfinishedRuns> FinishInterruptedRuns(const HeldInstallFolder& install,
                                                   const ShortcutCheck& is_product_shortcut) {
  DeleteStaleNoteTempFiles(install, {}, true);
  // Read whole before anything is done: a note that cannot be read may be a live run's.
  const base::Result<std::vector<FoundRunNote>> found = FindRunNotes(install, is_product_shortcut);
  if (!found.ok()) return found.failure();
  UnfinishedRuns unfinished;
  for (const FoundRunNote& note : found.value()) {
    if (!note.note) {
      LOG(WARNING) << "Keeping everything the note " << note.path.AsUTF8()
                   << " may name: " << note.problem;
      continue;
    }
    const base::Result<> finished = FinishRun(install, note, &unfinished);
    if (!finished.ok()) return finished.failure();
  }
  return unfinished;
}

base::Result<UnfinishedRuns> FinishInterruptedRuns(const base::FilePath& install_folder,
                                                   const ShortcutCheck& is_product_shortcut) {
  HeldInstallFolder install;
  const base::Result<> held = install.Hold(install_folder);
  if (!held.ok()) return held.failure();
  return FinishInterruptedRuns(install, is_product_shortcut);
}

bool IsOneOf(const std::vector<base::FilePath>& paths, const base::FilePath& path) {
  return std::any_of(paths.begin(), paths.end(),
                     [&path](const base::FilePath& other) { return IsSamePath(other, path); });
}

bool UnfinishedRuns::IsHeld(const RunNote::Step& step) const {
  return step.copy.empty() && IsOneOf(held, step.path);
}

const RunNote::Step* FindStepInTheWay(const std::vector<RunNote::Step>& left,
                                      const RunNote& run, bool any,
                                      const std::vector<base::FilePath>& own_files) {
  std::set<base::FilePath, PathIgnoreCaseLess> names;
  for (const std::vector<RunNote::Entry>* list : {&run.entries, &run.shortcuts}) {
    for (const RunNote::Entry& entry : *list) names.insert(entry.path);
  }
  for (const RunNote::Move& move : run.moves) names.insert({move.from, move.to});
  for (const RunNote::Step& step : left) {
    // A file the running uninstallation runs from is in nobody's way, though its run
    // names it too.
    if (any && IsOneOf(own_files, step.path)) continue;
    if (any) return &step;
    if (names.count(step.path) || (!step.copy.empty() && names.count(step.copy))) return &step;
  }
  return nullptr;
}

base::FilePath FindInterruptedRunRecord(const base::FilePath& install_folder,
                                        bool finishing_uninstallation) {
  const base::FilePath record = install_folder.Append(kStatusFileName);
  std::vector<FoundRunNote> notes = FindRunNotes(install_folder, nullptr);
  for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
    if (!it->note) continue;
    const RunNote& note = *it->note;
    const auto put_back = std::find_if(note.left.begin(), note.left.end(),
                                       [&record](const RunNote::Step& step) {
                                         return !step.copy.empty() && IsSamePath(step.path, record);
                                       });
    if (put_back != note.left.end()) return put_back->copy;
    if (!note.left.empty()) continue;
    const bool uninstall = note.operation == RunNote::Operation::kUninstall;
    if (RunNoteRollsForward(install_folder, note) && !(uninstall && finishing_uninstallation))
      continue;
    const bool named = std::any_of(note.entries.begin(), note.entries.end(),
                                   [&record](const RunNote::Entry& entry) {
                                     return IsOriginal(entry) && IsSamePath(entry.path, record);
                                   });
    if (!named) continue;
    const std::vector<base::FilePath> copies = RunCopiesOf(note, record);
    if (!copies.empty()) return copies.front();
    const base::FilePath moved = MovedRecordOf(install_folder, note);
    if (!moved.empty()) return moved;
  }
  return base::FilePath();
}

bool IsSetAsideByInterruptedRun(const base::FilePath& install_folder, const base::FilePath& path,
                                bool restored_only) {
  for (const FoundRunNote& found : FindRunNotes(install_folder, nullptr)) {
    if (!found.note) continue;
    const RunNote& note = *found.note;
    for (const RunNote::Step& step : note.left) {
      if (!step.copy.empty() && IsSamePath(step.path, path) && base::PathExists(step.copy))
        return true;
    }
    if (!note.left.empty() || (restored_only && RunNoteRollsForward(install_folder, note)))
      continue;
    for (const std::vector<RunNote::Entry>* list : {&note.entries, &note.shortcuts}) {
      for (const RunNote::Entry& entry : *list) {
        if (IsOriginal(entry) && IsSamePath(entry.path, path) &&
            !RunCopiesOf(note, path).empty())
          return true;
      }
    }
    for (const RunNote::Move& move : note.moves) {
      if (IsSamePath(move.from, path) && base::PathExists(move.to)) return true;
    }
  }
  return false;
}

}  // namespace installer
