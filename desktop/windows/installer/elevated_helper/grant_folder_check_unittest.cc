#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"

#include <windows.h>

#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/path_service.h"

namespace installer {
namespace {

// An installation record of this product naming `folder` as it is written.
std::string RecordNaming(const std::wstring& folder) {
  return "<?xml version=\"1.0\"?>\n<install_log version='1.2.3' copy_only='False' "
         "all_users='False' pinned='False'><path subfolder='1.2.3'>" +
         base::FilePath(folder).AsUTF8() +
         "</path><files><file>a.dll</file></files></install_log>\n";
}

base::FilePath KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)));
  return base::FilePath(path);
}

// Why `result` was refused; empty when it was not.
template <typename T>
std::string Refusal(const base::Result<T>& result) {
  return result.ok() ? std::string() : result.failure().text;
}

// Whether `result` was refused with a reason that starts with `why` (a system folder's
// name differs by machine), or allowed when `why` is empty.
template <typename T>
::testing::AssertionResult RefusedFor(const base::Result<T>& result, const std::string& why) {
  const bool as_expected =
      why.empty() ? result.ok() : !result.ok() && Refusal(result).compare(0, why.size(), why) == 0;
  if (as_expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (result.ok() ? "allowed" : "refused: " + Refusal(result));
}

// Removes a folder made outside the scratch folder, whatever the test's outcome.
struct RemovedFolder {
  base::FilePath path;
  ~RemovedFolder() { RemoveDirectoryW(path.value().c_str()); }
};

using GrantFolderCheckTest = base::ScratchDirTest;

// The spelling asked for becomes the one the system uses; a name the system would read
// otherwise is refused, with the reason.
TEST_F(GrantFolderCheckTest, NormalizesOrRefusesTheSpellingAsked) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"Long Folder Name")));
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_NE(0u, GetShortPathNameW(Path(L"Long Folder Name").value().c_str(), short_name, MAX_PATH));
  const std::wstring scratch = scratch_.path().value();
  const struct {
    const char* name;
    std::wstring asked;
    std::wstring normalized;  // empty: refused with `refusal`
    const char* refusal;
  } cases[] = {
      {"a plain path", L"C:\\velum\\install", L"C:\\velum\\install", ""},
      {"a lower-case drive", L"c:\\velum", L"C:\\velum", ""},
      {"forward slashes, . and ..", L"C:/velum/./x/../install/", L"C:\\velum\\install", ""},
      {".. above the root stays on the drive", L"C:\\..\\velum", L"C:\\velum", ""},
      {"a short name made long", std::wstring(short_name) + L"\\new",
       Path(L"Long Folder Name\\new").value(), ""},
      {"COM0 is no device", L"C:\\velum\\COM0", L"C:\\velum\\COM0", ""},
      {"a name that starts like a device", L"C:\\velum\\console", L"C:\\velum\\console", ""},
      {"empty", L"", L"", "not a plain absolute path"},
      {"relative", L"install", L"", "not a plain absolute path"},
      {"drive-relative", L"C:install", L"", "not a plain absolute path"},
      {"a share", L"\\\\server\\share\\install", L"", "not a plain absolute path"},
      {"a device path", L"\\\\?\\C:\\install", L"", "not a plain absolute path"},
      {"the device namespace", L"\\\\.\\C:\\install", L"", "not a plain absolute path"},
      {"a trailing blank", scratch + L"\\install \\", L"",
       "a name ending in a blank or a dot, which the system drops"},
      {"a trailing dot above", L"C:\\velum.\\install", L"",
       "a name ending in a blank or a dot, which the system drops"},
      {"a stream", L"C:\\velum::$INDEX_ALLOCATION", L"", "a stream suffix or a reserved character"},
      {"a wildcard", L"C:\\velum\\*", L"", "a stream suffix or a reserved character"},
      {"a control character", L"C:\\velum\\a\x01", L"", "a stream suffix or a reserved character"},
      {"a device", scratch + L"\\nul", L"", "a device name"},
      {"a device with an extension and blanks", L"C:\\velum\\Com1 .txt", L"", "a device name"},
      {"LPT9", L"C:\\velum\\lpt9", L"", "a device name"},
      {"longer than the system reads", L"C:\\" + std::wstring(MAX_PATH, L'a'), L"",
       "the system reads the path otherwise"},
  };
  for (const auto& c : cases) {
    const base::Result<base::FilePath> result = NormalizeGrantFolder(base::FilePath(c.asked));
    EXPECT_TRUE(RefusedFor(result, c.refusal)) << c.name;
    if (result.ok()) {
      EXPECT_EQ(c.normalized, result.value().value()) << c.name;
    }
  }
}

// The look by name before anything is made: folders whose grant would reach the system
// or another user are refused; the places an installation goes are not.
TEST_F(GrantFolderCheckTest, PlaceByNameRefusesSystemAndProfileFoldersAndLinks) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"target")));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  const base::FilePath windows = KnownFolder(CSIDL_WINDOWS);
  const base::FilePath program_files = KnownFolder(CSIDL_PROGRAM_FILES);
  const base::FilePath program_data = KnownFolder(CSIDL_COMMON_APPDATA);
  const base::FilePath profile = KnownFolder(CSIDL_PROFILE);
  const base::FilePath local = KnownFolder(CSIDL_LOCAL_APPDATA);
  const struct {
    const char* name;
    base::FilePath folder;
    std::string refusal;  // empty: allowed
  } cases[] = {
      {"a drive root", base::FilePath(windows.value().substr(0, 3)), "a drive root"},
      {"the Windows folder", windows, "the system folder " + windows.AsUTF8()},
      {"under the Windows folder", windows.Append(L"velum"),
       "the system folder " + windows.AsUTF8()},
      {"Program Files", program_files, "the system folder " + program_files.AsUTF8()},
      {"ProgramData", program_data, "the system folder " + program_data.AsUTF8()},
      {"the profiles' root, which holds a profile", profile.DirName(), "the system folder "},
      {"another user's profile", profile.DirName().Append(L"someone"), "a profile folder"},
      {"a link", Path(L"link"), "the reparse point " + Path(L"link").AsUTF8()},
      {"under a link", Path(L"link\\install"), "the reparse point " + Path(L"link").AsUTF8()},
      {"a folder in Program Files", program_files.Append(L"Velum"), ""},
      {"a folder in ProgramData", program_data.Append(L"Velum"), ""},
      {"a folder in the user's local data", local.Append(L"Velum"), ""},
      {"a folder in the profile", profile.Append(L"Velum"), ""},
      {"a folder that does not exist yet", Path(L"new\\install"), ""},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(RefusedFor(CheckGrantablePlace(c.folder), c.refusal)) << c.name;
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

// A lister that cannot list, as a folder the helper may open but not read.
class UnlistableLister : public HeldFolderLister {
 public:
  bool IsEmptyFolder(const HeldFile& /*folder*/, bool* /*empty*/) const override {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
};

// The decision on the folder held open: what it is, where it is, and what it holds. A
// folder that is not empty must hold this product's record naming that folder.
TEST_F(GrantFolderCheckTest, HeldFolderMustBeAPlainFolderEmptyOrRecordedAsOurs) {
  MakeTree({L"empty\\", L"foreign\\", L"foreign\\readme.txt", L"planted\\", L"garbled\\",
            L"elsewhere\\", L"relative\\", L"ours\\", L"ours\\launcher.exe", L"Cased\\",
            L"spelled\\", L"folder-record\\", L"folder-record\\installation_status.xml\\",
            L"target\\", L"target\\install\\", L"a-file"});
  Write(L"planted\\installation_status.xml", "");
  Write(L"garbled\\installation_status.xml", "<install_log>");
  Write(L"elsewhere\\installation_status.xml", RecordNaming(Path(L"ours").value()));
  Write(L"relative\\installation_status.xml", RecordNaming(L"relative"));
  Write(L"ours\\installation_status.xml", RecordNaming(Path(L"ours").value()));
  Write(L"Cased\\installation_status.xml", RecordNaming(Path(L"cASED").value()));
  Write(L"spelled\\installation_status.xml", RecordNaming(Path(L"x\\..\\spelled\\").value()));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  const base::FilePath windows = KnownFolder(CSIDL_WINDOWS);
  const base::FilePath profile = KnownFolder(CSIDL_PROFILE);
  // Beside the user's profile: another user's. A name of this run's own, removed
  // whatever happens.
  const RemovedFolder other_profile{
      profile.DirName().Append(L"velum-test-user-" + std::to_wstring(GetCurrentProcessId()))};
  ASSERT_TRUE(base::CreateDirectory(other_profile.path));
  const std::string others_files = "a folder that holds another program's files";
  const std::string unreadable = "a folder whose installation record cannot be read";
  const struct {
    const char* name;
    base::FilePath folder;
    std::string refusal;  // empty: held
  } cases[] = {
      {"an empty folder", Path(L"empty"), ""},
      {"this product's folder", Path(L"ours"), ""},
      {"a record naming it in other letters", Path(L"Cased"), ""},
      {"a record naming it by another spelling", Path(L"spelled"), ""},
      {"a missing folder", Path(L"missing"), "the folder cannot be opened and identified"},
      {"a file", Path(L"a-file"), "not a folder"},
      // Wine follows a host link even when asked not to: the link's target is refused.
      {"a link", Path(L"link"),
       base::RunningUnderWine() ? "the folder is " + Path(L"target").AsUTF8() : "a reparse point"},
      {"under a link", Path(L"link\\install"),
       "the folder is " + Path(L"target\\install").AsUTF8()},
      {"another program's folder", Path(L"foreign"), others_files},
      {"a record that is a folder", Path(L"folder-record"), others_files},
      {"an empty record planted", Path(L"planted"), unreadable},
      {"a record that does not parse", Path(L"garbled"), unreadable},
      {"a record of another folder", Path(L"elsewhere"),
       "a folder whose installation record names another folder"},
      {"a record naming a relative path", Path(L"relative"),
       "a folder whose installation record names another folder"},
      {"the Windows folder", windows, "the system folder "},
      {"the profiles' root", profile.DirName(), "the system folder "},
      {"another user's profile", other_profile.path, "a profile folder"},
  };
  for (const auto& c : cases) {
    const base::Result<base::ScopedHandle> held = HoldGrantableFolder(c.folder);
    EXPECT_TRUE(RefusedFor(held, c.refusal)) << c.name;
    if (held.ok()) {
      EXPECT_TRUE(held.value().IsValid()) << c.name;
    }
  }
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

// A folder that cannot be listed may hold anything: refused, saying why. Wine lists every
// folder its (root) user can open, so the listing is the test's.
TEST_F(GrantFolderCheckTest, UnlistableFolderIsRefusedWithItsReason) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"install")));
  const base::Result<base::ScopedHandle> held =
      HoldGrantableFolder(Path(L"install"), UnlistableLister());
  ASSERT_FALSE(held.ok());
  EXPECT_EQ("the folder cannot be listed", held.failure().text);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), held.failure().error);
  EXPECT_EQ(Path(L"install"), held.failure().path);
  // While the system's listing holds it.
  EXPECT_TRUE(HoldGrantableFolder(Path(L"install")).ok());
}

// The held folder keeps its name: it cannot be renamed away and replaced while held.
TEST_F(GrantFolderCheckTest, HeldFolderCannotBeRenamed) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"install")));
  base::Result<base::ScopedHandle> held = HoldGrantableFolder(Path(L"install"));
  ASSERT_TRUE(held.ok()) << Refusal(held);
  EXPECT_FALSE(MoveFileW(Path(L"install").value().c_str(), Path(L"moved").value().c_str()));
}

TEST_F(GrantFolderCheckTest, SameOrUnderComparesWholeComponentsIgnoringCase) {
  const struct {
    const wchar_t* path;
    const wchar_t* folder;
    bool same_or_under;
  } cases[] = {
      {L"C:\\a", L"C:\\a", true},
      {L"C:\\a\\b", L"C:\\a", true},
      {L"c:\\A\\b\\", L"C:\\a\\", true},
      {L"C:\\x", L"C:\\", true},
      {L"C:\\ab", L"C:\\a", false},
      {L"C:\\a", L"C:\\a\\b", false},
      {L"C:\\a", L"", false},
      {L"D:\\a", L"C:\\a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.same_or_under, IsSameOrUnder(base::FilePath(c.path), base::FilePath(c.folder)))
        << base::FilePath(c.path).AsUTF8() << " in " << base::FilePath(c.folder).AsUTF8();
  }
}

// The walk up for a reparse point stops before `stop`: a link at or above it is not
// this walk's to find.
TEST_F(GrantFolderCheckTest, ReparsePointSearchStopsBeforeTheStop) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"target\\a\\b")));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(Path(L"link"), Path(L"target"), &error)) << error;
  base::FilePath found;
  EXPECT_TRUE(FindReparsePoint(Path(L"link\\a\\b"), scratch_.path(), &found));
  EXPECT_EQ(Path(L"link"), found);
  EXPECT_TRUE(FindReparsePoint(Path(L"link\\a\\missing"), base::FilePath(), &found));
  EXPECT_EQ(Path(L"link"), found);
  EXPECT_FALSE(FindReparsePoint(Path(L"link\\a\\b"), Path(L"link"), &found));
  EXPECT_FALSE(FindReparsePoint(Path(L"target\\a\\b"), base::FilePath(), &found));
  EXPECT_TRUE(base::RemoveDirectoryLink(Path(L"link")));
}

}  // namespace
}  // namespace installer
