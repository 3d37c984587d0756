#include "base/files/file.h"

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sparse_histogram.h"

namespace base {
namespace {

typedef ScratchDirTest FileTest;

TEST_F(FileTest, OpeningOutcomes) {
  ASSERT_TRUE(WriteTextFile(Path(L"existing"), "0123456789"));
  struct Case {
    const wchar_t* name;
    uint32_t flags;
    int32_t error;
    bool created;
  } cases[] = {
      {L"existing", File::FLAG_OPEN_ALWAYS | File::FLAG_WRITE, File::FILE_OK, false},
      {L"missing1", File::FLAG_OPEN_ALWAYS | File::FLAG_WRITE, File::FILE_OK, true},
      {L"missing2", File::FLAG_CREATE_ALWAYS | File::FLAG_WRITE, File::FILE_OK, true},
      {L"existing", File::FLAG_CREATE | File::FLAG_WRITE, File::FILE_ERROR_EXISTS, false},
      {L"missing3", File::FLAG_OPEN | File::FLAG_READ, File::FILE_ERROR_NOT_FOUND, false},
      {L"no\\such\\dir", File::FLAG_CREATE | File::FLAG_WRITE, File::FILE_ERROR_NOT_FOUND,
       false},
      {L"missing4", File::FLAG_OPEN_TRUNCATED | File::FLAG_OPEN | File::FLAG_WRITE,
       File::FILE_ERROR_NOT_FOUND, false},
      // No disposition at all must not read as success.
      {L"existing", File::FLAG_READ | File::FLAG_WRITE, File::FILE_ERROR_INVALID_OPERATION,
       false},
      {L"..\\existing", File::FLAG_OPEN | File::FLAG_READ, File::FILE_ERROR_ACCESS_DENIED,
       false},
  };
  for (const Case& c : cases) {
    File file(Path(c.name), c.flags);
    EXPECT_EQ(c.error, file.error_details()) << c.name << " " << c.flags;
    EXPECT_EQ(c.error == File::FILE_OK, file.IsValid()) << c.name << " " << c.flags;
    EXPECT_EQ(c.created, file.created()) << c.name << " " << c.flags;
  }
  File invalid;
  EXPECT_FALSE(invalid.IsValid());
  EXPECT_EQ(File::FILE_ERROR_FAILED, invalid.error_details());
}

TEST_F(FileTest, TruncatingOpenEmptiesTheFile) {
  ASSERT_TRUE(WriteTextFile(Path(L"f"), "0123456789"));
  File file(Path(L"f"), File::FLAG_OPEN_TRUNCATED | File::FLAG_OPEN | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(0, file.GetLength());
}

TEST_F(FileTest, ExclusiveHolderCausesInUse) {
  File holder(Path(L"f"), File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE |
                              File::FLAG_EXCLUSIVE_READ | File::FLAG_EXCLUSIVE_WRITE);
  ASSERT_TRUE(holder.IsValid());
  File second(Path(L"f"), File::FLAG_OPEN | File::FLAG_READ);
  EXPECT_FALSE(second.IsValid());
  EXPECT_EQ(File::FILE_ERROR_IN_USE, second.error_details());
}

TEST_F(FileTest, PositionedWriteReadAndLength) {
  File file(Path(L"f"), File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(3, file.Write(10, "abc", 3));
  EXPECT_EQ(13, file.GetLength()) << "a write at offset 10 extends the file";
  EXPECT_EQ(2, file.Write(0, "xy", 2)) << "the offset, not the position, decides";
  EXPECT_EQ(0, file.Seek(File::FROM_BEGIN, 0));

  char buffer[32];
  EXPECT_EQ(-1, file.ReadAtCurrentPos(buffer, -1));
  EXPECT_EQ(13, file.ReadAtCurrentPos(buffer, sizeof(buffer)));
  EXPECT_EQ("xy" + std::string(8, '\0') + "abc", std::string(buffer, 13));
  EXPECT_EQ(0, file.ReadAtCurrentPos(buffer, sizeof(buffer))) << "end of file is 0";

  EXPECT_EQ(11, file.Seek(File::FROM_BEGIN, 11));
  ASSERT_TRUE(file.SetLength(5));
  EXPECT_EQ(5, file.GetLength());
  EXPECT_EQ(11, file.Seek(File::FROM_CURRENT, 0)) << "SetLength restores the position";
  EXPECT_EQ(7, file.Seek(File::FROM_END, 2));
}

TEST_F(FileTest, InfoOfFileAndDirectory) {
  ASSERT_TRUE(WriteTextFile(Path(L"f"), "12345"));
  File file(Path(L"f"), File::FLAG_OPEN | File::FLAG_READ);
  File::Info info;
  ASSERT_TRUE(file.GetInfo(&info));
  EXPECT_EQ(5, info.size);
  EXPECT_FALSE(info.is_directory);
  EXPECT_FALSE(info.last_modified.is_null());

  File directory(scratch_.path(), File::FLAG_OPEN | File::FLAG_READ |
                                      File::FLAG_BACKUP_SEMANTICS);
  ASSERT_TRUE(directory.IsValid());
  ASSERT_TRUE(directory.GetInfo(&info));
  EXPECT_TRUE(info.is_directory);
}

TEST_F(FileTest, LockConflictsAcrossHandles) {
  File first(Path(L"f"), File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
  File second(Path(L"f"), File::FLAG_OPEN | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(first.IsValid() && second.IsValid());
  EXPECT_EQ(File::FILE_OK, first.Lock());
  // ERROR_LOCK_VIOLATION has no code of its own.
  EXPECT_EQ(File::FILE_ERROR_FAILED, second.Lock());
}

TEST(FileErrorTest, UnknownErrorsAreCountedOnceEach) {
  HistogramBase* histogram =
      SparseHistogram::FactoryGet("PlatformFile.UnknownErrors.Windows", 0);
  HistogramBase::Count already = histogram->SnapshotSamples()->GetCount(ERROR_ALREADY_EXISTS);
  HistogramBase::Count lock = histogram->SnapshotSamples()->GetCount(ERROR_LOCK_VIOLATION);
  EXPECT_EQ(File::FILE_ERROR_FAILED, File::FromWin32Error(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(File::FILE_ERROR_NOT_FOUND, File::FromWin32Error(ERROR_FILE_NOT_FOUND));
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  EXPECT_EQ(already + 1, samples->GetCount(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(lock, samples->GetCount(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(0, samples->GetCount(ERROR_FILE_NOT_FOUND)) << "known errors are not counted";
}

}  // namespace
}  // namespace base
