#include "base/files/file_path.h"

#include <gtest/gtest.h>

namespace base {
namespace {

struct UnaryCase {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(FilePathTest, DirName) {
  const UnaryCase kCases[] = {
      {L"", L"."},           {L"a", L"."},
      {L"a\\b", L"a"},       {L"a\\b\\", L"a"},
      {L"a/b", L"a"},        {L"D:\\a\\b", L"D:\\a"},
      {L"D:\\a", L"D:\\"},   {L"D:\\", L"D:\\"},
      {L"D:a", L"D:"},       {L"D:", L"D:"},
      {L"\\a", L"\\"},       {L"\\", L"\\"},
      {L"\\\\server\\share", L"\\\\server"},
      {L"\\\\server", L"\\\\"},
      {L"\\\\", L"\\\\"},    {L"\\\\\\", L"\\"},
      {L"D:\\\\a", L"D:\\\\"},
      {L"a\\\\\\b", L"a"},   {L"a\\b\\\\\\", L"a"},
  };
  for (const UnaryCase& c : kCases)
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.input).DirName().value()) << c.input;
}

TEST(FilePathTest, BaseName) {
  const UnaryCase kCases[] = {
      {L"", L""},           {L"a", L"a"},       {L"a\\b", L"b"},
      {L"D:\\a\\b\\", L"b"}, {L"D:\\", L"\\"},   {L"D:", L""},
      {L"D:a", L"a"},       {L"\\\\", L"\\\\"}, {L"\\\\server", L"server"},
      {L"a/b//", L"b"},
  };
  for (const UnaryCase& c : kCases)
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.input).BaseName().value()) << c.input;
}

TEST(FilePathTest, StripTrailingSeparatorsKeepsRoots) {
  const UnaryCase kCases[] = {
      {L"a\\\\", L"a"},     {L"\\", L"\\"},       {L"\\\\", L"\\\\"},
      {L"\\\\\\", L"\\"},   {L"D:\\", L"D:\\"},   {L"D:\\\\", L"D:\\\\"},
      {L"D:\\\\\\", L"D:\\"}, {L"D:\\a/", L"D:\\a"},
  };
  for (const UnaryCase& c : kCases) {
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.input).StripTrailingSeparators().value())
        << c.input;
  }
}

TEST(FilePathTest, ExtensionAndRemoveExtension) {
  struct Case {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* without;
  };
  const Case kCases[] = {
      {L"file.txt", L".txt", L"file"},
      {L"file.tar.gz", L".tar.gz", L"file"},
      {L"file.TAR.GZ", L".TAR.GZ", L"file"},
      {L"file.toolong.gz", L".gz", L"file.toolong"},
      {L"file..gz", L".gz", L"file."},
      {L"x.user.js", L".user.js", L"x"},
      {L"a.b.js", L".js", L"a.b"},
      {L".profile", L".profile", L""},
      {L"dir.d\\file", L"", L"dir.d\\file"},
      {L"dir.d\\file.gz", L".gz", L"dir.d\\file"},
      {L"C:\\dir\\a.exe\\", L".exe", L"C:\\dir\\a"},
      {L".", L"", L"."},
  };
  for (const Case& c : kCases) {
    FilePath path(c.path);
    EXPECT_EQ(std::wstring(c.extension), path.Extension()) << c.path;
    EXPECT_EQ(std::wstring(c.without), path.RemoveExtension().value()) << c.path;
  }
}

TEST(FilePathTest, BuildingExtensions) {
  struct Case {
    const wchar_t* path;
    const wchar_t* argument;
    const wchar_t* inserted;
    const wchar_t* added;
    const wchar_t* replaced;
  };
  const Case kCases[] = {
      {L"a\\f.txt", L".old", L"a\\f.old.txt", L"a\\f.txt.old", L"a\\f.old"},
      {L"a\\f.txt", L"old", L"a\\fold.txt", L"a\\f.txt.old", L"a\\f.old"},
      {L"a\\f.", L"old", L"a\\fold.", L"a\\f.old", L"a\\f.old"},
      {L"a\\f.txt", L"", L"a\\f.txt", L"a\\f.txt", L"a\\f"},
      {L"a\\f.txt", L".", L"a\\f..txt", L"a\\f.txt", L"a\\f"},
      {L"", L".x", L"", L"", L""},
      {L"a\\.", L".x", L"", L"", L""},
      {L"..", L".x", L"", L"", L""},
  };
  for (const Case& c : kCases) {
    FilePath path(c.path);
    EXPECT_EQ(std::wstring(c.inserted), path.InsertBeforeExtension(c.argument).value())
        << c.path << " " << c.argument;
    EXPECT_EQ(std::wstring(c.added), path.AddExtension(c.argument).value())
        << c.path << " " << c.argument;
    EXPECT_EQ(std::wstring(c.replaced), path.ReplaceExtension(c.argument).value())
        << c.path << " " << c.argument;
  }
}

TEST(FilePathTest, Append) {
  struct Case {
    const wchar_t* path;
    const wchar_t* component;
    const wchar_t* expected;
  };
  const Case kCases[] = {
      {L"D:", L"x", L"D:x"},         {L"D:\\", L"x", L"D:\\x"},
      {L".", L"x", L"x"},            {L"a\\\\\\", L"b", L"a\\b"},
      {L"a", L"", L"a"},             {L"a\\\\", L"", L"a\\\\"},
      {L"", L"x", L"x"},             {L"a", L"b\\c", L"a\\b\\c"},
      {L"\\\\", L"x", L"\\\\x"},      {L"a/", L"b", L"a\\b"},
      {L"a", L"D:\\x", L"a\\D:\\x"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.path).Append(c.component).value())
        << c.path << " + " << c.component;
  }
  EXPECT_EQ(std::wstring(L"a\\b.txt"), FilePath(L"a").AppendASCII("b.txt").value());
  EXPECT_EQ(std::wstring(L"a\\b"), FilePath(L"a").Append(FilePath(L"b")).value());
}

TEST(FilePathTest, EmbeddedNulCutsTheText) {
  EXPECT_EQ(std::wstring(L"ab"), FilePath(std::wstring(L"ab\0cd", 5)).value());
  EXPECT_EQ(std::wstring(L"a\\b"), FilePath(L"a").Append(std::wstring(L"b\0c", 3)).value());
  EXPECT_EQ(std::wstring(L"a"), FilePath(L"a").Append(std::wstring(L"\0c", 2)).value());
  EXPECT_EQ(std::wstring(L"a.x"), FilePath(L"a").AddExtension(std::wstring(L"x\0y", 3)).value());
}

TEST(FilePathTest, EqualityIgnoresOnlyDriveLetterCase) {
  EXPECT_EQ(FilePath(L"d:\\x"), FilePath(L"D:\\x"));
  EXPECT_NE(FilePath(L"D:\\X"), FilePath(L"D:\\x"));
  EXPECT_NE(FilePath(L"a\\x"), FilePath(L"A\\x"));
  EXPECT_NE(FilePath(L"D:\\x"), FilePath(L"D:\\x\\"));
  EXPECT_TRUE(FilePath(L"D:\\x") < FilePath(L"d:\\x"));  // plain code-unit order
}

TEST(FilePathTest, CompareIgnoreCase) {
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"abc", L"ABC"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"\u00e9t\u00e9", L"\u00c9T\u00c9"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"ab", L"ABC"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"abd", L"ABC"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"a", L"b"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"", L""));
  // '_' (0x5F) sorts after upper-case letters, though before lower-case ones.
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"_", L"a"));
}

TEST(FilePathTest, GetComponents) {
  struct Case {
    const wchar_t* path;
    std::vector<std::wstring> components;
  };
  const Case kCases[] = {
      {L"", {}},
      {L"a", {L"a"}},
      {L"a\\b\\", {L"a", L"b"}},
      {L"D:\\a\\b", {L"D:", L"\\", L"a", L"b"}},
      {L"D:a", {L"D:", L"a"}},
      {L"\\\\server\\share", {L"\\\\", L"server", L"share"}},
      {L"\\a", {L"\\", L"a"}},
  };
  for (const Case& c : kCases) {
    std::vector<std::wstring> components;
    FilePath(c.path).GetComponents(&components);
    EXPECT_EQ(c.components, components) << c.path;
  }
}

TEST(FilePathTest, IsParentAndAppendRelativePath) {
  struct Case {
    const wchar_t* parent;
    const wchar_t* child;
    bool is_parent;
  };
  const Case kCases[] = {
      {L"D:\\a", L"d:\\a\\b", true},   {L"D:\\a", L"D:\\A\\b", false},
      {L"D:\\a", L"D:\\a", false},     {L"D:\\a", L"D:\\a\\", false},
      {L"D:\\a", L"D:\\ab", false},    {L"D:\\a", L"E:\\a\\b", false},
      {L"\\\\s\\a", L"\\\\s\\a\\b", true}, {L"", L"a", false},
      {L"a", L"a/b/c", true},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(c.is_parent, FilePath(c.parent).IsParent(FilePath(c.child))) << c.parent << " " << c.child;

  FilePath out(L"X:\\base");
  EXPECT_TRUE(FilePath(L"D:\\a").AppendRelativePath(FilePath(L"d:\\a\\b\\c"), &out));
  EXPECT_EQ(std::wstring(L"X:\\base\\b\\c"), out.value());
  FilePath untouched(L"y");
  EXPECT_FALSE(FilePath(L"D:\\a").AppendRelativePath(FilePath(L"D:\\b\\c"), &untouched));
  EXPECT_EQ(std::wstring(L"y"), untouched.value());
}

TEST(FilePathTest, ReferencesParentAndIsAbsolute) {
  for (const wchar_t* path : {L"a\\..\\b", L"a\\. ..\\b", L"..", L"a/../"})
    EXPECT_TRUE(FilePath(path).ReferencesParent()) << path;
  for (const wchar_t* path : {L"a\\..b", L"a\\b..", L"a\\.\\b"})
    EXPECT_FALSE(FilePath(path).ReferencesParent()) << path;
  for (const wchar_t* path : {L"D:\\x", L"D:/", L"\\\\server\\share"})
    EXPECT_TRUE(FilePath(path).IsAbsolute()) << path;
  for (const wchar_t* path : {L"D:x", L"D:", L"\\x", L""})
    EXPECT_FALSE(FilePath(path).IsAbsolute()) << path;
}

TEST(FilePathTest, SeparatorsAndConversions) {
  EXPECT_EQ(std::wstring(L"a\\"), FilePath(L"a").AsEndingWithSeparator().value());
  EXPECT_EQ(std::wstring(L"a/"), FilePath(L"a/").AsEndingWithSeparator().value());
  EXPECT_EQ(std::wstring(L""), FilePath().AsEndingWithSeparator().value());
  EXPECT_EQ(std::wstring(L"a\\b\\c"), FilePath(L"a/b\\c").NormalizePathSeparators().value());
  EXPECT_EQ(std::wstring(L"C:\\\u00e9"), FilePath::FromUTF8("C:\\\xC3\xA9").value());
  EXPECT_EQ(std::string("C:\\\xC3\xA9"), FilePath(L"C:\\\u00e9").AsUTF8());
  EXPECT_EQ(std::string(""), FilePath(L"C:\\\u00e9").MaybeAsASCII());
  EXPECT_EQ(std::string("C:\\e"), FilePath(L"C:\\e").MaybeAsASCII());
}

}  // namespace
}  // namespace base
