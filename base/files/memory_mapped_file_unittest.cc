#include "base/files/memory_mapped_file.h"

#include <windows.h>
#include <winioctl.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"

namespace base {
namespace {

class MappedFileTest : public ScratchDirTest {
 protected:
  // A sparse file of `length` bytes: no disk space is spent on it.
  FilePath MakeSparse(const wchar_t* name, int64_t length) {
    const FilePath path = Path(name);
    File file(path, File::FLAG_CREATE_ALWAYS | File::FLAG_WRITE);
    EXPECT_TRUE(file.IsValid());
    DWORD returned = 0;
    // Wine's files are sparse on the host anyway; the call may be refused there.
    DeviceIoControl(file.GetPlatformFile(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0,
                    &returned, nullptr);
    EXPECT_TRUE(file.SetLength(length));
    return path;
  }
};

TEST_F(MappedFileTest, ReadOnlyMapsWholeFile) {
  const FilePath path = Write(L"data.bin", "payload");
  MappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(path, MappedFile::READ_ONLY));
  ASSERT_TRUE(mapped.IsValid());
  EXPECT_EQ("payload", std::string(reinterpret_cast<const char*>(mapped.data()),
                                   mapped.length()));

  // A second initialisation fails and leaves the mapping as it was.
  const uint8_t* data = mapped.data();
  EXPECT_FALSE(mapped.Initialize(Write(L"other.bin", "other"), MappedFile::READ_ONLY));
  EXPECT_EQ(data, mapped.data());
  EXPECT_EQ(7u, mapped.length());

  mapped.CloseHandles();
  EXPECT_FALSE(mapped.IsValid());
  EXPECT_EQ(0u, mapped.length());
  // Closed handles: the file can be removed.
  EXPECT_TRUE(DeleteFileW(path.value().c_str()));
}

TEST_F(MappedFileTest, ReadWriteChangesReachFile) {
  const FilePath path = Write(L"data.bin", "abc");
  {
    MappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(path, MappedFile::READ_WRITE));
    mapped.data()[1] = 'X';
  }
  File file(path, File::FLAG_OPEN | File::FLAG_READ);
  char buffer[8];
  const int read = file.ReadAtCurrentPos(buffer, sizeof(buffer));
  ASSERT_EQ(3, read);
  EXPECT_EQ("aXc", std::string(buffer, read));
}

TEST_F(MappedFileTest, RefusedFilesLeaveObjectUnmapped) {
  const FilePath empty = Write(L"empty.bin", "");
  const FilePath some = Write(L"some.bin", "some");
  const FilePath locked = Write(L"locked.bin", "locked");
  File holder(locked, File::FLAG_OPEN | File::FLAG_READ | File::FLAG_EXCLUSIVE_READ);
  ASSERT_TRUE(holder.IsValid());
  const struct {
    const char* what;
    FilePath path;
    MappedFile::Access access;
  } cases[] = {
      {"empty file", empty, MappedFile::READ_ONLY},
      {"missing file", scratch_.path().Append(L"missing.bin"), MappedFile::READ_ONLY},
      {"extending access", some, MappedFile::READ_WRITE_EXTEND},
      {"held without read sharing", locked, MappedFile::READ_ONLY},
  };
  for (const auto& c : cases) {
    MappedFile mapped;
    EXPECT_FALSE(mapped.Initialize(c.path, c.access)) << c.what;
    EXPECT_FALSE(mapped.IsValid()) << c.what;
    EXPECT_EQ(0u, mapped.length()) << c.what;
  }
  // Nothing stays open after a failure: the empty file can be removed.
  EXPECT_TRUE(DeleteFileW(empty.value().c_str()));
}

TEST_F(MappedFileTest, LengthLimitIsLargestSignedInt32) {
  const FilePath largest = MakeSparse(L"largest.bin", MappedFile::kMaxLength);
  const FilePath over = MakeSparse(L"over.bin", MappedFile::kMaxLength + 1);
  {
    MappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(largest, MappedFile::READ_ONLY));
    EXPECT_EQ(static_cast<size_t>(MappedFile::kMaxLength), mapped.length());
    EXPECT_EQ(0, mapped.data()[mapped.length() - 1]);
  }
  {
    MappedFile mapped;
    EXPECT_FALSE(mapped.Initialize(over, MappedFile::READ_ONLY));
    EXPECT_FALSE(mapped.IsValid());
  }
  EXPECT_TRUE(DeleteFileW(largest.value().c_str()));
  EXPECT_TRUE(DeleteFileW(over.value().c_str()));
}

}  // namespace
}  // namespace base
