#include "base/result.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

Result<std::unique_ptr<int>> Make(bool succeed) {
  if (!succeed) return Failure{ERROR_DISK_FULL, 8, "WriteFile", FilePath(L"C:\\a\\b.txt")};
  return std::make_unique<int>(7);
}

// Passes the reason of a failed step up unchanged, as callers of a fallible step do.
Result<> Use(bool succeed, int* seen) {
  auto made = Make(succeed);
  if (!made.ok()) return made.failure();
  *seen = *std::move(made).value();
  return {};
}

TEST(ResultTest, CarriesAValueOrTheWholeReason) {
  for (const bool succeed : {true, false}) {
    SCOPED_TRACE(succeed);
    int seen = 0;
    const Result<> used = Use(succeed, &seen);
    EXPECT_EQ(used.ok(), succeed);
    if (succeed) {
      EXPECT_EQ(seen, 7);
      continue;
    }
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(used.failure().error, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(used.failure().kind, 8);
    EXPECT_EQ(used.failure().text, "WriteFile");
    EXPECT_EQ(used.failure().path, FilePath(L"C:\\a\\b.txt"));
  }
}

TEST(ResultTest, TakesWhatConvertsToItsValue) {
  const auto named = []() -> Result<std::string> { return "named"; }();
  ASSERT_TRUE(named.ok());
  EXPECT_EQ(named.value(), "named");
}

// Asking a success for its reason, or a failure for its value, is a fault of the caller.
TEST(ResultDeathTest, NoReasonOfASuccessNorValueOfAFailure) {
  EXPECT_DEATH((void)Result<>().failure(), "");
  EXPECT_DEATH((void)Result<int>(3).failure(), "");
  EXPECT_DEATH((void)Result<int>(Failure{ERROR_ACCESS_DENIED, 0, "", FilePath()}).value(), "");
}

}  // namespace
}  // namespace base
