#include "crash/reporter/crash_upload.h"

#include <windows.h>

#include <limits>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "crash/reporter/crash_reporter_test_util.h"
#include "testing/crash_collector/crash_collector_test_util.h"

namespace crash_reporter {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

FILETIME UnixSecondsToFileTime(int64_t seconds) {
  const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

TEST(CrashUploadTest, UptimeSaturatesAtTheLimits) {
  const struct {
    int64_t milliseconds;
    int64_t microseconds;
  } cases[] = {
      {1500, 1500000},
      {-7, -7000},
      {9223372036854775LL, 9223372036854775000LL},
      {9223372036854776LL, kMax},
      {kMax, kMax},
      {-9223372036854774LL, -9223372036854774000LL},
      {-9223372036854775LL, kMin},
      {kMin, kMin},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.microseconds, internal::UptimeToMicroseconds(c.milliseconds)) << c.milliseconds;
}

TEST(CrashUploadTest, StartupAndCrashTimes) {
  const FILETIME start = UnixSecondsToFileTime(1700000000);
  const FILETIME now = UnixSecondsToFileTime(1700000100);
  const struct {
    const char* name;
    bool has_start;
    bool has_uptime;
    int64_t uptime_us;
    const wchar_t* startup;
    const wchar_t* crash;
  } cases[] = {
      {"start and uptime", true, true, 1500000, L"1700000000", L"1700000001"},
      {"start only", true, false, 0, L"1700000000", L"1700000100"},
      {"uptime only", false, true, 30000000, L"1700000070", L"1700000100"},
      {"neither", false, false, 0, L"1700000100", L"1700000100"},
      {"saturated uptime", true, true, kMax, L"1700000000", L"9223372036854"},
  };
  for (const auto& c : cases) {
    UploadKeys keys;
    internal::AddTimeCrashKeys(c.has_start ? &start : nullptr, c.has_uptime, c.uptime_us, now, &keys);
    EXPECT_EQ(c.startup, keys[L"StartupTime"]) << c.name;
    EXPECT_EQ(c.crash, keys[L"CrashTime"]) << c.name;
  }
}

TEST(CrashUploadTest, ClientKeysWinAndPrivateOnesStayBehind) {
  const CrashKeyMap custom_info(CrashKeyMap::Map{{L"prod", L"ClientProduct"},
                                                 {L"crash_guid", L"1234"},
                                                 {L"ptime", L"1500"},
                                                 {L"ptype", L"installer"}});
  UploadKeys keys;
  AddClientCrashKeys(GetCurrentProcess(), custom_info, &keys);
  EXPECT_EQ(L"ClientProduct", keys[L"prod"]);
  EXPECT_EQ(L"installer", keys[L"ptype"]);
  EXPECT_EQ(0u, keys.count(L"crash_guid"));
  EXPECT_EQ(0u, keys.count(L"ptime"));
  // The reporter's own values where the client sent none.
  EXPECT_EQ(14u, keys[L"BuildID"].size());
  EXPECT_EQ(L"browser-syms", keys[L"symbols-package"]);
  EXPECT_FALSE(keys[L"ver"].empty());
  FILETIME created, exited, kernel, user;
  ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user));
  const int64_t start_us = internal::FileTimeToUnixMicroseconds(created);
  EXPECT_EQ(base::Int64ToString16(start_us / 1000000), keys[L"StartupTime"]);
  EXPECT_EQ(base::Int64ToString16((start_us + 1500000) / 1000000), keys[L"CrashTime"]);
  for (const wchar_t* name : {L"InstallTime", L"mem_load", L"mem_physical_total",
                              L"mem_virtual_size", L"process_private_usage",
                              L"process_working_set_size"}) {
    uint64_t value = 0;
    EXPECT_TRUE(base::StringToUint64(base::WideToASCII(keys[name]), &value)) << name;
  }
}

TEST(CrashUploadTest, ServerUrlFromTheEnvironmentOrTheConfiguration) {
  {
    ScopedEnvironmentVariable url("VELUM_ALTERNATIVE_CRASH_SERVER_URL", "");
    EXPECT_EQ(L"http://localhost:8081/collector/submit", ReadCrashServerUrl());
  }
  ScopedEnvironmentVariable url("VELUM_ALTERNATIVE_CRASH_SERVER_URL", "http://127.0.0.1:9/x");
  EXPECT_EQ(L"http://127.0.0.1:9/x", ReadCrashServerUrl());
}

class CrashUploadFormTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    ASSERT_TRUE(collector_.Start()) << collector_.error();
  }
  void TearDown() override { EXPECT_TRUE(collector_.Stop()); }
  void UseServerPath(const std::string& path) {
    ScopedEnvironmentVariable url("VELUM_ALTERNATIVE_CRASH_SERVER_URL",
                                  collector_.Url(path).c_str());
    GetCrashServerUrl();
  }
  installer::testing::CrashCollector collector_;
};

TEST_F(CrashUploadFormTest, FieldsInNameOrderThenTheDump) {
  UseServerPath("/submit");
  const base::FilePath dump = Write(L"velum-crashlog-7-1.dmp", "MDMP-bytes");
  UploadKeys keys = {{L"ver", L"1.2"}, {L"BuildID", L"b"}, {L"prod", L"p\"q%"}};
  EXPECT_TRUE(UploadNow(keys, dump.value(), false, true));
  EXPECT_FALSE(base::PathExists(dump));  // deleted after the upload

  installer::testing::CollectedRequest request;
  ASSERT_TRUE(collector_.WaitForRequest(1, &request));
  EXPECT_EQ("/submit", request.path);
  EXPECT_EQ("", request.Header("Content-Encoding"));
  EXPECT_EQ(0u, request.Header("Content-Type").find("multipart/form-data; boundary="));
  ASSERT_EQ(4u, request.parts.size());
  EXPECT_EQ("BuildID", request.parts[0].name);
  EXPECT_EQ("p\"q%", request.parts[1].data);
  EXPECT_EQ("ver", request.parts[2].name);
  EXPECT_EQ("upload_file_minidump", request.parts[3].name);
  EXPECT_EQ("velum-crashlog-7-1.dmp", request.parts[3].file_name);
  EXPECT_EQ("application/octet-stream", request.parts[3].content_type);
  EXPECT_EQ("MDMP-bytes", request.parts[3].data);
}

// Most servers read a body by its Content-Length: the gzipped report must announce its
// exact length, not a chunked body's 0 (what Wine's WinHTTP sends for one).
TEST_F(CrashUploadFormTest, AServerReadingByLengthGetsTheWholeGzippedReport) {
  installer::testing::CrashCollector strict;
  ASSERT_TRUE(strict.Start(/*strict=*/true)) << strict.error();
  {
    ScopedEnvironmentVariable url("VELUM_ALTERNATIVE_CRASH_SERVER_URL",
                                  strict.Url("/submit").c_str());
    GetCrashServerUrl();
  }
  std::string dump_bytes = "MDMP";
  for (int i = 0; dump_bytes.size() < 100000; ++i) dump_bytes += std::to_string(i * 7919);
  const base::FilePath dump = Write(L"velum-crashlog-8-1.dmp", dump_bytes);
  EXPECT_TRUE(UploadNow(UploadKeys{{L"ptype", L"installer"}}, dump.value(), true, false));

  installer::testing::CollectedRequest request;
  ASSERT_TRUE(strict.WaitForRequest(1, &request));
  EXPECT_EQ("", request.error);
  EXPECT_EQ("", request.Header("Transfer-Encoding"));
  EXPECT_EQ(std::to_string(request.body.size()), request.Header("Content-Length"));
  EXPECT_EQ("gzip", request.Header("Content-Encoding"));
  ASSERT_EQ(2u, request.parts.size());
  EXPECT_EQ("installer", request.parts[0].data);
  EXPECT_EQ(dump_bytes, request.parts[1].data);
  EXPECT_TRUE(strict.Stop());
}

// The collector may not record a request whose answer the client never read.
TEST_F(CrashUploadFormTest, AFailedUploadDeletesTheDumpOnlyWhenAsked) {
  UseServerPath("/status/302");
  const struct {
    const wchar_t* name;
    bool delete_after;
  } cases[] = {{L"a.dmp", true}, {L"b.dmp", false}};
  for (const auto& c : cases) {
    const base::FilePath dump = Write(c.name, "dump");
    {
      UploadTask task(UploadKeys{{L"ptype", L"installer"}}, dump.value(), true, c.delete_after);
      EXPECT_FALSE(UploadMinidump(task));
    }
    EXPECT_EQ(!c.delete_after, base::PathExists(dump)) << c.name;
  }
}

}  // namespace
}  // namespace crash_reporter
