#include "desktop/windows/installer/service/transactions/set_aside_copies.h"

#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace installer {
namespace {

TEST(SetAsideCopiesTest, TellsCopiesOfTheNameSetAsideOnceOrMore) {
  const struct {
    const wchar_t* name;
    bool copy;
  } cases[] = {
      {L"launcher.exe.1700000000.old", true},
      {L"LAUNCHER.EXE.1700000000.3.old", true},
      {L"launcher.exe.1700000000.old.1700000100.old", true},
      {L"launcher.exe.1700000000.old.1700000100.2.old.1700000200.old", true},
      {L"launcher.exe", false},
      {L"launcher.exe.old", false},
      {L"launcher.exe.12.old", false},
      {L"launcher.exe2.1700000000.old", false},
      {L"old_launcher.exe.1700000000.old", false},
      {L"launcher.exe.1700000000.old.bak", false},
  };
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  for (const auto& test : cases) {
    const base::FilePath file = scratch.path().Append(test.name);
    ASSERT_TRUE(base::WriteFile(file, "x", 1) == 1) << test.name;
    const std::vector<base::FilePath> found =
        FindSetAsideCopiesSince(scratch.path().Append(L"launcher.exe"), 0);
    EXPECT_EQ(test.copy ? std::vector<base::FilePath>{file} : std::vector<base::FilePath>{}, found)
        << test.name;
    ASSERT_TRUE(base::DeleteFile(file, false)) << test.name;
  }
}

// One listing of a folder answers for each of its files: the copies first set aside since
// a second, the first set aside first, a copy set aside again after the one it was.
TEST(SetAsideCopiesTest, FindsEachFilesCopiesFromOneListing) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  for (const wchar_t* name :
       {L"a.txt.1700000000.old.1700000300.old", L"a.txt.1700000200.old", L"a.txt.1700000100.old",
        L"a.txt", L"b.txt.1700000400.old", L"a.txt.x.old", L"a.txt.1700000500.old.bak"}) {
    ASSERT_TRUE(base::WriteFile(scratch.path().Append(name), "x", 1) == 1) << name;
  }
  SetAsideCopyIndex index;
  const std::vector<base::FilePath> expected = {
      scratch.path().Append(L"a.txt.1700000000.old.1700000300.old"),
      scratch.path().Append(L"a.txt.1700000100.old"),
      scratch.path().Append(L"a.txt.1700000200.old"),
  };
  EXPECT_EQ(expected, index.CopiesSince(scratch.path().Append(L"A.TXT"), 0));
  // Listed once: what is made later is not seen.
  ASSERT_TRUE(base::WriteFile(scratch.path().Append(L"c.txt.1700000600.old"), "x", 1) == 1);
  EXPECT_TRUE(index.CopiesSince(scratch.path().Append(L"c.txt"), 0).empty());
  EXPECT_EQ(std::vector<base::FilePath>{scratch.path().Append(L"b.txt.1700000400.old")},
            index.CopiesSince(scratch.path().Append(L"b.txt"), 1700000400));
  EXPECT_TRUE(index.CopiesSince(scratch.path().Append(L"b.txt"), 1700000401).empty());
  const std::vector<base::FilePath> since = {scratch.path().Append(L"a.txt.1700000200.old")};
  EXPECT_EQ(since, index.CopiesSince(scratch.path().Append(L"a.txt"), 1700000101));
  EXPECT_EQ(std::vector<base::FilePath>{scratch.path().Append(L"a.txt.1700000000.old.1700000300.old")},
            index.CopiesSince(scratch.path().Append(L"a.txt.1700000000.old"), 0));
}

}  // namespace
}  // namespace installer
