#include "desktop/windows/installer/package_copy.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/scoped_handle.h"

namespace installer {
namespace {

// Writes one byte less than asked, and says so.
BOOL ShortWrite(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED*) {
  return ::WriteFile(file, data, size > 0 ? size - 1 : 0, written, nullptr);
}

class CopyFolderTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    destination_ = Path(L"admin");
    ASSERT_TRUE(base::CreateDirectory(destination_));
  }

  // A fresh destination for the next copy.
  void Renew() {
    ASSERT_TRUE(base::DeleteFile(destination_, true));
    ASSERT_TRUE(base::CreateDirectory(destination_));
  }

  base::FilePath destination_;
  base::FilePath copy_;
};

TEST_F(CopyFolderTest, CopiesTheTreeAndFailsOnAnyEntryItCannotCopy) {
  MakeTree({L"assistant\\", L"assistant\\suite_installer.exe", L"assistant\\data\\",
            L"assistant\\data\\deep\\", L"assistant\\data\\deep\\a.pak"});
  const base::FilePath source = Path(L"assistant");
  ASSERT_TRUE(CopyFolderInto(source, destination_, &copy_).ok());
  EXPECT_EQ(destination_.Append(L"assistant"), copy_);
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(copy_.Append(L"data").Append(L"deep").Append(L"a.pak"), &text));
  EXPECT_EQ("a.pak", text);

  // A short write.
  Renew();
  EXPECT_FALSE(internal::CopyFolderIntoWith(source, destination_, &copy_, &ShortWrite).ok());

  // A file deep inside that someone holds open for writing.
  Renew();
  {
    const base::FilePath deep = source.Append(L"data").Append(L"deep").Append(L"a.pak");
    base::ScopedHandle writer(CreateFileW(deep.value().c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.IsValid());
    const base::Result<> result = CopyFolderInto(source, destination_, &copy_);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(deep.BaseName(), result.failure().path.BaseName());
  }

  // The folder itself a link to another folder, and a link inside it.
  Renew();
  std::string error;
  const base::FilePath link = Path(L"linked");
  ASSERT_TRUE(base::MakeDirectoryLink(link, source, &error)) << error;
  EXPECT_FALSE(CopyFolderInto(link, destination_, &copy_).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(link));
  Renew();
  const base::FilePath inner = source.Append(L"data").Append(L"outside");
  ASSERT_TRUE(base::CreateDirectory(Path(L"elsewhere")));
  ASSERT_TRUE(base::MakeDirectoryLink(inner, Path(L"elsewhere"), &error)) << error;
  EXPECT_FALSE(CopyFolderInto(source, destination_, &copy_).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(inner));
}

// A package's tree is at most 16 folders deep below its own.
TEST_F(CopyFolderTest, TheDepthBoundIsExact) {
  base::FilePath deepest = Path(L"tree");
  ASSERT_TRUE(base::CreateDirectory(deepest));
  for (int depth = 1; depth <= 16; ++depth) {
    deepest = deepest.Append(L"d");
    ASSERT_TRUE(base::CreateDirectory(deepest));
  }
  ASSERT_TRUE(base::WriteFile(deepest.Append(L"f"), "f", 1) == 1);
  EXPECT_TRUE(CopyFolderInto(Path(L"tree"), destination_, &copy_).ok());
  Renew();
  ASSERT_TRUE(base::CreateDirectory(deepest.Append(L"d")));
  EXPECT_FALSE(CopyFolderInto(Path(L"tree"), destination_, &copy_).ok());
}

}  // namespace
}  // namespace installer
