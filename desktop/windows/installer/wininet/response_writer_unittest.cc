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
  ASSERT_TRUE(writer.Write("abc\0def", 7));
  ASSERT_TRUE(writer.Rewind());
  ASSERT_TRUE(writer.Write("xyz", 3));
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
  // Nothing open: the write fails and keeps its error.
  EXPECT_FALSE(writer.Write("abc", 3));
  EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_HANDLE), writer.error());
}

TEST_F(ResponseWriterTest, StringWriterStartsEmptyAndAppends) {
  std::string output = "left over";
  StringResponseWriter writer(&output);
  EXPECT_EQ("", output);
  ASSERT_TRUE(writer.Write("{\"a\"", 4));
  ASSERT_TRUE(writer.Write(":1}", 3));
  writer.Close();
  EXPECT_EQ("{\"a\":1}", output);
  ASSERT_TRUE(writer.Rewind());
  EXPECT_EQ("", output);

  ResponseWriter discarding;
  EXPECT_TRUE(discarding.Write("abc", 3));
  EXPECT_EQ(0u, discarding.error());
}

}  // namespace
}  // namespace installer
