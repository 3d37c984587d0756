#include "desktop/windows/installer/service/interrupted_runs/note_left_to_batch.h"

#include <algorithm>

#include "base/logging.h"

namespace installer {

std::vector<base::FilePath> FindFilesOutlivingBatch(
    const std::vector<base::FilePath>& left, const std::vector<base::FilePath>& waited_programs,
    const std::vector<base::FilePath>& notes) {
  std::vector<base::FilePath> files;
  size_t outliving = left.size();
  for (const base::FilePath& path : left) {
    if (IsOneOf(notes, path) || IsOneOf(files, path)) continue;
    if (outliving == left.size() && !IsOneOf(waited_programs, path)) outliving = files.size();
    files.push_back(path);
  }
  if (outliving == left.size()) return {};
  // First: the one that keeps the note.
  std::rotate(files.begin(), files.begin() + outliving, files.begin() + outliving + 1);
  return files;
}

void KeepNoteForLaterRun(RunNoteFile* file, const RunNote& note,
                         const std::vector<base::FilePath>& files) {
  // Named exactly: later runs may make files of the same names.
  RunNote rest;
  rest.operation = note.operation;
  rest.start = note.start;
  for (const base::FilePath& file : files) rest.left.push_back({file, base::FilePath()});
  // Else the whole note stays, naming them too.
  const bool rewritten = RewriteRunNote(file, rest);
  LOG(WARNING) << "Keeping the note " << file->path().AsUTF8() << (rewritten ? "" : " whole")
               << " for a later run: " << files.front().AsUTF8() << " is still there";
}

}  // namespace installer
