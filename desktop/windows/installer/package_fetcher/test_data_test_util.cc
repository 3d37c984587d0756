#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"

namespace installer {
namespace testing {

namespace {

base::FilePath FromHostPath(std::string text) {
  // The build hands a host path; Wine shows the host root as drive Z:.
  if (!text.empty() && text[0] == '/') text = "Z:" + text;
  for (char& c : text)
    if (c == '/') c = '\\';
  return base::FilePath::FromUTF8(text);
}

}  // namespace

base::FilePath TestDataDir() {
  const char* dir = std::getenv("VELUM_TESTDATA");
  return FromHostPath(dir ? dir : "testdata");
}

base::FilePath TestDataPath(const char* relative) {
  const char* dir = std::getenv("VELUM_TESTDATA");
  return FromHostPath(std::string(dir ? dir : "testdata") + "/" + relative);
}

std::string ReadAll(const base::FilePath& path) {
  std::string data;
  EXPECT_TRUE(base::ReadFileToString(path, &data)) << path.AsUTF8();
  return data;
}

base::Process StartTakeDriver(const base::FilePath& driver, const std::wstring& events,
                              const base::FilePath& package, const base::FilePath& destination,
                              const base::FilePath& result, const std::wstring& components) {
  base::CommandLine command_line(driver);
  command_line.AppendSwitchNative("ready", events + L"-ready");
  command_line.AppendSwitchNative("go", events + L"-go");
  command_line.AppendSwitchPath("package", package);
  command_line.AppendSwitchPath("destination", destination);
  command_line.AppendSwitchPath("result", result);
  if (!components.empty()) command_line.AppendSwitchNative("components", components);
  return base::LaunchProcess(command_line, base::LaunchOptions());
}

}  // namespace testing
}  // namespace installer
