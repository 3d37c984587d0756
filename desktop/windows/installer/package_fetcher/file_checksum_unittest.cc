#include "desktop/windows/installer/package_fetcher/file_checksum.h"

#include <string>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_util.h"

namespace installer {
namespace {

const char kAbcChecksum[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class FileChecksumTest : public base::ScratchDirTest {};

TEST_F(FileChecksumTest, OnlyTheExactLowerCaseChecksumMatches) {
  base::FilePath file = Write(L"abc.bin", "abc");
  std::unique_ptr<base::Dictionary> report;
  EXPECT_TRUE(CheckFileChecksum(file, kAbcChecksum, &report));
  EXPECT_FALSE(report);
  EXPECT_TRUE(IsSha256Hex(kAbcChecksum));

  const std::string wrong[] = {base::ToUpperASCII(kAbcChecksum), "",
                               std::string(kAbcChecksum, 63), std::string(kAbcChecksum) + "0"};
  for (const std::string& expected : wrong) {
    SCOPED_TRACE(expected);
    // None of them can match any file, so none is downloaded against.
    EXPECT_FALSE(IsSha256Hex(expected));
    EXPECT_FALSE(CheckFileChecksum(file, expected, nullptr));
    EXPECT_FALSE(CheckFileChecksum(file, expected, &report));
    ASSERT_TRUE(report);
    std::string text;
    EXPECT_TRUE(report->GetString("expected_checksum", &text));
    EXPECT_EQ(expected, text);
    EXPECT_TRUE(report->GetString("actual_checksum", &text));
    EXPECT_EQ(kAbcChecksum, text);
  }
}

TEST_F(FileChecksumTest, MismatchReportsLengthAndFileEdges) {
  struct Case {
    std::string contents;
    std::string start;
    std::string end;
  } cases[] = {
      // Shorter than the edge: both edges are the whole file.
      {"0123456789", "30313233343536373839", "30313233343536373839"},
      // Only 50 bytes of each end; the middle never shows.
      {std::string(50, '\x11') + std::string(20, 'B') + std::string(50, '\x22'),
       std::string(100, '1'), std::string(100, '2')},
  };
  for (const Case& c : cases) {
    base::FilePath file = Write(L"data.bin", c.contents);
    std::unique_ptr<base::Dictionary> report;
    EXPECT_FALSE(CheckFileChecksum(file, kAbcChecksum, &report));
    ASSERT_TRUE(report);
    std::string text;
    int length = 0;
    EXPECT_TRUE(report->GetString("detail", &text));
    EXPECT_EQ("Checksum mismatch", text);
    EXPECT_TRUE(report->GetInteger("file_length", &length));
    EXPECT_EQ(static_cast<int>(c.contents.size()), length);
    EXPECT_TRUE(report->GetString("file_start", &text));
    EXPECT_EQ(c.start, text);
    EXPECT_TRUE(report->GetString("file_end", &text));
    EXPECT_EQ(c.end, text);
  }
}

TEST_F(FileChecksumTest, UnreadableFileReportsOnlyTheDetail) {
  // A missing file, a folder and an empty file (nothing to map) cannot be read.
  const base::FilePath paths[] = {Path(L"missing.bin"), scratch_.path(),
                                  Write(L"empty.bin", "")};
  for (const base::FilePath& path : paths) {
    SCOPED_TRACE(path.value().c_str());
    std::unique_ptr<base::Dictionary> report;
    EXPECT_FALSE(CheckFileChecksum(path, kAbcChecksum, &report));
    ASSERT_TRUE(report);
    EXPECT_EQ(1u, report->size());
    std::string text;
    EXPECT_TRUE(report->GetString("detail", &text));
    EXPECT_EQ("Unable to read the file", text);
    EXPECT_FALSE(CheckFileChecksum(path, kAbcChecksum, nullptr));
  }
}

}  // namespace
}  // namespace installer
