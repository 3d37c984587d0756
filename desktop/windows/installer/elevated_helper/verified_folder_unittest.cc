#include "desktop/windows/installer/elevated_helper/verified_folder.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

namespace installer {
namespace {

class VerifiedFolderTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    folder_ = Path(L"component");
    ASSERT_TRUE(base::CreateDirectory(folder_.Append(L"lib")));
  }

  // Puts the test file `data` ("signing/...") into the folder as `name`.
  void Place(const char* data, const wchar_t* name) {
    ASSERT_TRUE(base::CopyFile(testing::TestDataPath(data), folder_.Append(name)));
  }
  void PlaceText(const wchar_t* name, const std::string& text) {
    ASSERT_EQ(static_cast<int>(text.size()),
              base::WriteFile(folder_.Append(name), text.data(), static_cast<int>(text.size())));
  }

  // The folder checked by the rule of a signed build.
  base::Result<> Check(std::vector<HeldProgram>* held) {
    return HoldVerifiedProgramFiles(folder_, SignatureRule::kRequired, held);
  }

  base::FilePath folder_;
};

TEST_F(VerifiedFolderTest, WhatIsAProgramIsDecidedByContentFromTheStart) {
  Place("signing/unsigned.exe", L"image.dat");
  PlaceText(L"header_only.bin", "MZ");
  PlaceText(L"text.dll", "not a program");
  PlaceText(L"one_byte.exe", "M");
  PlaceText(L"empty.exe", "");
  struct Case {
    const wchar_t* name;
    bool program;
  };
  for (const Case& c : {Case{L"image.dat", true}, Case{L"header_only.bin", true},
                        Case{L"text.dll", false}, Case{L"one_byte.exe", false},
                        Case{L"empty.exe", false}}) {
    const base::FilePath path = folder_.Append(c.name);
    base::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    // Read from its start wherever the handle stands.
    ASSERT_NE(INVALID_SET_FILE_POINTER, SetFilePointer(file.Get(), 0, nullptr, FILE_END));
    const base::Result<bool> program = IsProgramImage(file.Get(), path);
    ASSERT_TRUE(program.ok());
    EXPECT_EQ(c.program, program.value()) << path.AsUTF8();
  }
}

// Every program file beside the installer, also deep inside and whatever its name, must
// pass the rule; data files are carried unchecked; what passed stays held.
TEST_F(VerifiedFolderTest, EveryProgramFilePassesAndStaysHeldOrTheFolderFails) {
  Place("signing/signed.exe", L"suite_installer.exe");
  Place("signing/signed.exe", L"lib\\helper.dll");
  PlaceText(L"lib\\data.pak", "data");
  {
    std::vector<HeldProgram> held;
    const base::Result<> result = Check(&held);
    ASSERT_TRUE(result.ok()) << base::DescribeFailure(result.failure());
    EXPECT_EQ(2u, held.size());
    EXPECT_TRUE(IsHeldProgram(held, base::FilePath(L"SUITE_installer.exe")));
    EXPECT_TRUE(IsHeldProgram(held, base::FilePath(L"lib\\helper.dll")));
    EXPECT_FALSE(IsHeldProgram(held, base::FilePath(L"lib\\data.pak")));
    const std::wstring dll = folder_.Append(L"lib\\helper.dll").value();
    base::ScopedHandle writer(CreateFileW(dll.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.IsValid()) << "held against writes";
    EXPECT_FALSE(MoveFileW(dll.c_str(), (dll + L".old").c_str())) << "held against renames";
  }

  struct Case {
    const char* data;
    const wchar_t* name;
  };
  const Case refused[] = {
      {"signing/unsigned.exe", L"lib\\evil.dll"},    // unsigned, beside a signed installer
      {"signing/unsigned.exe", L"lib\\readme.txt"},  // a program by content, not by name
      {"signing/other.exe", L"other.dll"},           // another signer
      {"signing/tampered.exe", L"tampered.dll"},
  };
  for (const Case& c : refused) {
    Place(c.data, c.name);
    std::vector<HeldProgram> held;
    const base::Result<> result = Check(&held);
    ASSERT_FALSE(result.ok()) << base::WideToUTF8(c.name);
    EXPECT_EQ(base::FilePath(c.name).BaseName(), result.failure().path.BaseName());
    EXPECT_TRUE(held.empty());
    ASSERT_TRUE(base::DeleteFile(folder_.Append(c.name), false));
  }
  // An image header alone cannot be verified.
  PlaceText(L"header.bin", "MZ and nothing a loader would take");
  std::vector<HeldProgram> held;
  EXPECT_FALSE(Check(&held).ok());
}

TEST_F(VerifiedFolderTest, ALinkOrAMissingFolderFails) {
  std::vector<HeldProgram> held;
  std::string error;
  ASSERT_TRUE(base::CreateDirectory(Path(L"elsewhere")));
  ASSERT_TRUE(base::MakeDirectoryLink(folder_.Append(L"linked"), Path(L"elsewhere"), &error))
      << error;
  EXPECT_FALSE(Check(&held).ok());
  EXPECT_TRUE(base::RemoveDirectoryLink(folder_.Append(L"linked")));
  EXPECT_TRUE(Check(&held).ok());
  folder_ = Path(L"missing");
  EXPECT_FALSE(Check(&held).ok());
}

TEST(VerifiedFolderNameTest, OnlyPlainNamesAreEntries) {
  for (const wchar_t* name : {L"suite", L"assistant", L"velum_suite-2.1", L"a b", L".hidden"})
    EXPECT_TRUE(IsPlainEntryName(name)) << name;
  for (const wchar_t* name :
       {L"", L".", L"..", L"..\\x", L"a/b", L"C:x", L"a*", L"a?", L"a\"b", L"a<b", L"a|b",
        L"trailing.", L"trailing ", L"tab\tname", L"NUL", L"nul.txt", L"Com1", L"lpt9.dll",
        L"CON .x", L"conout$"})
    EXPECT_FALSE(IsPlainEntryName(name)) << name;
  EXPECT_TRUE(IsPlainEntryName(L"COM10"));
  EXPECT_TRUE(IsPlainEntryName(L"console"));
  EXPECT_FALSE(IsPlainEntryName(std::wstring(256, L'a')));
}

}  // namespace
}  // namespace installer
