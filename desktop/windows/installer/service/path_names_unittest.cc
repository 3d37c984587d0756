#include "desktop/windows/installer/service/path_names.h"

#include <string>

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(PathNamesTest, ValidPaths) {
  const std::wstring long_folder = L"D:\\" + std::wstring(245, L'a');  // 248 characters
  const struct {
    std::wstring path;
    bool is_folder;
    const char* reason;  // what the log says of an invalid one; null for a valid one
  } cases[] = {
      {L"", true, "empty"},
      {L"D:", true, nullptr},
      {L"D:\\", true, nullptr},
      {L"D:\\Programs\\Velum", true, nullptr},
      {L"\\\\server\\share", true, "no server and share"},
      {L"\\\\server\\share\\dir", true, nullptr},
      {L"\\\\server\\\\dir", true, "no server and share"},
      {L"D:\\con.txt\\x", true, "device name"},
      {L"D:\\CON", true, "device name"},
      {L"D:\\lpt1.log", false, "device name"},
      {L"D:\\com5", true, nullptr},
      {L"D:\\console", true, nullptr},
      {L"D:\\a.\\b", true, "trailing dot or blank"},
      {L"D:\\a \\b", true, "trailing dot or blank"},
      {L"D:\\ a\\b", true, "leading blank"},
      {L"D:\\a?b", true, "illegal character"},
      {L"D:\\a:b", true, "illegal character"},
      {L"D:\\a\x1f" L"b", true, "illegal character"},
      {L"D:\\a|b", true, "illegal character"},
      {L"relative\\dir", true, nullptr},
      {long_folder, true, "too long"},
      {long_folder, false, nullptr},
      {L"D:\\" + std::wstring(257, L'a'), false, "too long"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(!c.reason, IsValidPath(c.path, c.is_folder)) << c.path.size() << " " << c.is_folder;
    const char* reason = GetInvalidPathReason(c.path, c.is_folder);
    EXPECT_EQ(std::string(c.reason ? c.reason : ""), std::string(reason ? reason : ""))
        << c.path.size();
  }
}

}  // namespace
}  // namespace installer
