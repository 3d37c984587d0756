#include "desktop/windows/installer/wininet/response_writer.h"

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace installer {
namespace {

class ResponseWriterTest : public base::ScratchDirTest {};

TEST_F(ResponseWriterTest, FileWriterWritesRewindsAndCloses) {
  FileResponseWriter writer;
  ASSERT_TRUE(writer.Open(Path(L"body.bin")));
  ASSERT_TRUE(writer.Write("abc\0def", 7).ok());
  ASSERT_TRUE(writer.Rewind().ok());
  ASSERT_TRUE(writer.Write("xyz", 3).ok());
  writer.Close();
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(Path(L"body.bin"), &contents));
  EXPECT_EQ("xyz", contents);

  // Open replaces what was there.
  ASSERT_TRUE(writer.Open(Path(L"body.bin")));
  writer.Close();
  ASSERT_TRUE(base::ReadFileToString(Path(L"body.bin"), &contents));
  EXPECT_EQ("", contents);
}

TEST_F(ResponseWriterTest, FileWriterFailuresKeepTheSystemError) {
  FileResponseWriter writer;
  EXPECT_FALSE(writer.Open(Path(L"missing\\body.bin")));
  // Nothing open: the write and the rewind fail with the system's error.
  const base::Result<> written = writer.Write("abc", 3);
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), written.failure().error);
  const base::Result<> rewound = writer.Rewind();
  ASSERT_FALSE(rewound.ok());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), rewound.failure().error);
}

TEST_F(ResponseWriterTest, StringWriterStartsEmptyAndAppends) {
  std::string output = "left over";
  StringResponseWriter writer(&output);
  EXPECT_EQ("", output);
  ASSERT_TRUE(writer.Write("{\"a\"", 4).ok());
  ASSERT_TRUE(writer.Write(":1}", 3).ok());
  writer.Close();
  EXPECT_EQ("{\"a\":1}", output);
  ASSERT_TRUE(writer.Rewind().ok());
  EXPECT_EQ("", output);

  ResponseWriter discarding;
  EXPECT_TRUE(discarding.Write("abc", 3).ok());
}

}  // namespace
}  // namespace installer
