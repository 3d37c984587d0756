#include "base/files/file_enumerator.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace base {
namespace {

typedef std::vector<std::wstring> Paths;

class FileEnumeratorTest : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    MakeTree({L"a.log", L"b.txt", L"logs.log\\", L"logs.log\\inner.txt", L"logs.log\\deep\\",
              L"logs.log\\deep\\x.log", L"other\\", L"other\\hidden.log"});
  }

  // Relative names in walk order; folders end in "\".
  Paths Walk(FileEnumerator* enumerator) {
    Paths paths;
    for (FilePath path = enumerator->Next(); !path.empty(); path = enumerator->Next()) {
      FilePath relative;
      if (!scratch_.path().AppendRelativePath(path, &relative)) relative = path;
      paths.push_back(relative.value() + (enumerator->GetInfo().IsDirectory() ? L"\\" : L""));
    }
    return paths;
  }

  static Paths Sorted(Paths paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

TEST_F(FileEnumeratorTest, KindsAndRecursion) {
  struct Case {
    const char* what;
    bool recursive;
    int types;
    Paths expected;
  } cases[] = {
      {"files, flat", false, FileEnumerator::FILES, {L"a.log", L"b.txt"}},
      {"folders, flat", false, FileEnumerator::DIRECTORIES, {L"logs.log\\", L"other\\"}},
      {"folders with dot-dot",
       false,
       FileEnumerator::DIRECTORIES | FileEnumerator::INCLUDE_DOT_DOT,
       {L"..\\", L"logs.log\\", L"other\\"}},
      {"everything, recursive",
       true,
       FileEnumerator::FILES | FileEnumerator::DIRECTORIES,
       {L"a.log", L"b.txt", L"logs.log\\", L"logs.log\\deep\\", L"logs.log\\deep\\x.log",
        L"logs.log\\inner.txt", L"other\\", L"other\\hidden.log"}},
  };
  for (const Case& c : cases) {
    FileEnumerator enumerator(scratch_.path(), c.recursive, c.types, std::wstring());
    Paths walked = Walk(&enumerator);
    // ".." is relative to nothing below the root; show it as its own name.
    for (std::wstring& path : walked)
      if (path.size() > 3 && path.compare(path.size() - 3, 3, L"..\\") == 0) path = L"..\\";
    EXPECT_EQ(c.expected, Sorted(walked)) << c.what;
  }
}

TEST_F(FileEnumeratorTest, RecursionNeverClimbsThroughDotDot) {
  FileEnumerator enumerator(
      scratch_.path(), true,
      FileEnumerator::FILES | FileEnumerator::DIRECTORIES | FileEnumerator::INCLUDE_DOT_DOT,
      std::wstring());
  // Bounded: a walk that climbs to the parent never ends.
  Paths walked;
  for (FilePath path = enumerator.Next(); !path.empty() && walked.size() < 100;
       path = enumerator.Next()) {
    FilePath relative;
    ASSERT_TRUE(scratch_.path().AppendRelativePath(path, &relative)) << path.AsUTF8();
    walked.push_back(relative.value());
  }
  EXPECT_EQ((Paths{L"..", L"a.log", L"b.txt", L"logs.log", L"logs.log\\..", L"logs.log\\deep",
                   L"logs.log\\deep\\..", L"logs.log\\deep\\x.log", L"logs.log\\inner.txt",
                   L"other", L"other\\..", L"other\\hidden.log"}),
            Sorted(walked));
}

TEST_F(FileEnumeratorTest, PatternAppliesToTheRootOnly) {
  FileEnumerator enumerator(scratch_.path(), true,
                            FileEnumerator::FILES | FileEnumerator::DIRECTORIES, L"*.log");
  Paths walked = Walk(&enumerator);
  EXPECT_EQ((Paths{L"a.log", L"logs.log\\", L"logs.log\\deep\\", L"logs.log\\deep\\x.log",
                   L"logs.log\\inner.txt"}),
            Sorted(walked))
      << "matching folders are listed whole, others not entered";
  // A folder's entries come after every entry of the folder above it.
  auto position = [&walked](const wchar_t* name) {
    return std::find(walked.begin(), walked.end(), name) - walked.begin();
  };
  EXPECT_LT(position(L"a.log"), position(L"logs.log\\inner.txt"));
  EXPECT_LT(position(L"logs.log\\inner.txt"), position(L"logs.log\\deep\\x.log"));
}

TEST_F(FileEnumeratorTest, InfoIsZeroBeforeTheFirstFindAndMissingRootIsEmpty) {
  FileEnumerator enumerator(scratch_.path().Append(L"missing"), FileEnumerator::FILES);
  FileEnumerator::FileInfo info = enumerator.GetInfo();
  EXPECT_EQ(0u, info.find_data.dwFileAttributes);
  EXPECT_EQ(0, info.find_data.cFileName[0]);
  EXPECT_TRUE(enumerator.Next().empty());
  EXPECT_TRUE(enumerator.Next().empty());
}

TEST_F(FileEnumeratorTest, NeverEntersDirectoryLinks) {
  std::string error;
  FilePath link = scratch_.path().Append(L"logs.log\\link");
  ASSERT_TRUE(MakeDirectoryLink(link, scratch_.path().Append(L"other"), &error)) << error;
  FileEnumerator enumerator(scratch_.path().Append(L"logs.log"), true,
                            FileEnumerator::FILES | FileEnumerator::DIRECTORIES, L"");
  Paths walked = Sorted(Walk(&enumerator));
  EXPECT_EQ((Paths{L"logs.log\\deep\\", L"logs.log\\deep\\x.log", L"logs.log\\inner.txt",
                   L"logs.log\\link\\"}),
            walked)
      << "the link is listed but not entered";
  EXPECT_TRUE(RemoveDirectoryLink(link));
}

}  // namespace
}  // namespace base
