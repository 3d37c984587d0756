#include "desktop/windows/installer/run_note_builder.h"

#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/taskbar_pin.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"

namespace installer {
namespace {

// The kind `entries` give `path`; -1 when they do not name it.
int KindIn(const std::vector<RunNote::Entry>& entries, const base::FilePath& path) {
  for (const RunNote::Entry& entry : entries) {
    if (base::FilePath::CompareIgnoreCase(entry.path.value(), path.value()) == 0)
      return static_cast<int>(entry.kind);
  }
  return -1;
}

class BuildRunNoteTest : public base::ScratchDirTest {};

// What a note says of a name decides what finishing its run does with it: what was there
// is replaced by an upgrade and removed by an uninstallation, the files of the versions
// kept in "old_status" are removed, the staging files are temporary, and only the
// product's shortcut names in the shortcut folders are noted.
TEST_F(BuildRunNoteTest, NotesEachNameAsItsRunTreatsIt) {
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const base::FilePath folder = Path(L"Velum");
  const base::FilePath desktop = GetShortcutFolders(false).front();
  const base::FilePath shortcut = desktop.Append(GetShortcutFileName());
  for (const wchar_t* name : {L"launcher.exe", L"1.0\\velum.exe", L"0.9\\velum.exe"}) {
    const base::FilePath path = folder.Append(name);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()) && base::WriteTextFile(path, "x"));
  }
  InstallLog kept(SOURCE_INSTALLER);
  kept.subfolder = L"0.9";
  kept.files = {L"velum.exe"};
  ASSERT_TRUE(base::CreateDirectory(folder.Append(L"old_status")) &&
              InstallLogWriter().WriteFile(
                  kept, folder.Append(L"old_status\\installation_status.xml.1600000000")));
  // A kept record that names a path outside the install folder is not trusted with the rest.
  kept.subfolder = L"0.8";
  kept.files = {L"velum.exe", L"..\\..\\outside.exe"};
  ASSERT_TRUE(InstallLogWriter().WriteFile(
      kept, folder.Append(L"old_status\\installation_status.xml.1600000001")));
  InstallLog existing(SOURCE_INSTALLER);
  existing.subfolder = L"1.0";
  existing.version = "1.0";
  existing.files = {L"velum.exe"};
  existing.desktop_shortcut = shortcut.value();
  existing.menu_shortcut = L"C:\\Windows\\" + GetShortcutFileName();
  const std::vector<std::string> files = {"velum.exe"};
  RunNoteSources sources;
  sources.install_folder = folder;
  sources.existing = &existing;
  sources.version = "2.0";
  sources.operation = RunNote::Operation::kUpgrade;
  sources.subfolder = L"2.0";
  sources.files = &files;
  const RunNote upgrade = BuildRunNote(sources);
  sources.operation = RunNote::Operation::kUninstall;
  const RunNote uninstall = BuildRunNote(sources);
  const int kMake = static_cast<int>(RunNote::Kind::kMake);
  const int kReplace = static_cast<int>(RunNote::Kind::kReplace);
  const int kRemove = static_cast<int>(RunNote::Kind::kRemove);
  EXPECT_EQ(kMake, KindIn(upgrade.entries, folder.Append(L"2.0\\velum.exe")));
  EXPECT_EQ(kReplace, KindIn(upgrade.entries, folder.Append(L"launcher.exe")));
  EXPECT_EQ(kRemove, KindIn(upgrade.entries, folder.Append(L"0.9\\velum.exe")));
  // The names installations hold, spelled as stored ones do.
  for (const wchar_t* name : {L"installer_prefs.json", L"server_tracking_data",
                              L"pref_default_overrides", L"installation_status.xml"})
    EXPECT_EQ(kMake, KindIn(upgrade.entries, folder.Append(name))) << name;
  const int kTemporary = static_cast<int>(RunNote::Kind::kTemporary);
  for (const wchar_t* name : {L"installation_status.xml.new", L"installer_prefs.json.new"})
    EXPECT_EQ(kTemporary, KindIn(upgrade.entries, folder.Append(name))) << name;
  // The pinning helper the run copies beside the package's files, whichever it copies: a
  // cut run's copy would be left for good otherwise.
  for (base::OsInfo::Architecture architecture :
       {base::OsInfo::X64_ARCHITECTURE, base::OsInfo::X86_ARCHITECTURE}) {
    const base::FilePath helper = folder.Append(L"2.0").Append(GetPinHelperName(architecture));
    EXPECT_EQ(kMake, KindIn(upgrade.entries, helper)) << helper.AsUTF8();
  }
  EXPECT_NE(-1, KindIn(upgrade.shortcuts, shortcut));
  EXPECT_EQ(kRemove, KindIn(uninstall.entries, folder.Append(L"1.0\\velum.exe")));
  EXPECT_EQ(kRemove, KindIn(uninstall.entries, folder.Append(L"launcher.exe")));
  EXPECT_NE(-1, KindIn(uninstall.shortcuts, shortcut));
  for (const RunNote* note : {&upgrade, &uninstall}) {
    EXPECT_EQ(-1, KindIn(note->shortcuts, base::FilePath(existing.menu_shortcut)));
    EXPECT_EQ(-1, KindIn(note->entries, folder.Append(L"0.8\\velum.exe")));
  }
  // A per-user run notes no place of the all-users shortcuts alone.
  const std::vector<base::FilePath> own = GetShortcutFolders(false);
  for (const base::FilePath& place : GetShortcutFolders(true)) {
    if (std::find(own.begin(), own.end(), place) != own.end()) continue;
    EXPECT_EQ(-1, KindIn(upgrade.shortcuts, place.Append(GetShortcutFileName()))) << place.AsUTF8();
  }

  // Another mode's places are never this run's: a per-user run's note names no all-users
  // shortcut, and its finishing reads none.
  const base::FilePath plain(GetShortcutFileName());
  const base::FilePath common_menu = GetShortcutFolders(true)[1].Append(plain);
  const struct {
    base::FilePath path;
    bool product;
    bool all_users;
  } shortcuts[] = {
      {shortcut, true, false},
      {desktop.Append(GetVersionedShortcutFileName("2.0.1")), true, false},
      {desktop.Append(plain.InsertBeforeExtension(L" Beta")), false, false},
      {desktop.Append(plain.InsertBeforeExtension(L" 2.")), false, false},
      {desktop.Append(L"Other.lnk"), false, false},
      {base::FilePath(existing.menu_shortcut), false, false},
      {common_menu, false, false},
      {common_menu, true, true},
      {shortcut, false, true},
  };
  for (const auto& c : shortcuts)
    EXPECT_EQ(c.product, IsProductShortcut(c.path, c.all_users)) << c.path.AsUTF8();
  if (com) CoUninitialize();
}

}  // namespace
}  // namespace installer
