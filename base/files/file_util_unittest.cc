#include "base/files/file_util.h"

#include <cstdio>
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/debug/alias.h"
#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/logging.h"

namespace base {
namespace {

class FileUtilTest : public ScratchDirTest {
 protected:
  // Every path below |root|, relative to it, sorted; folders end in "\".
  std::vector<std::wstring> Tree(const FilePath& root) {
    std::vector<std::wstring> tree;
    FileEnumerator all(root, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
    for (FilePath path = all.Next(); !path.empty(); path = all.Next()) {
      FilePath relative;
      EXPECT_TRUE(root.AppendRelativePath(path, &relative));
      tree.push_back(relative.value() + (all.GetInfo().IsDirectory() ? L"\\" : L""));
    }
    std::sort(tree.begin(), tree.end());
    return tree;
  }
};

typedef std::vector<std::wstring> Paths;

TEST_F(FileUtilTest, DeleteMissingTooLongAndPatterns) {
  EXPECT_TRUE(DeleteFile(Path(L"missing"), false));
  EXPECT_TRUE(DeleteFile(FilePath(), true));
  EXPECT_FALSE(DeleteFile(FilePath(L"C:\\" + std::wstring(257, L'a')), false))
      << "260 characters";

  MakeTree({L"a.tmp", L"b.txt", L"d.tmp\\", L"d.tmp\\x.tmp", L"e\\", L"e\\z.tmp"});
  EXPECT_TRUE(DeleteFile(Path(L"*.tmp"), true));
  // Only matching entries of the folder itself; recursion only into matching folders.
  EXPECT_EQ((Paths{L"b.txt", L"e\\", L"e\\z.tmp"}), Tree(scratch_.path()));
  // The pattern applies inside matching folders too, so one keeping other files stays.
  MakeTree({L"k.tmp\\", L"k.tmp\\keep.txt"});
  EXPECT_FALSE(DeleteFile(Path(L"*.tmp"), true));
  EXPECT_TRUE(PathExists(Path(L"k.tmp\\keep.txt")));
}

TEST_F(FileUtilTest, DeletesReadOnlyTreesCompletely) {
  MakeTree({L"tree\\", L"tree\\sub\\", L"tree\\sub\\f", L"tree\\g"});
  for (const wchar_t* name : {L"tree", L"tree\\sub", L"tree\\sub\\f", L"tree\\g"})
    ASSERT_TRUE(SetFileAttributesW(Path(name).value().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFile(Path(L"tree"), false)) << "not empty";
  EXPECT_TRUE(DeleteFile(Path(L"tree"), true));
  EXPECT_FALSE(PathExists(Path(L"tree")));
}

TEST_F(FileUtilTest, RecursiveDeleteNeverEntersDirectoryLinks) {
  MakeTree({L"outside\\", L"outside\\precious.txt", L"tree\\", L"tree\\f"});
  std::string error;
  ASSERT_TRUE(MakeDirectoryLink(Path(L"tree\\link"), Path(L"outside"), &error)) << error;
  ASSERT_TRUE(GetFileAttributesW(Path(L"tree\\link").value().c_str()) &
              FILE_ATTRIBUTE_REPARSE_POINT);

  bool deleted = DeleteFile(Path(L"tree"), true);
  EXPECT_TRUE(PathExists(Path(L"outside\\precious.txt")))
      << "a file outside the tree was deleted through a link";
  if (RunningUnderWine()) {
    // Wine cannot remove a directory link: the tree stays with only the link in it.
    EXPECT_FALSE(deleted);
    EXPECT_EQ((Paths{L"link\\"}), Tree(Path(L"tree")));
    EXPECT_TRUE(RemoveDirectoryLink(Path(L"tree\\link")));
  } else {
    EXPECT_TRUE(deleted);
    EXPECT_FALSE(PathExists(Path(L"tree")));
  }

  // Deleting the link itself leaves the target alone too.
  ASSERT_TRUE(MakeDirectoryLink(Path(L"link2"), Path(L"outside"), &error)) << error;
  // Wine cannot remove the link, as above; then the link is removed by hand below.
  EXPECT_TRUE(DeleteFile(Path(L"link2"), true) || RunningUnderWine());
  EXPECT_TRUE(PathExists(Path(L"outside\\precious.txt")));
  if (PathExists(Path(L"link2"))) {
    EXPECT_TRUE(RemoveDirectoryLink(Path(L"link2")));
  }
}

// Leaves |value| in the stack below the caller, where a callee's uninitialized locals
// will find it.
__attribute__((noinline)) void FillStackWith(HANDLE value) {
  HANDLE area[8192];
  for (HANDLE& slot : area) slot = value;
  debug::AliasForCrashDump(area);
}

TEST_F(FileUtilTest, StartingAHostProgramLeavesOurHandlesOpen) {
  if (!RunningUnderWine()) GTEST_SKIP() << "host programs exist only under Wine";
  // Wine leaves the process information of a host program as its stack held it.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(event);
  const FilePath made = Path(L"made");
  FillStackWith(event);
  ASSERT_TRUE(StartHostCommand("/bin/touch \"" + UnixPath(made) + "\""));
  EXPECT_TRUE(WaitForPathExistence(made, true, 60000));
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(event, &flags)) << "a live handle was closed";
  CloseHandle(event);
}

TEST_F(FileUtilTest, CreateDirectoryOutcomes) {
  EXPECT_TRUE(CreateDirectory(Path(L"a\\b\\c\\d")));
  EXPECT_TRUE(DirectoryExists(Path(L"a\\b\\c\\d")));
  EXPECT_TRUE(CreateDirectory(Path(L"a\\b")));

  MakeTree({L"file"});
  int32_t error = 0;
  EXPECT_FALSE(CreateDirectoryAndGetError(Path(L"file"), &error));
  EXPECT_EQ(File::FILE_ERROR_NOT_A_DIRECTORY, error);
  error = 0;
  EXPECT_FALSE(CreateDirectoryAndGetError(Path(L"file\\sub"), &error));
  EXPECT_EQ(File::FILE_ERROR_NOT_A_DIRECTORY, error);

  // A drive letter that does not exist.
  wchar_t drive = 0;
  DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Y'; letter >= L'D' && !drive; --letter)
    if (!(drives & (1u << (letter - L'A')))) drive = letter;
  ASSERT_NE(0, drive);
  error = 0;
  EXPECT_FALSE(CreateDirectoryAndGetError(FilePath(std::wstring(1, drive) + L":\\x\\y"),
                                          &error));
  EXPECT_EQ(File::FILE_ERROR_NOT_FOUND, error);
}

// Creation walks the path without recursion: any depth costs no stack, and a path past
// the length limit is refused before anything is created.
TEST_F(FileUtilTest, CreateDirectoryDepthIsBoundedByThePathLimit) {
  std::wstring deep = scratch_.path().value();
  while (deep.size() + 2 < 240) deep += L"\\d";
  EXPECT_TRUE(CreateDirectory(FilePath(deep)));
  EXPECT_TRUE(DirectoryExists(FilePath(deep)));

  std::wstring hostile = scratch_.path().value();
  for (int level = 0; level < 20000; ++level) hostile += L"\\h";
  int32_t error = 0;
  EXPECT_FALSE(CreateDirectoryAndGetError(FilePath(hostile), &error));
  EXPECT_EQ(File::FILE_ERROR_FAILED, error);
  EXPECT_FALSE(PathExists(Path(L"h")));
}

TEST_F(FileUtilTest, ReadFileToStringWithMaxSize) {
  MakeTree({L"sub\\"});
  ASSERT_TRUE(WriteTextFile(Path(L"twenty"), "01234567890123456789"));
  ASSERT_TRUE(WriteTextFile(Path(L"ten"), "0123456789"));
  ASSERT_TRUE(WriteTextFile(Path(L"empty"), ""));
  struct Case {
    const wchar_t* name;
    size_t max;
    bool result;
    const char* contents;
  } cases[] = {
      {L"twenty", 10, false, "0123456789"},
      {L"ten", 10, true, "0123456789"},
      {L"ten", 0, false, ""},
      {L"empty", 0, true, ""},
      {L"missing", 10, false, ""},
      {L"sub\\..\\ten", 10, false, ""},
  };
  for (const Case& c : cases) {
    std::string contents = "stale";
    EXPECT_EQ(c.result, ReadFileToStringWithMaxSize(Path(c.name), &contents, c.max))
        << c.name << " " << c.max;
    EXPECT_EQ(c.contents, contents) << c.name << " " << c.max;
  }
  std::string contents;
  EXPECT_TRUE(ReadFileToString(Path(L"twenty"), &contents));
  EXPECT_EQ(20u, contents.size());
  EXPECT_TRUE(ReadFileToString(Path(L"twenty"), nullptr));

  // Larger than one read chunk.
  std::string big(200000, 'x');
  big[131072] = 'y';
  ASSERT_TRUE(WriteTextFile(Path(L"big"), big));
  EXPECT_TRUE(ReadFileToString(Path(L"big"), &contents));
  EXPECT_EQ(big, contents);
  EXPECT_FALSE(ReadFileToStringWithMaxSize(Path(L"big"), &contents, 131072));
  EXPECT_EQ(big.substr(0, 131072), contents);
}

TEST_F(FileUtilTest, WriteAndAppend) {
  EXPECT_EQ(0, WriteFile(Path(L"f"), "", 0));
  EXPECT_TRUE(PathExists(Path(L"f")));
  EXPECT_EQ(5, WriteFile(Path(L"f"), "hello", 5));
  EXPECT_TRUE(AppendToFile(Path(L"f"), " world", 6));
  std::string contents;
  ASSERT_TRUE(ReadFileToString(Path(L"f"), &contents));
  EXPECT_EQ("hello world", contents);
  EXPECT_EQ(0, WriteFile(Path(L"f"), "", 0)) << "truncates";
  ASSERT_TRUE(ReadFileToString(Path(L"f"), &contents));
  EXPECT_EQ("", contents);
  EXPECT_FALSE(AppendToFile(Path(L"missing"), "x", 1));
  EXPECT_FALSE(PathExists(Path(L"missing")));
  EXPECT_EQ(-1, WriteFile(Path(L"no\\such\\folder"), "x", 1));
}

// The append failures log at verbose level 1 of the module "file_util_win", so that name
// (not this file's) turns them on.
bool PrintLogLine(int, const char*, int, size_t, const std::string& text) {
  std::fputs(text.c_str(), stderr);
  return true;
}
void AppendWithVerboseModule(const char* vmodule, const FilePath& missing) {
  CommandLine::Init();
  CommandLine::ForCurrentProcess()->AppendSwitchASCII("vmodule", vmodule);
  LoggingSettings none;
  none.logging_dest = LOG_NONE;
  ASSERT_TRUE(InitLogging(none));
  SetLogMessageHandler(&PrintLogLine);
  std::fprintf(stderr, "appended %d\n", AppendToFile(missing, "x", 1) ? 1 : 0);
  std::fflush(stderr);
  ExitProcess(0);
}

TEST_F(FileUtilTest, AppendFailureLogsUnderTheModuleNameFileUtilWin) {
  const FilePath missing = Path(L"missing");
  EXPECT_EXIT(AppendWithVerboseModule("file_util_win=1", missing), testing::ExitedWithCode(0),
              "CreateFile failed for path .*missing: .*\n.*appended 0");
  EXPECT_EXIT(AppendWithVerboseModule("file_util=1", missing), testing::ExitedWithCode(0),
              "^appended 0");
}

TEST_F(FileUtilTest, CopyFileClearsReadOnlyAndRefusesParentReferences) {
  MakeTree({L"ro", L"sub\\"});
  ASSERT_TRUE(SetFileAttributesW(Path(L"ro").value().c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CopyFile(Path(L"ro"), Path(L"copy")));
  EXPECT_FALSE(GetFileAttributesW(Path(L"copy").value().c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(CopyFile(Path(L"ro"), Path(L"copy"))) << "overwrites";
  EXPECT_FALSE(CopyFile(Path(L"sub\\..\\ro"), Path(L"copy2")));
  EXPECT_FALSE(CopyFile(Path(L"ro"), Path(L"sub\\..\\copy2")));
  EXPECT_FALSE(PathExists(Path(L"copy2")));
  // The copy to a free path refuses to replace, and clears the bit of a source that
  // was not known to be writable.
  EXPECT_FALSE(CopyFileToFreePath(Path(L"ro"), Path(L"copy"), false));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
  ASSERT_TRUE(CopyFileToFreePath(Path(L"ro"), Path(L"copy3"), false));
  EXPECT_FALSE(GetFileAttributesW(Path(L"copy3").value().c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(CopyFileToFreePath(Path(L"sub\\..\\ro"), Path(L"copy2"), true));
  SetFileAttributesW(Path(L"ro").value().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileUtilTest, CopyDirectoryIntoItselfIsRefusedWhateverTheCase) {
  MakeTree({L"src\\", L"src\\f", L"src\\sub\\"});
  EXPECT_FALSE(CopyDirectory(Path(L"src"), Path(L"src\\sub\\copy")));
  EXPECT_FALSE(CopyDirectory(Path(L"src"), Path(L"SRC\\sub\\copy")));
  EXPECT_FALSE(CopyDirectory(Path(L"src"), Path(L"SRC\\SUB")));
  EXPECT_FALSE(CopyDirectory(Path(L"SRC"), Path(L"src")));
  EXPECT_FALSE(CopyDirectory(Path(L"src\\"), Path(L"src")));
  EXPECT_FALSE(CopyDirectory(Path(L"src"), Path(L"src\\")));
  EXPECT_FALSE(PathExists(Path(L"src\\src")));
  EXPECT_FALSE(PathExists(Path(L"src\\sub\\copy")));
  EXPECT_FALSE(CopyDirectory(Path(L"missing"), Path(L"out")));
}

TEST_F(FileUtilTest, CopyDirectoryToNewAndExistingTargets) {
  MakeTree({L"src\\", L"src\\f", L"src\\sub\\", L"src\\sub\\g", L"src\\empty\\", L"dest\\"});
  ASSERT_TRUE(CopyDirectory(Path(L"src"), Path(L"new")));
  EXPECT_EQ((Paths{L"empty\\", L"f", L"sub\\", L"sub\\g"}), Tree(Path(L"new")));
  ASSERT_TRUE(CopyDirectory(Path(L"src"), Path(L"dest")));
  EXPECT_EQ((Paths{L"src\\", L"src\\empty\\", L"src\\f", L"src\\sub\\", L"src\\sub\\g"}),
            Tree(Path(L"dest")))
      << "an existing target receives the source folder itself";
  std::string contents;
  ASSERT_TRUE(ReadFileToString(Path(L"dest\\src\\sub\\g"), &contents));
  EXPECT_EQ("g", contents);
}

TEST_F(FileUtilTest, MoveFilesAndFolders) {
  MakeTree({L"f", L"old", L"dir\\", L"dir\\inner"});
  EXPECT_TRUE(Move(Path(L"f"), Path(L"old"))) << "replaces an existing file";
  std::string contents;
  ASSERT_TRUE(ReadFileToString(Path(L"old"), &contents));
  EXPECT_EQ("f", contents);
  EXPECT_FALSE(PathExists(Path(L"f")));
  EXPECT_TRUE(Move(Path(L"dir"), Path(L"moved")));
  EXPECT_TRUE(PathExists(Path(L"moved\\inner")));
  EXPECT_FALSE(Move(Path(L"moved\\..\\old"), Path(L"x")));

  SetLastError(0);
  EXPECT_FALSE(MoveUnsafe(Path(L"missing"), Path(L"x")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError())
      << "the move's own error is kept";
}

TEST_F(FileUtilTest, ReplaceFileOverExistingAndMissingTargets) {
  ASSERT_TRUE(WriteTextFile(Path(L"new"), "new"));
  ASSERT_TRUE(WriteTextFile(Path(L"target"), "old contents"));
  ASSERT_TRUE(ReplaceFile(Path(L"new"), Path(L"target")));
  std::string contents;
  ASSERT_TRUE(ReadFileToString(Path(L"target"), &contents));
  EXPECT_EQ("new", contents);
  EXPECT_FALSE(PathExists(Path(L"new")));

  ASSERT_TRUE(WriteTextFile(Path(L"new"), "fresh"));
  ASSERT_TRUE(ReplaceFile(Path(L"new"), Path(L"absent")));
  ASSERT_TRUE(ReadFileToString(Path(L"absent"), &contents));
  EXPECT_EQ("fresh", contents);
  EXPECT_FALSE(ReplaceFile(Path(L"missing"), Path(L"target")));
  ASSERT_TRUE(ReadFileToString(Path(L"target"), &contents));
  EXPECT_EQ("new", contents);
}

TEST_F(FileUtilTest, TemporaryFilesAndFolders) {
  FilePath temp_file;
  ASSERT_TRUE(CreateTemporaryFileInDir(scratch_.path(), &temp_file));
  EXPECT_EQ(scratch_.path(), temp_file.DirName());
  EXPECT_EQ(L".tmp", temp_file.Extension());
  EXPECT_EQ(40u, temp_file.BaseName().value().size()) << "GUID text and .tmp";
  std::string contents = "stale";
  EXPECT_TRUE(ReadFileToString(temp_file, &contents));
  EXPECT_EQ("", contents);
  FilePath second;
  ASSERT_TRUE(CreateTemporaryFileInDir(scratch_.path(), &second));
  EXPECT_NE(temp_file, second);
  EXPECT_FALSE(CreateTemporaryFileInDir(Path(L"missing"), &second));

  FilePath temp;
  ASSERT_TRUE(GetTempDir(&temp));
  EXPECT_FALSE(FilePath::IsSeparator(temp.value().back()));
  EXPECT_TRUE(PathIsWritable(scratch_.path()));
  EXPECT_FALSE(PathIsWritable(Path(L"missing")));
  EXPECT_EQ(Path(L"a"), MakeAbsoluteFilePath(Path(L"x\\..\\a")));
}

}  // namespace
}  // namespace base
