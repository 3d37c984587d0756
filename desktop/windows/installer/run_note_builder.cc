#include "desktop/windows/installer/run_note_builder.h"

#include <memory>
#include <set>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"

namespace installer {

namespace {

class NoteBuilder {
 public:
  NoteBuilder(RunNote* note, bool all_users) : note_(note), all_users_(all_users) {}

  // `path` as it is now: missing, made by the run; there, replaced or removed by it.
  void Add(const base::FilePath& path, bool removed) {
    if (!seen_.insert(path).second) return;
    note_->entries.push_back({KindOf(path, removed), path});
  }
  void AddTemporary(const base::FilePath& path) {
    if (seen_.insert(path).second) note_->entries.push_back({RunNote::Kind::kTemporary, path});
  }
  void AddShortcut(const base::FilePath& path, bool removed) {
    if (!IsProductShortcut(path, all_users_) || !seen_.insert(path).second) return;
    note_->shortcuts.push_back({KindOf(path, removed), path});
  }
  // Names of a record or a list, below `folder`; those that leave it are nobody's.
  void AddBelow(const base::FilePath& folder, const std::wstring& name, bool removed) {
    if (CheckRelativePath(name) == NameProblem::kNone) Add(folder.Append(name), removed);
  }

 private:
  static RunNote::Kind KindOf(const base::FilePath& path, bool removed) {
    if (!base::PathExists(path)) return RunNote::Kind::kMake;
    return removed ? RunNote::Kind::kRemove : RunNote::Kind::kReplace;
  }

  RunNote* note_;
  const bool all_users_;
  std::set<base::FilePath, PathIgnoreCaseLess> seen_;
};

void AddRecordFiles(const base::FilePath& install_folder, const InstallLog& record,
                    NoteBuilder* builder) {
  if (!IsBareFileName(record.subfolder)) return;
  const base::FilePath folder = install_folder.Append(record.subfolder);
  for (const std::wstring& file : record.files) builder->AddBelow(folder, file, true);
}

// The versions' files an upgrade or an uninstallation removes for the records kept in
// "old_status".
void AddOldRecords(const base::FilePath& install_folder, NoteBuilder* builder) {
  base::FileEnumerator records(install_folder.Append(kOldStatusFolderName), false,
                               base::FileEnumerator::FILES, L"*.xml.*");
  for (base::FilePath path = records.Next(); !path.empty(); path = records.Next()) {
    std::unique_ptr<InstallLog> record;
    InstallLogReader().ParseFile(&record, path, SOURCE_OLD_STATUS);
    if (record && !record->damaged) AddRecordFiles(install_folder, *record, builder);
  }
}

std::vector<std::wstring> ShortcutNames(const RunNoteSources& sources) {
  std::vector<std::wstring> names = {GetShortcutFileName(),
                                     GetVersionedShortcutFileName(sources.version)};
  if (sources.existing) names.push_back(GetVersionedShortcutFileName(sources.existing->version));
  return names;
}

}  // namespace

RunNote BuildRunNote(const RunNoteSources& sources) {
  RunNote note;
  note.operation = sources.operation;
  note.start = sources.start;
  note.subfolder = sources.subfolder;
  NoteBuilder builder(&note, sources.all_users);
  const base::FilePath& folder = sources.install_folder;
  const InstallLog* existing = sources.existing;
  const std::wstring recorded[] = {existing ? existing->desktop_shortcut : std::wstring(),
                                   existing ? existing->menu_shortcut : std::wstring(),
                                   existing ? existing->quick_launch_shortcut : std::wstring()};
  if (sources.operation == RunNote::Operation::kUninstall) {
    if (existing) {
      AddRecordFiles(folder, *existing, &builder);
      for (const std::wstring& name : existing->root_files) builder.AddBelow(folder, name, true);
    }
    AddOldRecords(folder, &builder);
    for (const wchar_t* name :
         {kLauncherFileName, kPrefDefaultOverridesFileName, kStatusFileName})
      builder.Add(folder.Append(name), true);
    if (!IsWhiteLabeled()) {
      builder.Add(folder.Append(base::UTF8ToWide(GetExecutableFileName())).ReplaceExtension(kBrowserOldCopyExtension),
                  true);
    }
    builder.Add(folder.Append(kCleanupBatchFileName), false);
    for (const std::wstring& shortcut : recorded) {
      if (!shortcut.empty()) builder.AddShortcut(base::FilePath(shortcut), true);
    }
    return note;
  }
  if (sources.files) {
    const base::FilePath version_folder = folder.Append(sources.subfolder);
    for (const std::string& file : *sources.files)
      builder.AddBelow(version_folder, base::UTF8ToWide(file), false);
    // The pinning helper the run copies beside the package's files.
    for (const wchar_t* helper : kInstallerHelperFileNames)
      builder.Add(version_folder.Append(helper), false);
  }
  if (sources.root_files) {
    for (const std::string& name : *sources.root_files)
      builder.AddBelow(folder, base::UTF8ToWide(name), false);
  }
  if (existing) {
    for (const std::wstring& name : existing->root_files) builder.AddBelow(folder, name, false);
  }
  for (const wchar_t* name : kWrittenRootNames) builder.Add(folder.Append(name), false);
  for (const wchar_t* name : kStagedRootNames)
    builder.AddTemporary(folder.Append(name).AddExtension(kStagingExtension));
  if (sources.operation == RunNote::Operation::kUpgrade) AddOldRecords(folder, &builder);
  const std::vector<std::wstring> names = ShortcutNames(sources);
  for (const std::wstring& shortcut : recorded) {
    if (shortcut.empty()) continue;
    const base::FilePath from(shortcut);
    builder.AddShortcut(from, false);
    // An upgrade may move it to another of the names in its folder.
    for (const std::wstring& name : names) {
      const base::FilePath to = from.DirName().Append(name);
      if (IsProductShortcut(from, sources.all_users) && IsProductShortcut(to, sources.all_users) &&
          base::FilePath::CompareIgnoreCase(to.value(), from.value()) != 0)
        note.moves.push_back({from, to});
    }
  }
  for (const base::FilePath& shortcut_folder : GetShortcutFolders(sources.all_users)) {
    for (const std::wstring& name : names) builder.AddShortcut(shortcut_folder.Append(name), false);
  }
  return note;
}

bool IsProductShortcut(const base::FilePath& path, bool all_users) {
  const base::FilePath folder = path.DirName();
  bool in_shortcut_folder = false;
  for (const base::FilePath& known : GetShortcutFolders(all_users)) {
    if (base::FilePath::CompareIgnoreCase(known.StripTrailingSeparators().value(),
                                          folder.value()) == 0)
      in_shortcut_folder = true;
  }
  if (!in_shortcut_folder) return false;
  // The plain name, or the plain name with a version before ".lnk".
  const std::wstring name = path.BaseName().value();
  const std::wstring plain = GetShortcutFileName();
  if (base::FilePath::CompareIgnoreCase(name, plain) == 0) return true;
  const std::wstring stem = base::FilePath(plain).RemoveExtension().value() + L" ";
  if (name.size() <= stem.size() + 4 ||
      base::FilePath::CompareIgnoreCase(name.substr(0, stem.size()), stem) != 0 ||
      base::FilePath::CompareIgnoreCase(name.substr(name.size() - 4), L".lnk") != 0)
    return false;
  const std::wstring version = name.substr(stem.size(), name.size() - stem.size() - 4);
  return version.find_first_not_of(L"0123456789.") == std::wstring::npos &&
         version.back() >= L'0' && version.back() <= L'9';
}

}  // namespace installer
