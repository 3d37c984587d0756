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
        FindSetAsideCopies(scratch.path().Append(L"launcher.exe"));
    EXPECT_EQ(test.copy ? std::vector<base::FilePath>{file} : std::vector<base::FilePath>{}, found)
        << test.name;
    ASSERT_TRUE(base::DeleteFile(file, false)) << test.name;
  }
}

TEST(SetAsideCopiesTest, FindsTheCopiesBesideTheFileLastSetAsideFirst) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  for (const wchar_t* name :
       {L"a.txt.1700000000.old.1700000300.old", L"a.txt.1700000200.old", L"a.txt.1700000100.old",
        L"a.txt", L"b.txt.1700000400.old", L"a.txt.x.old", L"a.txt.1700000500.old.bak"}) {
    ASSERT_TRUE(base::WriteFile(scratch.path().Append(name), "x", 1) == 1) << name;
  }
  const std::vector<base::FilePath> expected = {
      scratch.path().Append(L"a.txt.1700000200.old"),
      scratch.path().Append(L"a.txt.1700000100.old"),
      scratch.path().Append(L"a.txt.1700000000.old.1700000300.old"),
  };
  EXPECT_EQ(expected, FindSetAsideCopies(scratch.path().Append(L"a.txt")));
  EXPECT_TRUE(FindSetAsideCopies(scratch.path().Append(L"c.txt")).empty());
  // A copy last set aside in a run's second or later may be that run's own: the one set
  // aside again at 1700000300 is, though first set aside before.
  const std::vector<base::FilePath> earlier = {
      scratch.path().Append(L"a.txt.1700000200.old"),
      scratch.path().Append(L"a.txt.1700000100.old"),
  };
  EXPECT_EQ(earlier, FindSetAsideCopies(scratch.path().Append(L"a.txt"), 1700000300));
  EXPECT_TRUE(FindSetAsideCopies(scratch.path().Append(L"a.txt"), 1700000100).empty());
}

}  // namespace
}  // namespace installer
