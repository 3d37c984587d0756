#include "desktop/windows/installer/service/held_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/held_install_folder.h"

namespace installer {
namespace {

// The system's listing for the first `good_reads` parts, then a failure with `error`.
class CutListing : public HeldFile::DirectoryReader {
 public:
  CutListing(int good_reads, DWORD error) : good_reads_(good_reads), error_(error) {}
  bool Read(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer,
            DWORD size) const override {
    if (reads_++ < good_reads_)
      return HeldFile::SystemDirectoryReader().Read(folder, kind, buffer, size);
    SetLastError(error_);
    return false;
  }

  int reads() const { return reads_; }

 private:
  const int good_reads_;
  const DWORD error_;
  mutable int reads_ = 0;
};

using HeldFileTest = base::ScratchDirTest;

// A listing that stops for any reason but its end is a failure, never a shorter folder:
// a folder that lists short could pass for empty, or hide a file from a copy.
TEST_F(HeldFileTest, ListingCutShortIsAFailureNeverAShorterFolder) {
  std::vector<std::wstring> names;
  for (int i = 0; i < 80; ++i) names.push_back(L"a-file-with-a-longer-name-" + std::to_wstring(i));
  for (const std::wstring& name : names) Write(name.c_str(), "x");
  HeldFile folder;
  ASSERT_TRUE(folder.Open(scratch_.path(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, false));
  std::vector<HeldFile::Listed> listed;
  ASSERT_TRUE(folder.ListFolder(&listed));
  EXPECT_EQ(names.size(), listed.size());

  for (int good_reads : {0, 1}) {
    const CutListing cut(good_reads, ERROR_ACCESS_DENIED);
    listed = {HeldFile::Listed{L"stale", 0}};
    EXPECT_FALSE(folder.ListFolder(&listed, cut)) << good_reads;
    EXPECT_TRUE(listed.empty()) << good_reads;
  }
  // Its own end is the only end: all that came before it counts.
  const CutListing ended(1, ERROR_NO_MORE_FILES);
  ASSERT_TRUE(folder.ListFolder(&listed, ended));
  EXPECT_FALSE(listed.empty());
  EXPECT_LT(listed.size(), names.size()) << "a part of the listing is enough for this case";
}

// Whether a folder the user names is empty is decided by its first entry: the rest of a
// long listing is never read. A listing that fails before it decides is a failure.
TEST_F(HeldFileTest, EmptinessIsDecidedByTheFirstEntry) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"full")));
  ASSERT_TRUE(base::CreateDirectory(Path(L"empty")));
  for (int i = 0; i < 300; ++i) {
    Write((L"full\\a-file-with-a-longer-name-" + std::to_wstring(i)).c_str(), "x");
  }
  HeldFile full, empty;
  const DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  ASSERT_TRUE(full.Open(Path(L"full"), access, share, false));
  ASSERT_TRUE(empty.Open(Path(L"empty"), access, share, false));
  // The system's listing for as long as it is asked, counted.
  const CutListing counted(1000, ERROR_ACCESS_DENIED);
  bool is_empty = true;
  ASSERT_TRUE(full.IsEmptyFolder(&is_empty, counted));
  EXPECT_FALSE(is_empty);
  EXPECT_EQ(1, counted.reads()) << "read past the first entry";
  const CutListing to_its_end(1000, ERROR_ACCESS_DENIED);
  ASSERT_TRUE(empty.IsEmptyFolder(&is_empty, to_its_end));
  EXPECT_TRUE(is_empty);
  const CutListing failing(0, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(full.IsEmptyFolder(&is_empty, failing));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

// A file of a held folder is held only as the folder listed it: a name gone is missing, a
// folder is no file, and another file put in the name since the listing is refused (links:
// the run notes' cases); a name whose folder is missing is a missing path, however deep;
// the names of a drive root and of a folder rebase alike.
TEST_F(HeldFileTest, HoldsAFileOnlyAsItsFolderListedIt) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"folder\\sub")));
  Write(L"folder\\kept.dat", "x");
  Write(L"folder\\swapped.dat", "x");
  Write(L"folder\\gone.dat", "x");
  Write(L"elsewhere.dat", "x");
  HeldFolders folders(scratch_.path());
  HeldFile held;
  const DWORD access = DELETE | FILE_READ_ATTRIBUTES;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  ASSERT_TRUE(folders.HoldFile(Path(L"folder\\kept.dat"), access, share, &held).ok());
  ASSERT_TRUE(base::DeleteFile(Path(L"folder\\gone.dat"), false));
  ASSERT_TRUE(base::DeleteFile(Path(L"folder\\swapped.dat"), false));
  ASSERT_TRUE(MoveFileW(Path(L"elsewhere.dat").value().c_str(),
                        Path(L"folder\\swapped.dat").value().c_str()));
  std::wstring deep = L"folder";
  for (int i = 0; i < 20000; ++i) deep += L"\\d";
  const struct {
    std::wstring name;
    DWORD error;
    int kind;
  } cases[] = {
      {L"folder\\kept.dat", 0, 0},
      {L"folder\\gone.dat", ERROR_FILE_NOT_FOUND, 0},
      {L"folder\\never.dat", ERROR_FILE_NOT_FOUND, 0},
      {L"folder\\sub", 0, kHeldOtherKind},
      {L"folder\\swapped.dat", 0, kHeldLink},
      {L"folder\\gone\\sub\\x.dat", ERROR_PATH_NOT_FOUND, 0},
      {deep + L"\\x.dat", ERROR_PATH_NOT_FOUND, 0},
  };
  for (const auto& c : cases) {
    const base::Result<> result = folders.HoldFile(Path(c.name.c_str()), access, share, &held);
    EXPECT_EQ(c.error, result.ok() ? 0 : result.failure().error) << c.name.substr(0, 30);
    EXPECT_EQ(c.kind, result.ok() ? 0 : result.failure().kind) << c.name.substr(0, 30);
    EXPECT_EQ(c.error != 0, IsMissingPlace(result)) << c.name.substr(0, 30);
  }
  // A drive root's own files are held alike, its path ending in its separator.
  const base::FilePath root(scratch_.path().value().substr(0, 3));
  const base::FilePath at_root =
      root.Append(L"velum-held-" + std::to_wstring(GetCurrentProcessId()) + L".dat");
  ASSERT_TRUE(base::WriteTextFile(at_root, "x"));
  HeldFolders drive(root);
  const base::Result<> held_at_root = drive.HoldFile(at_root, access, share, &held);
  HeldInstallFolder root_folder;
  HeldWay way;
  const base::Result<> below_root =
      root_folder.Hold(root).ok()
          ? root_folder.HoldBelow(at_root, FILE_READ_ATTRIBUTES, share, false, &way)
          : base::Failure{};
  held = HeldFile();
  way = HeldWay();
  drive.Release();
  root_folder.Release();
  EXPECT_TRUE(base::DeleteFile(at_root, false));
  EXPECT_TRUE(held_at_root.ok()) << base::DescribeFailure(held_at_root.failure());
  EXPECT_TRUE(below_root.ok()) << base::DescribeFailure(below_root.failure());
  EXPECT_EQ(L"R:\\a\\b", RebasePath(base::FilePath(L"C:\\x\\a\\b"), base::FilePath(L"C:\\x\\"),
                                     base::FilePath(L"R:\\")).value());
  EXPECT_EQ(L"a\\b", RebasePath(base::FilePath(L"R:\\a\\b"), base::FilePath(L"R:\\"),
                               base::FilePath()).value());
}

}  // namespace
}  // namespace installer
