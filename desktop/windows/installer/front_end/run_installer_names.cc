#include "desktop/windows/installer/front_end/run_installer_names.h"

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"
#include "desktop/windows/installer/installer_temp_folder.h"

namespace installer {

namespace {

const std::string& CachedProductName() {
  static const std::string* name = new std::string(GetBuildProductName());
  return *name;
}

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::string FormatWithProductName(const char* format, bool lower_case) {
  const std::string& name = CachedProductName();
  return base::StringPrintf(format, (lower_case ? base::ToLowerASCII(name) : name).c_str());
}

std::wstring GetInstallerFolderName() {
  return base::UTF8ToWide(FormatWithProductName("%s Installer", false));
}

std::wstring GetInstallerLogFileName(const SYSTEMTIME& local_time) {
  return base::UTF8ToWide(FormatWithProductName("%s_installer", true) +
                          base::StringPrintf("_%02d%02d%02d%02d%02d%02d%03d.log", local_time.wYear,
                                             local_time.wMonth, local_time.wDay, local_time.wHour,
                                             local_time.wMinute, local_time.wSecond,
                                             local_time.wMilliseconds));
}

base::FilePath InitInstallerLogging() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const base::FilePath name(GetInstallerLogFileName(now));
  base::FilePath folder;
  // No program test: the log may go wherever a file can be made.
  if (!ObtainInstallerTempFolderUnder(base::FilePath(GetInstallerFolderName()), base::FilePath(),
                                      &folder, base::DIR_TEMP)) {
    return name;
  }
  return folder.Append(name.value());
}

base::FilePath InitElevatedInstallerLogging(AdminOnlyFolder* folder) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  if (!folder->Create()) return base::FilePath();
  return folder->path().Append(GetInstallerLogFileName(now));
}

base::FilePath RecoverInstallFolderFromCommandLine(const base::CommandLine& command_line) {
  const base::CommandLine::StringVector& argv = command_line.argv();
  if (argv.empty()) return base::FilePath();
  const std::wstring& last = argv.back();
  const wchar_t letter = last.empty() ? 0 : static_cast<wchar_t>(last[0] | 0x20);
  const bool drive = last.size() >= 3 && letter >= L'a' && letter <= L'z' && last[1] == L':' &&
                     IsPathSeparator(last[2]);
  const bool unc = last.size() >= 2 && IsPathSeparator(last[0]) && IsPathSeparator(last[1]);
  return drive || unc ? base::FilePath(last) : base::FilePath();
}

}  // namespace installer
