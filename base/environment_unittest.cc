#include "base/environment.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

class EnvironmentTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const wchar_t* name : {L"VELUM_ENV_TEST", L"VELUM_ENV_EMPTY",
                                L"VELUM_ENV_UTF8"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
  }
  std::unique_ptr<Environment> env_ = Environment::Create();
};

TEST_F(EnvironmentTest, SetGetAndUnset) {
  std::string value = "untouched";
  EXPECT_FALSE(env_->GetVar("VELUM_ENV_TEST", &value));
  EXPECT_EQ("untouched", value);
  ASSERT_TRUE(env_->SetVar("VELUM_ENV_TEST", "some value"));
  // Case-insensitive names are the system's own rule.
  EXPECT_TRUE(env_->GetVar("velum_env_test", &value));
  EXPECT_EQ("some value", value);
  EXPECT_TRUE(env_->UnSetVar("VELUM_ENV_TEST"));
  EXPECT_FALSE(env_->HasVar("VELUM_ENV_TEST"));

  // An empty value is present.
  ASSERT_TRUE(env_->SetVar("VELUM_ENV_EMPTY", ""));
  EXPECT_TRUE(env_->HasVar("VELUM_ENV_EMPTY"));
  EXPECT_TRUE(env_->GetVar("VELUM_ENV_EMPTY", &value));
  EXPECT_EQ("", value);
}

TEST_F(EnvironmentTest, LongUtf8Values) {
  const std::string value = "C:\\Us\xC3\xA9rs\\\xE6\x97\xA5\xE6\x9C\xAC" + std::string(5000, 'x');
  ASSERT_TRUE(env_->SetVar("VELUM_ENV_UTF8", value));
  std::wstring wide(6000, L'\0');
  wide.resize(GetEnvironmentVariableW(L"VELUM_ENV_UTF8", &wide[0], 6000));
  EXPECT_EQ(L"C:\\Us\u00E9rs\\\u65E5\u672C" + std::wstring(5000, L'x'), wide);
  std::string read;
  EXPECT_TRUE(env_->GetVar("VELUM_ENV_UTF8", &read));
  EXPECT_EQ(value, read);
}

// The system's lookup ignores case, so the retry is observed through a lookup that
// records the names it was asked for.
TEST(GetVarWithCaseRetryTest, RetriesOnceWithTheCaseFlippedByTheFirstCharacter) {
  const struct {
    const char* name;
    std::vector<std::string> lookups;
  } cases[] = {
      {"crash_email", {"crash_email", "CRASH_EMAIL"}},
      {"cRASH_eMAIL", {"cRASH_eMAIL", "CRASH_EMAIL"}},
      {"Crash_Email", {"Crash_Email", "crash_email"}},
      {"CRASH_EMAIL", {"CRASH_EMAIL", "crash_email"}},
      {"_crash", {"_crash"}},
      {"9lives", {"9lives"}},
      {"\xC3\xA9t\xC3\xA9", {"\xC3\xA9t\xC3\xA9"}},
      {"", {""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lookups;
    const bool found = internal::GetVarWithCaseRetry(
        c.name, nullptr, [&lookups](StringPiece name, std::string*) {
          lookups.push_back(name.as_string());
          return false;
        });
    EXPECT_FALSE(found);
    EXPECT_EQ(c.lookups, lookups);
  }
}

TEST(GetVarWithCaseRetryTest, TheRetrysResultAndValueAreTheResult) {
  std::string value;
  EXPECT_TRUE(internal::GetVarWithCaseRetry("home", &value,
                                            [](StringPiece name, std::string* out) {
                                              *out = name.as_string();
                                              return name == "HOME";
                                            }));
  EXPECT_EQ("HOME", value);
}

}  // namespace
}  // namespace base
