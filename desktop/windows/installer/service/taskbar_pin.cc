#include "desktop/windows/installer/service/taskbar_pin.h"

#include <windows.h>

#include <shellapi.h>
#include <stdint.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/install_folder_files.h"


namespace installer {

namespace {

// 182 days.
const int64_t kRepinIntervalMicroseconds = 15724800000000LL;
const wchar_t kHelperCopyName[] = L"explorer.exe";

[[nodiscard]] bool WriteStamp(const PinStampLocation& stamp) {
  base::RegistryKey key(HKEY_CURRENT_USER, stamp.company_key_path.c_str(),
                        KEY_READ | KEY_WRITE);
  if (!key.Valid()) return false;
  const std::wstring now = base::Int64ToString16(base::Time::Now().ToInternalValue());
  return key.WriteValue(GetPinStampValueName(stamp.stream_name).c_str(), now.c_str()) ==
         ERROR_SUCCESS;
}

// True when pinning is due; otherwise notes the time where there is no usable stamp.
bool IsRepinDue(const PinStampLocation& stamp) {
  base::RegistryKey key(HKEY_CURRENT_USER, stamp.company_key_path.c_str(),
                        KEY_READ | KEY_WRITE);
  if (!key.Valid()) return false;
  const std::wstring value_name = GetPinStampValueName(stamp.stream_name);
  const int64_t now = base::Time::Now().ToInternalValue();
  std::wstring text;
  int64_t last_check = 0;
  if (key.ReadValue(value_name.c_str(), &text) == ERROR_SUCCESS &&
      base::StringToInt64(text, &last_check) && last_check != 0 && last_check <= now) {
    // Not "now - last_check": a stamp far in the past would overflow it.
    return last_check <= now - kRepinIntervalMicroseconds;
  }
  // Without the stamp the next run pins again, which is harmless.
  static_cast<void>(key.WriteValue(value_name.c_str(), base::Int64ToString16(now).c_str()));
  return false;
}

bool CanCopy(const base::FilePath& path) {
  return !path.ReferencesParent() && path.value().size() < MAX_PATH;
}

}  // namespace

const wchar_t* GetPinHelperName(base::OsInfo::Architecture architecture) {
  return architecture == base::OsInfo::X64_ARCHITECTURE ? kInstallerHelper64FileName
                                                         : kInstallerHelper32FileName;
}

std::wstring GetPinStampValueName(const std::string& stream_name) {
  return base::ASCIIToWide(stream_name) + L" Last Band Check";
}

bool PinToTaskbar(const PinStampLocation& stamp, const base::FilePath& helper_folder,
                  const base::FilePath& shortcut, int mode) {
  const bool repin_mode = mode == PIN_AGAIN_AFTER_INTERVAL;
  if (repin_mode && !IsRepinDue(stamp)) return false;

  const base::OsVersion version = base::GetWindowsVersion();
  if (version >= base::OS_VERSION_WIN7 && version <= base::OS_VERSION_WIN8_1) {
    const HINSTANCE result = ShellExecuteW(nullptr, L"taskbarpin", shortcut.value().c_str(),
                                           nullptr, nullptr, SW_HIDE);
    if (reinterpret_cast<INT_PTR>(result) <= 32) return false;
  } else if (version >= base::OS_VERSION_WIN10) {
    if (!RunTaskbandHelper(helper_folder, shortcut)) return false;
  } else {
    return false;
  }

  // Pinned all the same; without the stamp the next run pins again.
  if (repin_mode && !WriteStamp(stamp)) LOG(WARNING) << "Cannot write the pin stamp";
  return true;
}

bool RunTaskbandHelper(const base::FilePath& helper_folder, const base::FilePath& shortcut) {
  base::FilePath temp_folder;
  if (!base::PathRegistry::Get(base::DIR_TEMP, &temp_folder)) {
    LOG(ERROR) << "Could not copy the new helper";
    return false;
  }
  const base::FilePath copy = temp_folder.Append(kHelperCopyName);
  if (!base::DeleteFile(copy, false)) {
    LOG(ERROR) << "Could not delete the previous helper";
    return false;
  }
  const base::FilePath helper =
      helper_folder.Append(GetPinHelperName(base::OsInfo::Instance()->architecture()));
  // CopyFile leaves the copy writable, so the next run can delete it.
  if (!CanCopy(helper) || !CanCopy(copy) || !base::CopyFile(helper, copy)) {
    LOG(ERROR) << "Could not copy the new helper";
    return false;
  }

  base::CommandLine command(copy);
  command.AppendArg(base::WideToUTF8(shortcut.value()));
  bool pinned = false;
  base::Process process = base::LaunchProcess(command, base::LaunchOptions());
  int32_t exit_code = 0;
  if (!process.IsValid()) {
    LOG(ERROR) << "Could not launch the helper process";
  } else if (!process.WaitForExit(&exit_code)) {
    LOG(ERROR) << "Could not wait for helper";
  } else if (exit_code != 0) {
    LOG(ERROR) << "The helper returned status " << exit_code;
  } else {
    pinned = true;
  }
  // Also after a failed run: no copy is left behind once it has ended.
  if (!process.IsValid() || WaitForSingleObject(process.Handle(), 0) == WAIT_OBJECT_0)
    base::DeleteFileBestEffort(copy, false);
  return pinned;
}

}  // namespace installer
