#include "desktop/windows/installer/service/file_name_checks.h"

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_path.h"

namespace installer {
namespace {

using P = NameProblem;

TEST(FileNameChecksTest, RelativePathsStayBelowTheirFolder) {
  const struct {
    std::wstring path;
    NameProblem problem;
  } cases[] = {
      {L"a.exe", P::kNone},           {L"res\\loc/en.pak", P::kNone},
      {L"COM10", P::kNone},           {L"console.exe", P::kNone},
      {L"", P::kOutside},             {L"..", P::kOutside},
      {L".\\x.exe", P::kOutside},     {L"a\\..\\..\\x.exe", P::kOutside},
      {L"C:\\x.exe", P::kOutside},    {L"C:x.exe", P::kOutside},
      {L"/x.exe", P::kOutside},       {L"\\\\server\\share\\x", P::kOutside},
      {L"a\\\\b", P::kOutside},       {L"a\\", P::kOutside},
      {L"x.exe::$DATA", P::kOutside}, {L"nul", P::kDevice},
      {L"COM1.txt", P::kDevice},      {L"com0", P::kDevice},
      {L"con .exe", P::kDevice},      {L"aux.", P::kDevice},
      {L"CONOUT$", P::kDevice},       {L"com\u00b9", P::kDevice},
      {L"sub\\lpt\u00b2.txt", P::kDevice}, {L"COM\u00b3 .log", P::kDevice},
      {std::wstring(L"nul\0txt", 7), P::kCharacter},
      {std::wstring(L"a.exe\0.txt", 10), P::kCharacter},
      {L"a\x1f" L"b", P::kCharacter},  {L"*.exe", P::kCharacter},
      {L"a|b", P::kCharacter},        {L"installer.exe.", P::kCharacter},
      {L"installer.exe ", P::kCharacter},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(base::FilePath(c.path).AsUTF8());
    EXPECT_EQ(c.problem, CheckRelativePath(c.path));
    EXPECT_EQ(c.problem == P::kNone && c.path.find_first_of(L"\\/") == std::wstring::npos,
              IsBareFileName(c.path));
  }
}

}  // namespace
}  // namespace installer
