#include "desktop/windows/installer/service/interrupted_runs/run_note_file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/installer/service/install_folder_files.h"

namespace installer {

namespace {

const wchar_t kNotePrefix[] = L"run.";
const wchar_t kNoteSuffix[] = L".note";
// A note names each file of a package once: far below this.
const size_t kMaxNoteSize = 16 * 1024 * 1024;
// What a cut atomic write adds to its target's name: ".<GUID>.tmp".
const size_t kTempSuffixSize = 1 + 36 + 4;

const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
const DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring NoteFileName(int64_t second) {
  return kNotePrefix + std::to_wstring(second) + kNoteSuffix;
}

// Holds "old_status" of the held install folder through its handle.
base::Result<> HoldNoteFolder(const HeldInstallFolder& install, HeldFile* folder) {
  return HoldChild(install.folder(), install.path().Append(kOldStatusFolderName), kFolderAccess,
                   kFolderShare, true, false, folder);
}

// The whole text of the held `file`, read from its start whatever its handle's position
// (a rewrite's business). False, with the thread's last error, when a read fails;
// `too_large` when it is larger than a note can be, its text then cut.
bool ReadNoteText(const HeldFile& file, std::string* text, bool* too_large) {
  text->clear();
  *too_large = false;
  for (;;) {
    char buffer[64 * 1024];
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(text->size());
    DWORD read = 0;
    if (!ReadFile(file.handle(), buffer, sizeof(buffer), &read, &at))
      return GetLastError() == ERROR_HANDLE_EOF;
    if (read == 0) return true;
    text->append(buffer, read);
    if (text->size() > kMaxNoteSize) {
      *too_large = true;
      return true;
    }
  }
}

// The whole text of the held file, or why it has none: a read that fails is a failure, a
// file larger than a note a problem.
base::Result<> ReadHeldNote(const HeldFile& file, StoredRunNote* note) {
  std::string text;
  bool too_large = false;
  if (!ReadNoteText(file, &text, &too_large)) {
    return base::Failure{GetLastError(), 0, "the note " + note->path.AsUTF8() + " cannot be read",
                         note->path};
  }
  if (too_large)
    note->problem = "it is larger than a note";
  else
    note->text = std::move(text);
  return {};
}

// Once the note `path` is gone or its first write failed: the temporary files its cut
// writes left, through the held "old_status" `folder`, which is then let go, and
// "old_status" when that leaves it empty (the records of older versions stay there).
void ClearAfterNote(const HeldInstallFolder& install, HeldFile* folder,
                    const base::FilePath& path) {
  DeleteStaleTempFilesIn(*folder, {path.BaseName().value()}, false);
  *folder = HeldFile();
  (void)install.RemoveFolderIfEmpty(path.DirName());
}

}  // namespace

bool ParseRunNoteFileName(const std::wstring& name, int64_t* second) {
  const size_t prefix = wcslen(kNotePrefix);
  const size_t suffix = wcslen(kNoteSuffix);
  if (name.size() <= prefix + suffix ||
      base::FilePath::CompareIgnoreCase(name.substr(0, prefix), kNotePrefix) != 0 ||
      base::FilePath::CompareIgnoreCase(name.substr(name.size() - suffix), kNoteSuffix) != 0)
    return false;
  const std::wstring digits = name.substr(prefix, name.size() - prefix - suffix);
  return !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                        [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
         base::StringToInt64(digits, second);
}

base::Result<std::vector<StoredRunNote>> ReadStoredRunNotes(const HeldInstallFolder& install) {
  std::vector<StoredRunNote> notes;
  const base::FilePath folder_path = install.path().Append(kOldStatusFolderName);
  HeldFile folder;
  const base::Result<> held = HoldNoteFolder(install, &folder);
  if (!held.ok()) {
    // A file of that name holds no notes; a link holds only damaged ones.
    if (held.failure().error == ERROR_FILE_NOT_FOUND || held.failure().kind == kHeldOtherKind)
      return notes;
    if (held.failure().kind != kHeldLink) return held.failure();
    notes.push_back({folder_path, std::string(), "its folder is a link: " + held.failure().text});
    return notes;
  }
  std::vector<HeldFile::Listed> entries;
  if (!folder.ListFolder(&entries)) {
    return base::Failure{GetLastError(), 0, "the notes in " + folder_path.AsUTF8() +
                                                " cannot be listed", folder_path};
  }
  std::vector<std::pair<int64_t, const HeldFile::Listed*>> named;
  for (const HeldFile::Listed& entry : entries) {
    int64_t second = 0;
    if (ParseRunNoteFileName(entry.name, &second)) named.emplace_back(second, &entry);
  }
  std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second->name < b.second->name;
  });
  for (const auto& found : named) {
    StoredRunNote note{folder_path.Append(found.second->name), std::string(), std::string()};
    HeldFile file;
    const base::Result<> opened = HoldListed(folder, *found.second, GENERIC_READ, FILE_SHARE_READ,
                                             &file);
    if (IsMissingPlace(opened)) continue;  // removed since the listing
    if (!opened.ok() && opened.failure().kind == 0) {
      return base::Failure{opened.failure().error, 0,
                           "the note " + note.path.AsUTF8() + " cannot be opened", note.path};
    }
    const base::Result<> read =
        opened.ok() ? ReadHeldNote(file, &note) : base::Result<>();
    if (!read.ok()) return read.failure();
    if (!opened.ok()) note.problem = opened.failure().text;
    notes.push_back(std::move(note));
  }
  return notes;
}

void DeleteStaleTempFilesIn(const HeldFile& folder, const std::vector<std::wstring>& targets,
                            bool any_note) {
  std::vector<HeldFile::Listed> entries;
  if (!folder.ListFolder(&entries)) return;
  for (const HeldFile::Listed& entry : entries) {
    const auto is_temp_of = [&entry](const std::wstring& target) {
      return base::ImportantFileWriter::IsTempFileNameOf(entry.name, base::FilePath(target));
    };
    int64_t second = 0;
    const std::wstring note = entry.name.size() > kTempSuffixSize
                                  ? entry.name.substr(0, entry.name.size() - kTempSuffixSize)
                                  : std::wstring();
    const bool half_written_note =
        any_note && ParseRunNoteFileName(note, &second) && is_temp_of(note);
    if (!half_written_note && std::none_of(targets.begin(), targets.end(), is_temp_of)) continue;
    HeldFile file;
    if (HoldListed(folder, entry, DELETE | FILE_READ_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, &file)
            .ok() &&
        !file.DeleteOnClose())
      PLOG(WARNING) << "Could not remove " << file.final_path().AsUTF8();
  }
}

void DeleteStaleNoteTempFiles(const HeldInstallFolder& install,
                              const std::vector<std::wstring>& targets, bool any_note) {
  HeldFile folder;
  if (HoldNoteFolder(install, &folder).ok()) DeleteStaleTempFilesIn(folder, targets, any_note);
}

void RemoveStoredRunNote(const HeldInstallFolder& install, const base::FilePath& path) {
  HeldWay way;
  const base::Result<> held = install.HoldBelow(path, DELETE | FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, false, &way);
  if (held.ok() ? !way.place.DeleteOnClose() : !IsMissingPlace(held))
    LOG(WARNING) << "Could not remove the run's note " << path.AsUTF8();
  way = HeldWay();
  HeldFile folder;
  if (!HoldNoteFolder(install, &folder).ok()) folder = HeldFile();
  ClearAfterNote(install, &folder, path);
}

RunNoteFile::RunNoteFile() = default;
RunNoteFile::~RunNoteFile() = default;

base::Result<> RunNoteFile::Write(const HeldInstallFolder& install, int64_t start,
                                  const std::string& text) {
  const base::FilePath folder_path = install.path().Append(kOldStatusFolderName);
  // Made through the held folder's handle, never through a link put in its place.
  if (!folder_.CreateChildFolder(install.folder(), kOldStatusFolderName)) {
    return base::Failure{GetLastError(), 0, "could not make the folder of the run's note",
                         folder_path};
  }
  if (folder_.is_reparse_point() ||
      !IsSamePath(folder_.final_path(), install.final_path().Append(kOldStatusFolderName))) {
    folder_ = HeldFile();
    return base::Failure{0, kHeldLink, "the folder of the run's note is a link", folder_path};
  }
  install_ = &install;
  for (int64_t second = start;; ++second) {
    const std::wstring name = NoteFileName(second);
    const base::FilePath final_path = folder_.final_path().Append(name);
    if (base::PathExists(final_path)) continue;
    if (!base::ImportantFileWriter::WriteFileAtomically(final_path, text)) {
      const DWORD error = GetLastError();
      ClearAfterNote(install, &folder_, folder_path.Append(name));
      return base::Failure{error, 0, "could not write the run's note",
                           folder_path.Append(name)};
    }
    path_ = folder_path.Append(name);
    final_path_ = final_path;
    if (Take()) return {};
    const DWORD error = GetLastError();
    Remove();
    return base::Failure{error, 0, "could not hold the run's note", folder_path.Append(name)};
  }
}

bool RunNoteFile::Take() {
  note_ = HeldFile();
  // Shared for deletion only: another run cannot read it, this one can still replace it.
  const base::Result<> held = HoldChild(folder_, path_, GENERIC_READ | DELETE,
                                        FILE_SHARE_DELETE, false, false, &note_);
  if (!held.ok()) {
    LOG(ERROR) << "Could not hold the run's note: " << base::DescribeFailure(held.failure());
    SetLastError(held.failure().error ? held.failure().error : ERROR_INVALID_HANDLE);
  }
  return held.ok();
}

bool RunNoteFile::Rewrite(const std::string& text) {
  if (!written()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!base::ImportantFileWriter::WriteFileAtomically(final_path_, text)) {
    // A system that replaces no file while another handle holds it, even one shared for
    // deletion (Wine, NTFS renames without POSIX semantics), gets it let go for the moment
    // of the rename.
    const DWORD error = GetLastError();
    note_ = HeldFile();
    const bool replaced = base::ImportantFileWriter::WriteFileAtomically(final_path_, text);
    if (!Take() || !replaced) {
      SetLastError(replaced ? GetLastError() : error);
      return false;
    }
    return true;
  }
  return Take();
}

void RunNoteFile::Remove() {
  if (!written()) return;
  if (!note_.handle() && !Take()) LOG(WARNING) << "The run's note is gone";
  if (note_.handle() && !note_.DeleteOnClose())
    PLOG(WARNING) << "Could not remove the run's note " << path_.AsUTF8();
  note_ = HeldFile();
  ClearAfterNote(*install_, &folder_, path_);
  path_.clear();
  final_path_.clear();
}

bool RunNoteFile::Read(std::string* text) const {
  bool too_large = false;
  return ReadNoteText(note_, text, &too_large) && !too_large;
}

void RunNoteFile::Release() {
  note_ = HeldFile();
  folder_ = HeldFile();
}

}  // namespace installer
