#include "desktop/windows/installer/service/path_spelling.h"

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace {

// Every spelling of one existing folder names it one way; what does not exist, cannot be
// listed or is a pattern stays as typed, but for its separators.
TEST(PathSpellingTest, EverySpellingOfAFolderIsSpeltAsItsParentListsIt) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::wstring top = scratch.path().value();
  const std::wstring folder = top + L"\\Velum Browser Folder";
  ASSERT_TRUE(base::CreateDirectory(base::FilePath(folder).Append(L"Sub")));
  std::wstring upper = folder, slashes = folder + L"\\";
  CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  std::wstring short_name(MAX_PATH, L'\0');
  short_name.resize(GetShortPathNameW(folder.c_str(), &short_name[0], MAX_PATH));
  std::string error;
  const bool linked = base::MakeDirectoryLink(base::FilePath(top + L"\\Link"),
                                              base::FilePath(folder), &error);
  const struct {
    const char* name;
    std::wstring spelling;
    std::wstring expected;
  } cases[] = {
      {"as listed", folder, folder},
      {"trailing separator", folder + L"\\", folder},
      {"other case", upper, folder},
      {"lower-case drive letter", std::wstring(1, folder[0] | 0x20) + folder.substr(1), folder},
      {"forward slashes", slashes, folder},
      {"a doubled separator", top + L"\\\\velum browser folder", folder},
      {"8.3 name", short_name, folder},
      {"below it", top + L"\\velum browser folder\\SUB\\", folder + L"\\Sub"},
      {"a missing tail stays typed", upper + L"\\New\\SUB", folder + L"\\New\\SUB"},
      {"a pattern is not a name", top + L"\\Velum*", top + L"\\Velum*"},
      {"a trailing dot is another name", folder + L".", folder + L"."},
      {"so is its tail", folder + L".\\SUB", folder + L".\\SUB"},
      {"a link keeps its own name", top + L"\\LINK\\sub", top + L"\\Link\\Sub"},
      {"a drive's root keeps its separator", L"c:/", L"C:\\"},
      {"a share is not listed", L"\\\\server\\Share\\Velum\\", L"\\\\server\\Share\\Velum"},
      {"nor is a relative path", L"relative/Velum/", L"relative\\Velum"},
  };
  for (const auto& c : cases) {
    // Only a file system that keeps short names gives one; a link may not be made.
    if ((c.spelling == short_name && short_name == folder) ||
        (c.spelling.find(L"\\LINK\\") != std::wstring::npos && !linked)) {
      std::cout << "skipped " << c.name << " " << error << "\n";
      continue;
    }
    EXPECT_EQ(c.expected, SpellAsListed(base::FilePath(c.spelling)).value())
        << c.name << ": " << base::WideToUTF8(c.spelling);
  }
  if (linked) {
    EXPECT_TRUE(base::RemoveDirectoryLink(base::FilePath(top + L"\\Link")));
  }
}

}  // namespace
}  // namespace installer
