#include "crash/reporter/crash_key_map.h"

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace crash_reporter {
namespace {

CustomInfoEntry Entry(const std::wstring& name, const std::wstring& value) {
  CustomInfoEntry entry;
  memset(&entry, 0, sizeof(entry));
  wcsncpy(entry.name, name.c_str(), 63);
  wcsncpy(entry.value, value.c_str(), 63);
  return entry;
}

std::wstring Dump(const CrashKeyMap& map) {
  std::wstring text;
  for (const auto& pair : map) text += pair.first + L"=" + pair.second + L";";
  return text;
}

struct KeyMapCase {
  const char* proves;
  std::vector<CustomInfoEntry> entries;
  std::wstring expected;
};

TEST(BuildCrashKeyMapTest, Cases) {
  const KeyMapCase cases[] = {
      {"chunks are joined in index order", {Entry(L"URL-2", L"b"), Entry(L"URL-1", L"a")},
       L"URL=ab;"},
      {"chunk indexes order numerically", {Entry(L"k-10", L"z"), Entry(L"k-9", L"y")},
       L"k=yz;"},
      {"a plain key beats later chunks", {Entry(L"URL", L"p"), Entry(L"URL-1", L"a")},
       L"URL=p;"},
      {"chunks beat a later plain key", {Entry(L"URL-1", L"a"), Entry(L"URL", L"p")},
       L"URL=a;"},
      {"the first value wins", {Entry(L"ptype", L"one"), Entry(L"ptype", L"two")},
       L"ptype=one;"},
      {"reserved and malformed names are skipped",
       {Entry(L"unspecified-crash-key", L"x"), Entry(L"has blank", L"x"),
        Entry(L"a/b", L"x"), Entry(L"", L"x"), Entry(L"caf\u00e9", L"x"),
        Entry(L"ok.name_1-x", L"v")},
       L"ok.name_1-x=v;"},
      {"a dash without digits is a plain name", {Entry(L"ab-", L"1"), Entry(L"a-b1", L"2")},
       L"a-b1=2;ab-=1;"},
      {"an overflowing index is a plain name", {Entry(L"k-99999999999", L"v")},
       L"k-99999999999=v;"},
      {"empty values are kept", {Entry(L"Email", L"")}, L"Email=;"},
  };
  for (const KeyMapCase& c : cases) {
    EXPECT_EQ(c.expected, Dump(BuildCrashKeyMap(c.entries.data(), c.entries.size())))
        << c.proves;
  }
}

TEST(BuildCrashKeyMapTest, UnterminatedTextIsRefused) {
  CustomInfoEntry full_value = Entry(L"key", L"");
  for (wchar_t& c : full_value.value) c = L'v';
  CustomInfoEntry full_name = Entry(L"", L"value");
  for (wchar_t& c : full_name.name) c = L'n';
  const CustomInfoEntry longest = Entry(std::wstring(63, L'n'), std::wstring(63, L'v'));
  const CustomInfoEntry entries[] = {full_value, full_name, longest};
  const CrashKeyMap map = BuildCrashKeyMap(entries, 3);
  EXPECT_EQ(1u, map.size());
  EXPECT_EQ(std::wstring(63, L'v'), map.Get(std::wstring(63, L'n')));
  EXPECT_EQ(L"", map.Get(L"key"));
}

}  // namespace
}  // namespace crash_reporter
