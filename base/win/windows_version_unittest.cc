#include "base/win/windows_version.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/test/test_helper_process.h"

namespace base {
namespace {

TEST(OsVersionFromNumbersTest, MapsEveryRowOfTheTable) {
  const struct {
    uint32_t major, minor, build;
    OsVersion version;
  } cases[] = {
      {4, 90, 0, OS_VERSION_PRE_XP},        {5, 0, 2195, OS_VERSION_PRE_XP},
      {5, 1, 2600, OS_VERSION_XP},          {5, 2, 3790, OS_VERSION_SERVER_2003},
      {5, 3, 0, OS_VERSION_SERVER_2003},    {6, 0, 6002, OS_VERSION_VISTA},
      {6, 1, 7601, OS_VERSION_WIN7},        {6, 2, 9200, OS_VERSION_WIN8},
      {6, 3, 9600, OS_VERSION_WIN8_1},      {6, 4, 9841, OS_VERSION_WIN8_1},
      {10, 0, 10240, OS_VERSION_WIN10},     {10, 0, 10585, OS_VERSION_WIN10},
      {10, 0, 10586, OS_VERSION_WIN10_1511}, {10, 0, 14392, OS_VERSION_WIN10_1511},
      {10, 0, 14393, OS_VERSION_WIN10_1607}, {10, 0, 22631, OS_VERSION_WIN10_1607},
      {7, 0, 0, OS_VERSION_WIN_LAST},       {9, 0, 0, OS_VERSION_WIN_LAST},
      {11, 0, 0, OS_VERSION_WIN_LAST},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.version, OsVersionFromNumbers(c.major, c.minor, c.build))
        << c.major << "." << c.minor << "." << c.build;
  }
}

TEST(OsVersionTypeFromTest, ClassifiesEditions) {
  const OsInfo::Architecture x64 = OsInfo::X64_ARCHITECTURE;
  const OsInfo::Architecture x86 = OsInfo::X86_ARCHITECTURE;
  const struct {
    uint32_t major, minor;
    DWORD product_info;
    BYTE product_type;
    WORD suite_mask;
    OsInfo::Architecture architecture;
    OsInfo::VersionType type;
  } cases[] = {
      {10, 0, 48, 1, 0, x64, OsInfo::SUITE_PROFESSIONAL},  // Pro
      {6, 1, 4, 1, 0, x64, OsInfo::SUITE_PROFESSIONAL},    // Enterprise
      {6, 1, 1, 1, 0, x86, OsInfo::SUITE_PROFESSIONAL},    // Ultimate
      {10, 0, 101, 1, 0, x64, OsInfo::SUITE_HOME},         // Core
      {10, 0, 7, 3, 0, x64, OsInfo::SUITE_SERVER},         // Standard server
      {6, 3, 25, 3, 0, x64, OsInfo::SUITE_SERVER},
      {6, 0, 0, 1, 0, x64, OsInfo::SUITE_HOME},            // GetProductInfo missing
      {5, 2, 0, VER_NT_WORKSTATION, 0, x64, OsInfo::SUITE_PROFESSIONAL},  // XP x64
      {5, 2, 0, VER_NT_SERVER, 0, x64, OsInfo::SUITE_SERVER},
      {5, 2, 0, VER_NT_WORKSTATION, 0, x86, OsInfo::SUITE_SERVER},
      {5, 2, 0, VER_NT_SERVER, 0x8000, x86, OsInfo::SUITE_HOME},  // Home Server
      {5, 1, 0, VER_NT_WORKSTATION, 0, x86, OsInfo::SUITE_PROFESSIONAL},
      {5, 1, 0, VER_NT_WORKSTATION, VER_SUITE_PERSONAL, x86, OsInfo::SUITE_HOME},
      {5, 0, 0, VER_NT_WORKSTATION, 0, x86, OsInfo::SUITE_HOME},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.type, OsVersionTypeFrom(c.major, c.minor, c.product_info, c.product_type,
                                        c.suite_mask, c.architecture))
        << c.major << "." << c.minor << " product " << c.product_info;
  }
}

// The Wine prefix of the tests reports Windows 10 to programs with a supportedOS manifest.
TEST(OsInfoTest, ReportsThePrefixVersionAndMachine) {
  const OsInfo* info = OsInfo::Instance();
  OSVERSIONINFOEXW expected = {};
  expected.dwOSVersionInfoSize = sizeof(expected);
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&expected)));
  EXPECT_EQ(expected.dwMajorVersion, info->version_number().major);
  EXPECT_EQ(expected.dwMinorVersion, info->version_number().minor);
  EXPECT_EQ(expected.dwBuildNumber, info->version_number().build);
  EXPECT_EQ(OsVersionFromNumbers(expected.dwMajorVersion, expected.dwMinorVersion,
                                 expected.dwBuildNumber),
            info->version());
  EXPECT_EQ(info->version(), GetWindowsVersion());
  EXPECT_GE(info->version(), OS_VERSION_WIN7);

  EXPECT_EQ(OsInfo::X64_ARCHITECTURE, info->architecture());
  EXPECT_EQ(OsInfo::WOW64_DISABLED, info->wow64_status());  // a 64-bit process
  EXPECT_GE(info->processors(), 1);
  EXPECT_EQ(65536u, info->allocation_granularity());
  EXPECT_EQ(ReadUpdateBuildRevision(), info->version_number().patch);

  std::vector<const OsInfo*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = OsInfo::Instance(); });
  for (std::thread& thread : threads) thread.join();
  for (const OsInfo* seen_info : seen) EXPECT_EQ(info, seen_info) << "one record for all threads";
}

// Wine reports the version chosen per program under its AppDefaults key; the helper
// exits with the index it sees.
TEST(OsInfoTest, IndexOfEachWindowsVersionUnderWine) {
  if (!RunningUnderWine()) GTEST_SKIP() << "needs Wine's per-program version setting";
  const wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\windows_version_test_helper.exe";
  const struct {
    const wchar_t* wine_version;
    int index;
  } cases[] = {
      {L"vista", OS_VERSION_VISTA}, {L"win7", OS_VERSION_WIN7},
      {L"win8", OS_VERSION_WIN8},   {L"win81", OS_VERSION_WIN8_1},
      {L"win10", OS_VERSION_WIN10_1607},  // Wine's Windows 10 is build 18362
  };
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, &key, nullptr));
  for (const auto& c : cases) {
    const DWORD size = static_cast<DWORD>((wcslen(c.wine_version) + 1) * sizeof(wchar_t));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Version", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(c.wine_version),
                                            size));
    EXPECT_EQ(c.index, RunTestHelper(L"windows_version_test_helper.exe", L""))
        << c.wine_version;
  }
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

TEST(FourByteRegistryNumberTest, AcceptsOnlyFourByteDwordOrBinary) {
  const wchar_t kKey[] = L"Software\\VelumTest\\WindowsVersionUnittest";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  const DWORD number = 0x01020304;
  const uint8_t eight[8] = {4, 3, 2, 1, 0, 0, 0, 0};
  const struct {
    const wchar_t* name;
    DWORD type;
    const void* data;
    DWORD size;
    uint32_t value;
  } cases[] = {
      {L"dword", REG_DWORD, &number, 4, 0x01020304},
      {L"binary", REG_BINARY, &number, 4, 0x01020304},
      {L"short", REG_BINARY, eight, 3, 0},
      {L"long", REG_BINARY, eight, 8, 0},
      {L"qword", REG_QWORD, eight, 8, 0},
      {L"text", REG_SZ, L"123", 8, 0},
      {L"big-endian", REG_DWORD_BIG_ENDIAN, &number, 4, 0},
      {L"missing", REG_NONE, nullptr, 0, 0},
  };
  for (const auto& c : cases) {
    if (c.data) {
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, c.name, 0, c.type,
                                              static_cast<const BYTE*>(c.data), c.size));
    }
    EXPECT_EQ(c.value, ReadFourByteRegistryNumber(HKEY_CURRENT_USER, kKey, c.name)) << c.name;
  }
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
  EXPECT_EQ(0u, ReadFourByteRegistryNumber(HKEY_CURRENT_USER, L"Software\\VelumTest\\None",
                                           L"dword"));
}

}  // namespace
}  // namespace base
