#include "desktop/windows/installer/service/executable_architecture.h"

#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/test_helper_process.h"

namespace installer {
namespace {

// A minimal image: the DOS header with the offset of the PE header, then the header.
std::string Image(int32_t header_offset, uint16_t machine, size_t size) {
  std::string bytes(size, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  memcpy(&bytes[0x3C], &header_offset, sizeof(header_offset));
  if (header_offset >= 0 && static_cast<size_t>(header_offset) + 6 <= size) {
    memcpy(&bytes[header_offset], "PE\0\0", 4);
    memcpy(&bytes[header_offset + 4], &machine, sizeof(machine));
  }
  return bytes;
}

TEST(ExecutableArchitectureTest, ExecutableArchitecture) {
  base::ScratchDir scratch;
  const struct {
    const wchar_t* name;
    std::string contents;
    ExecutableArchitecture expected;
  } cases[] = {
      {L"x86.exe", Image(0x80, 0x14C, 0x100), EXECUTABLE_X86},
      {L"x64.exe", Image(0x80, 0x8664, 0x100), EXECUTABLE_OTHER_MACHINE},
      {L"arm.exe", Image(0x40, 0xAA64, 0x46), EXECUTABLE_OTHER_MACHINE},
      {L"text.txt", "just text, long enough to hold the offset field somewhere in it.....",
       EXECUTABLE_NOT_AN_IMAGE},
      {L"empty.exe", "", EXECUTABLE_NOT_AN_IMAGE},
      {L"short.exe", "MZ", EXECUTABLE_NOT_AN_IMAGE},
      {L"outside.exe", Image(0xFC, 0x14C, 0x100), EXECUTABLE_NOT_AN_IMAGE},
      {L"negative.exe", Image(-4, 0x14C, 0x100), EXECUTABLE_NOT_AN_IMAGE},
  };
  for (const auto& c : cases) {
    const base::FilePath path = scratch.path().Append(c.name);
    ASSERT_TRUE(base::WriteTextFile(path, c.contents));
    EXPECT_EQ(c.expected, GetExecutableArchitecture(path)) << c.name;
  }
  EXPECT_EQ(EXECUTABLE_NOT_AN_IMAGE, GetExecutableArchitecture(scratch.path().Append(L"none")));
  EXPECT_EQ(EXECUTABLE_OTHER_MACHINE,
            GetExecutableArchitecture(base::FilePath(base::TestExeSibling(
                L"desktop_windows_installer_service_unittests.exe"))));
}

}  // namespace
}  // namespace installer
