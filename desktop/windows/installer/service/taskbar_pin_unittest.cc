#include "desktop/windows/installer/service/taskbar_pin.h"

#include <windows.h>

#include <stdint.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/time/time.h"
#include "base/win/registry.h"

namespace installer {
namespace {

const int64_t kDay = 24LL * 3600 * 1000 * 1000;
const char kStream[] = "Stable";
const wchar_t kStampName[] = L"Stable Last Band Check";
const int64_t kTenMinutes = 10LL * 60 * 1000 * 1000;

class TaskbarPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stamp_.company_key_path =
        L"Software\\VelumTest\\TaskbarPin" + std::to_wstring(GetCurrentProcessId());
    stamp_.stream_name = kStream;
    ASSERT_FALSE(scratch_.path().empty());
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, stamp_.company_key_path.c_str());
  }

  void WriteStamp(const std::wstring& text) {
    base::RegistryKey key(HKEY_CURRENT_USER, stamp_.company_key_path.c_str(), KEY_WRITE);
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(kStampName, text.c_str()));
  }
  void WriteStampDaysAgo(int days) {
    WriteStamp(base::Int64ToString16(base::Time::Now().ToInternalValue() - days * kDay));
  }
  // The stamp, or -1 when it is missing or not a number.
  int64_t ReadStamp() {
    base::RegistryKey key(HKEY_CURRENT_USER, stamp_.company_key_path.c_str(), KEY_READ);
    std::wstring text;
    int64_t value = -1;
    if (key.ReadValue(kStampName, &text) != ERROR_SUCCESS ||
        !base::StringToInt64(text, &value)) {
      return -1;
    }
    return value;
  }
  bool StampIsNow() {
    const int64_t now = base::Time::Now().ToInternalValue();
    const int64_t stamp = ReadStamp();
    return stamp > now - kTenMinutes && stamp < now + kTenMinutes;
  }

  PinStampLocation stamp_;
  base::ScratchDir scratch_;
};

TEST_F(TaskbarPinTest, RepinModeNotesTheTimeWhereThereIsNoUsableStamp) {
  const base::FilePath shortcut = scratch_.path().Append(L"missing.lnk");
  const struct {
    const char* what;
    const wchar_t* stamp;  // null: no value
  } cases[] = {
      {"no stamp", nullptr},
      {"not a number", L"soon"},
      {"zero", L"0"},
      {"in the future", L"future"},
  };
  for (const auto& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, stamp_.company_key_path.c_str());
    if (c.stamp && std::wstring(c.stamp) == L"future")
      WriteStampDaysAgo(-3);
    else if (c.stamp)
      WriteStamp(c.stamp);
    EXPECT_FALSE(PinToTaskbar(stamp_, scratch_.path(), shortcut, PIN_AGAIN_AFTER_INTERVAL))
        << c.what;
    EXPECT_TRUE(StampIsNow()) << c.what;
  }
}

TEST_F(TaskbarPinTest, RepinModeWaitsHalfAYear) {
  WriteStampDaysAgo(10);
  const int64_t ten_days_ago = ReadStamp();
  EXPECT_FALSE(PinToTaskbar(stamp_, scratch_.path(), scratch_.path().Append(L"a.lnk"),
                            PIN_AGAIN_AFTER_INTERVAL));
  EXPECT_EQ(ten_days_ago, ReadStamp());

  // Due, but the pin itself fails (no such shortcut; under Wine the shell verb is
  // missing too): the stamp stays, so the next run tries again.
  if (base::GetWindowsVersion() <= base::OS_VERSION_WIN8_1) {
    WriteStampDaysAgo(200);
    const int64_t half_a_year_ago = ReadStamp();
    EXPECT_FALSE(PinToTaskbar(stamp_, scratch_.path(), scratch_.path().Append(L"a.lnk"),
                              PIN_AGAIN_AFTER_INTERVAL));
    EXPECT_EQ(half_a_year_ago, ReadStamp());
  }
}

// The 64-bit helper's name and the stamp's are checked on their roads below.
TEST(TaskbarPinNamesTest, HelperOf32BitWindows) {
  EXPECT_STREQ(L"installer_helper.exe", GetPinHelperName(base::OsInfo::X86_ARCHITECTURE));
}

// The Windows 10 road, in a helper process that Wine tells it runs on Windows 10, with
// a stub pinning executable that logs how it was started.
class TaskbarPinWindows10Test : public TaskbarPinTest {
 protected:
  static constexpr const wchar_t* kAppDefaults =
      L"Software\\Wine\\AppDefaults\\taskbar_pin_test_helper.exe";

  void SetUp() override {
    TaskbarPinTest::SetUp();
    ASSERT_TRUE(base::RunningUnderWine()) << "needs Wine's per-program Windows version";
    base::RegistryKey key(HKEY_CURRENT_USER, kAppDefaults, KEY_WRITE);
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Version", L"win10"));
    helpers_ = scratch_.path().Append(L"helpers");
    temp_ = scratch_.path().Append(L"temp");
    log_ = scratch_.path().Append(L"helper.log");
    ASSERT_TRUE(base::CreateDirectory(helpers_));
    ASSERT_TRUE(base::CreateDirectory(temp_));
    const base::FilePath stub(base::TestExeSibling(L"pin_helper_stub_test_helper.exe"));
    ASSERT_TRUE(base::CopyFile(stub, helpers_.Append(L"installer_helper_64.exe")));
    ASSERT_TRUE(base::CopyFile(stub, helpers_.Append(L"installer_helper.exe")));
    SetEnvironmentVariableW(L"VELUM_PIN_HELPER_LOG", log_.value().c_str());
    SetEnvironmentVariableW(L"TMP", temp_.value().c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.value().c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"VELUM_PIN_HELPER_LOG", nullptr);
    Restore(L"TMP", saved_tmp_);
    Restore(L"TEMP", saved_temp_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    TaskbarPinTest::TearDown();
  }

  // 1 pinned, 0 not, other values: the helper process failed.
  int Pin(const std::wstring& shortcut_name, int mode) {
    const std::wstring arguments = L"\"" + stamp_.company_key_path + L"\" " +
                                   L"Stable \"" + helpers_.value() + L"\" \"" +
                                   Shortcut(shortcut_name) + L"\" " + std::to_wstring(mode);
    return base::RunTestHelper(L"taskbar_pin_test_helper.exe", arguments);
  }
  std::wstring Shortcut(const std::wstring& name) {
    return scratch_.path().Append(name).value();
  }
  std::string Log() {
    // No log: the helper pinned nothing.
    std::string text;
    return base::ReadFileToString(log_, &text) ? text : std::string();
  }
  std::string ExpectedLine(const std::wstring& shortcut_name) {
    const std::wstring line =
        temp_.Append(L"explorer.exe").value() + L"|1|" + Shortcut(shortcut_name) + L"\n";
    return std::string(line.begin(), line.end());
  }

  base::FilePath helpers_, temp_, log_;
  std::wstring saved_tmp_ = Env(L"TMP");
  std::wstring saved_temp_ = Env(L"TEMP");

 private:
  static void Restore(const wchar_t* name, const std::wstring& value) {
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
  }
  static std::wstring Env(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
  }
};

TEST_F(TaskbarPinWindows10Test, PinsThroughTheHelperCopiedAsExplorer) {
  EXPECT_EQ(1, Pin(L"exit-0.lnk", PIN_ALWAYS));
  EXPECT_EQ(ExpectedLine(L"exit-0.lnk"), Log());
  EXPECT_FALSE(base::PathExists(temp_.Append(L"explorer.exe")));
  EXPECT_EQ(-1, ReadStamp()) << "only the re-pinning mode keeps a stamp";
}

TEST_F(TaskbarPinWindows10Test, AHelperFailureIsNoPin) {
  EXPECT_EQ(0, Pin(L"exit-3.lnk", PIN_ALWAYS));
  EXPECT_EQ(ExpectedLine(L"exit-3.lnk"), Log());
  EXPECT_FALSE(base::PathExists(temp_.Append(L"explorer.exe")));

  ASSERT_TRUE(base::DeleteFile(helpers_.Append(L"installer_helper_64.exe"), false));
  EXPECT_EQ(0, Pin(L"exit-0.lnk", PIN_ALWAYS));
  EXPECT_EQ(ExpectedLine(L"exit-3.lnk"), Log()) << "no helper to run";
}

TEST_F(TaskbarPinWindows10Test, RepinModePinsAgainAfterHalfAYear) {
  WriteStampDaysAgo(10);
  EXPECT_EQ(0, Pin(L"exit-0.lnk", PIN_AGAIN_AFTER_INTERVAL));
  EXPECT_EQ("", Log());

  WriteStampDaysAgo(200);
  EXPECT_EQ(1, Pin(L"exit-0.lnk", PIN_AGAIN_AFTER_INTERVAL));
  EXPECT_EQ(ExpectedLine(L"exit-0.lnk"), Log());
  EXPECT_TRUE(StampIsNow());

  // The earliest stamp there can be is long enough ago too.
  WriteStamp(L"-9223372036854775808");
  EXPECT_EQ(1, Pin(L"exit-0.lnk", PIN_AGAIN_AFTER_INTERVAL));
  EXPECT_TRUE(StampIsNow());
}

}  // namespace
}  // namespace installer
