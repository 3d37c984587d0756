#include "desktop/windows/installer/service/path_spelling.h"

#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace {

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

std::wstring WithForwardSlashes(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\\') c = L'/';
  }
  return text;
}

// Every spelling of one existing folder names it one way; what does not exist, or is a
// pattern, stays as typed.
TEST(PathSpellingTest, EverySpellingOfAFolderIsSpeltAsItsParentListsIt) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  // The scratch folder as its own parents list it, which the cases spell differently.
  const std::wstring top = scratch.path().value();
  const std::wstring folder = top + L"\\Velum Browser Folder";
  ASSERT_TRUE(base::CreateDirectory(base::FilePath(folder).Append(L"Sub")));
  ASSERT_EQ(folder, SpellAsListed(base::FilePath(folder)).value());
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
      {"trailing separator", folder + L"\\", folder},
      {"two trailing separators", folder + L"\\\\", folder},
      {"other case", top + L"\\VELUM browser FOLDER", folder},
      {"other case of every component", Upper(folder), folder},
      {"lower-case drive letter", std::wstring(1, folder[0] | 0x20) + folder.substr(1), folder},
      {"forward slashes", WithForwardSlashes(folder) + L"/", folder},
      {"a doubled separator", top + L"\\\\Velum Browser Folder", folder},
      {"8.3 name", short_name, folder},
      {"below it", top + L"\\velum browser folder\\SUB\\", folder + L"\\Sub"},
      {"a missing tail stays typed", top + L"\\VELUM BROWSER FOLDER\\New\\SUB",
       folder + L"\\New\\SUB"},
      {"a pattern is not a name", top + L"\\Velum*", top + L"\\Velum*"},
      {"a trailing dot is another name", folder + L".", folder + L"."},
      {"so is its tail", folder + L".\\SUB", folder + L".\\SUB"},
      {"a link keeps its own name", top + L"\\LINK\\sub", top + L"\\Link\\Sub"},
  };
  for (const auto& c : cases) {
    if (c.spelling.empty() || (c.name == std::string("8.3 name") && short_name == folder)) {
      // Under Wine only a file system that keeps short names gives one.
      std::cout << "no " << c.name << " to try\n";
      continue;
    }
    if (c.name == std::string("a link keeps its own name") && !linked) {
      std::cout << "no link: " << error << "\n";
      continue;
    }
    EXPECT_EQ(c.expected, SpellAsListed(base::FilePath(c.spelling)).value())
        << c.name << ": " << base::WideToUTF8(c.spelling);
  }
  if (linked) {
    EXPECT_TRUE(base::RemoveDirectoryLink(base::FilePath(top + L"\\Link")));
  }
}

TEST(PathSpellingTest, WhatCannotBeListedLosesOnlyItsTrailingSeparators) {
  const struct {
    const wchar_t* spelling;
    const wchar_t* expected;
  } cases[] = {
      {L"\\\\server\\Share\\Velum\\", L"\\\\server\\Share\\Velum"},
      {L"relative/Velum/", L"relative\\Velum"},
      {L"C:\\", L"C:\\"},
      {L"c:/", L"C:\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, SpellAsListed(base::FilePath(c.spelling)).value())
        << base::WideToUTF8(c.spelling);
  }
}

}  // namespace
}  // namespace installer
