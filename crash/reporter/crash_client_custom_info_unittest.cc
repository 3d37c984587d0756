#include "crash/reporter/crash_client_custom_info.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "crash/reporter/crash_client_config.h"

namespace crash_reporter {
namespace {

class FakeConfig : public CrashClientConfig {
 public:
  void GetProductNameAndVersion(const base::FilePath&, std::wstring* product,
                                std::wstring* version, std::wstring* special,
                                std::wstring* channel) override {
    *product = L"Velum";
    *version = L"1.0.100.0";
    *special = special_;
    *channel = L"Stable";
  }
  bool GetAlternativeCrashDumpLocation(base::FilePath* path) override {
    if (dump_location_.empty()) return false;
    *path = base::FilePath(dump_location_);
    return true;
  }
  bool IsRunningUnattended() override { return unattended_; }
  bool IsDumpLocationPrivate() override { return private_location_; }

  std::wstring special_;
  std::wstring dump_location_;
  bool unattended_ = false;
  bool private_location_ = false;
};

std::vector<std::wstring> Names(const CustomClientInfo& info, size_t limit) {
  std::vector<std::wstring> names;
  for (size_t i = 0; i < info.count && i < limit; ++i) names.push_back(info.entries[i].name);
  return names;
}

base::CommandLine MakeCommandLine(const std::vector<std::wstring>& switches) {
  std::vector<std::wstring> argv = {L"installer.exe"};
  argv.insert(argv.end(), switches.begin(), switches.end());
  return base::CommandLine(argv);
}

TEST(CrashClientCustomInfoTest, DescribesTheProcessThenReservesTheKeySlots) {
  FakeConfig config;
  CrashClientCustomInfo holder;
  const CustomClientInfo info = FillCrashClientCustomInfo(
      &holder, base::FilePath(L"C:\\x\\installer.exe"), L"installer", L"", MakeCommandLine({}),
      &config);
  ASSERT_EQ(7u + kMaxCrashKeySlots, info.count);
  EXPECT_EQ((std::vector<std::wstring>{L"ver", L"prod", L"plat", L"ptype", L"pid", L"channel",
                                       L"profile-type", kUnspecifiedCrashKeyName}),
            Names(info, 8));
  EXPECT_STREQ(L"1.0.100.0", info.entries[0].value);
  EXPECT_STREQ(L"Win32", info.entries[2].value);
  EXPECT_EQ(base::UintToString16(GetCurrentProcessId()), info.entries[4].value);
  EXPECT_STREQ(kUnspecifiedCrashKeyName, info.entries[info.count - 1].name);
}

TEST(CrashClientCustomInfoTest, OptionalEntries) {
  struct Case {
    const char* proves;
    std::wstring special, dump_location, process_type;
    bool unattended, private_location;
    std::vector<std::wstring> switches;
    std::vector<std::wstring> extra_names;  // after "profile-type"
  };
  const std::wstring plugin(300, L'p');
  const Case cases[] = {
      {"a special build is named", L"beta", L"", L"installer", false, false, {}, {L"special"}},
      {"an unattended process names its dump folder", L"", L"C:\\dumps", L"installer", true,
       false, {}, {L"crash-dump-location"}},
      {"so does one without error dialogs", L"", L"C:\\dumps", L"installer", false, false,
       {L"--noerrdialogs"}, {L"crash-dump-location"}},
      {"a watched process does not", L"", L"C:\\dumps", L"installer", false, false, {}, {}},
      {"nor a private dump folder", L"", L"C:\\dumps", L"installer", true, true, {}, {}},
      {"plugin paths keep their last 256 characters in 63-character pieces", L"", L"",
       L"pluginapi", false, false, {L"--plugin-path=" + plugin},
       {L"plugin-path-chunk-1", L"plugin-path-chunk-2", L"plugin-path-chunk-3",
        L"plugin-path-chunk-4", L"plugin-path-chunk-5"}},
      {"only for plugin processes", L"", L"", L"installer", false, false,
       {L"--plugin-path=" + plugin}, {}},
  };
  for (const Case& c : cases) {
    FakeConfig config;
    config.special_ = c.special;
    config.dump_location_ = c.dump_location;
    config.unattended_ = c.unattended;
    config.private_location_ = c.private_location;
    CrashClientCustomInfo holder;
    const CustomClientInfo info =
        FillCrashClientCustomInfo(&holder, base::FilePath(L"a.exe"), c.process_type, L"",
                                  MakeCommandLine(c.switches), &config);
    std::vector<std::wstring> names = Names(info, 7 + c.extra_names.size());
    names.erase(names.begin(), names.begin() + 7);
    EXPECT_EQ(c.extra_names, names) << c.proves;
    EXPECT_EQ(7 + c.extra_names.size() + kMaxCrashKeySlots, info.count) << c.proves;
  }
  EXPECT_EQ(5u, GetPluginPathChunks(plugin).size());
  EXPECT_EQ(4u, GetPluginPathChunks(plugin).back().size());
}

TEST(CrashClientCustomInfoTest, KeysTakeSlotsUntilAllAreMapped) {
  FakeConfig config;
  CrashClientCustomInfo holder;
  const CustomClientInfo info = FillCrashClientCustomInfo(
      &holder, base::FilePath(L"a.exe"), L"installer", L"", MakeCommandLine({}), &config);
  const size_t first = info.count - kMaxCrashKeySlots;
  for (size_t i = 0; i < kMaxCrashKeySlots; ++i)
    SetCrashKeyValue(L"key" + base::UintToString16(i), L"v");
  SetCrashKeyValue(L"one-too-many", L"v");
  SetCrashKeyValue(L"key0", std::wstring(70, L'w'));
  ClearCrashKeyValue(L"key1");
  ClearCrashKeyValue(L"never-set");

  EXPECT_STREQ(L"key0", info.entries[first].name);
  EXPECT_EQ(std::wstring(63, L'w'), info.entries[first].value);
  EXPECT_STREQ(L"key1", info.entries[first + 1].name);
  EXPECT_STREQ(L"", info.entries[first + 1].value);
  EXPECT_STREQ(L"key255", info.entries[info.count - 1].name);
  for (size_t i = 0; i < info.count; ++i)
    EXPECT_STRNE(L"one-too-many", info.entries[i].name);
}

TEST(CrashClientCustomInfoTest, KeysAfterTheHolderIsGoneAreDropped) {
  FakeConfig config;
  // The holder lives in storage the test keeps: once it is destroyed the bytes are
  // zeroed, so any later write through a stale pointer shows (or faults) instead of
  // landing in freed memory unseen.
  alignas(CrashClientCustomInfo) unsigned char storage[sizeof(CrashClientCustomInfo)];
  CrashClientCustomInfo* holder = new (storage) CrashClientCustomInfo;
  FillCrashClientCustomInfo(holder, base::FilePath(L"a.exe"), L"installer", L"",
                            MakeCommandLine({}), &config);
  SetCrashKeyValue(L"early", L"value");
  holder->~CrashClientCustomInfo();
  memset(storage, 0, sizeof(storage));

  SetCrashKeyValue(L"late", L"value");
  ClearCrashKeyValue(L"early");
  for (unsigned char byte : storage) ASSERT_EQ(0, byte) << "a key reached the destroyed holder";

  // Nothing set meanwhile is kept for the next holder.
  CrashClientCustomInfo next;
  const CustomClientInfo info = FillCrashClientCustomInfo(
      &next, base::FilePath(L"a.exe"), L"installer", L"", MakeCommandLine({}), &config);
  for (size_t i = 0; i < info.count; ++i) {
    EXPECT_STRNE(L"late", info.entries[i].name);
    EXPECT_STRNE(L"early", info.entries[i].name);
  }
}

}  // namespace
}  // namespace crash_reporter
