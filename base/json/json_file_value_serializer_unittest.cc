#include "base/json/json_file_value_serializer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/json/json_reader.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

typedef ScratchDirTest JsonFileReaderTest;

TEST_F(JsonFileReaderTest, ReadsValueAndSize) {
  const std::string text = "{\"a\": [1, 2], \"b\": \"x\"}";
  JsonFileReader reader(Write(L"ok.json", text), 0);
  int code = -1;
  std::string message = "unchanged";
  std::unique_ptr<Value> root = reader.Deserialize(&code, &message);
  ASSERT_TRUE(root);
  EXPECT_TRUE(root->is_dictionary());
  EXPECT_EQ(0, code);
  EXPECT_EQ(text.size(), reader.last_read_size());
  // The outs are optional.
  EXPECT_TRUE(reader.Deserialize(nullptr, nullptr));
}

TEST_F(JsonFileReaderTest, OptionsReachTheParser) {
  const FilePath path = Write(L"comma.json", "[1, 2,]");
  EXPECT_FALSE(JsonFileReader(path, 0).Deserialize(nullptr, nullptr));
  EXPECT_TRUE(JsonFileReader(path, JsonReader::JSON_ALLOW_TRAILING_COMMAS)
                  .Deserialize(nullptr, nullptr));
}

TEST_F(JsonFileReaderTest, ParseErrorsKeepReaderCodes) {
  const struct {
    const wchar_t* name;
    const char* text;
    int code;
  } cases[] = {
      {L"empty.json", "", JsonReader::JSON_UNEXPECTED_TOKEN},
      {L"syntax.json", "{\"a\" 1}", JsonReader::JSON_SYNTAX_ERROR},
      {L"after.json", "[] []", JsonReader::JSON_UNEXPECTED_DATA_AFTER_ROOT},
  };
  for (const auto& c : cases) {
    JsonFileReader reader(Write(c.name, c.text), 0);
    int code = 0;
    std::string message;
    EXPECT_FALSE(reader.Deserialize(&code, &message)) << c.text;
    EXPECT_EQ(c.code, code) << c.text;
    EXPECT_NE(std::string::npos, message.find("Line: ")) << message;
    // The file itself was read.
    EXPECT_EQ(strlen(c.text), reader.last_read_size()) << c.text;
  }
}

TEST_F(JsonFileReaderTest, FileErrors) {
  const FilePath held = Write(L"held.json", "{}");
  ScopedHandle holder(CreateFileW(held.value().c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  Write(L"up.json", "{}");
  const struct {
    FilePath path;
    int code;
    const char* message;
  } cases[] = {
      {scratch_.path().Append(L"missing.json"), JsonFileReader::JSON_NO_SUCH_FILE,
       "File doesn't exist."},
      {scratch_.path().Append(L"no\\such\\dir.json"), JsonFileReader::JSON_NO_SUCH_FILE,
       "File doesn't exist."},
      {held, JsonFileReader::JSON_FILE_LOCKED, "File locked."},
      {scratch_.path(), JsonFileReader::JSON_ACCESS_DENIED, "Access denied."},
      {scratch_.path().Append(L"x\\..\\up.json"), JsonFileReader::JSON_CANNOT_READ_FILE,
       "Can't read file."},
  };
  for (const auto& c : cases) {
    // A stale code from before the read must not decide the result.
    SetLastError(ERROR_SHARING_VIOLATION);
    JsonFileReader reader(c.path, 0);
    int code = 0;
    std::string message;
    EXPECT_FALSE(reader.Deserialize(&code, &message));
    EXPECT_EQ(c.code, code) << c.path.AsUTF8();
    EXPECT_EQ(c.message, message) << c.path.AsUTF8();
    EXPECT_EQ(0u, reader.last_read_size());
  }
}

}  // namespace
}  // namespace base
