#include "desktop/windows/installer/steps/component_steps.h"

#include <windows.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/names/switches.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/verification/authenticode.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

const wchar_t kInstallerSuffix[] = L"_installer.exe";

const wchar_t* FlagValue(const Settings* settings, int flag) {
  return settings->flag(flag) ? L"1" : L"0";
}

// An uninstaller held open, and its final path: what is started.
struct HeldUninstaller {
  base::ScopedHandle hold;
  base::FilePath final_path;
};

// The record names the uninstaller, and a user can write the record: only a program
// that lies, once held, inside the install folder (links resolved) and that passes the
// signature rule of what an elevated installer starts (which logs its own refusal).
base::Result<HeldUninstaller> HoldComponentUninstaller(const base::FilePath& program,
                                                       const base::FilePath& install_folder) {
  base::ScopedHandle folder(CreateFileW(install_folder.value().c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
  const DWORD folder_error = folder.IsValid() ? 0 : GetLastError();
  HeldUninstaller held;
  const base::Result<base::FilePath> program_path =
      HoldVerifiedProgramAtFinalPath(program, &held.hold);
  if (!program_path.ok()) return base::Failure{0, 0, "it may not run elevated", program};
  const base::Result<base::FilePath> folder_path =
      folder.IsValid() ? base::GetFinalPathOfHandle(folder.Get())
                       : base::Failure{folder_error, 0, "the install folder cannot be opened", {}};
  if (!folder_path.ok() || !IsSameOrUnder(program_path.value(), folder_path.value()) ||
      IsSameOrUnder(folder_path.value(), program_path.value())) {
    LOG(ERROR) << "Not running " << program.AsUTF8() << ": it is not inside the install folder";
    if (!folder_path.ok()) LOG(ERROR) << base::DescribeFailure(folder_path.failure());
    return base::Failure{0, 0, "it is not inside the install folder", program};
  }
  held.final_path = program_path.value();
  return held;
}

}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> SplitComponentList(const std::wstring& list) {
  std::vector<std::pair<std::wstring, std::wstring>> components;
  for (const std::wstring& entry :
       base::SplitString(list, L'|', base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    std::vector<std::wstring> parts =
        base::SplitString(entry, L':', base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
    if (parts.size() == 2) components.emplace_back(parts[0], parts[1]);
  }
  return components;
}

base::FilePath GetComponentInstallerPath(const base::FilePath& folder, const std::wstring& name) {
  base::FilePath path = folder.Append(name + kInstallerSuffix);
  if (name == L"suite" && !base::PathExists(path)) {
    base::FilePath assistant = folder.Append(std::wstring(L"assistant") + kInstallerSuffix);
    LOG(INFO) << "Rewriting component installer name from " << path.AsUTF8();
    LOG(INFO) << "to: " << assistant.AsUTF8();
    return assistant;
  }
  return path;
}

StepResult InstallComponentsStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Installing Components";
  Settings* settings = context_->GetSettings();
  InstallLog* record = context_->GetInstallLog();
  const InstallLog* existing = settings->status().record();
  // Components installed earlier stay recorded.
  if (settings->operation() == Settings::OPERATION_UPGRADE && existing)
    record->components = existing->components;
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (!command_line->HasSwitch(switches::kComponents)) return StepResult();
  const std::wstring list = command_line->GetSwitchValueNative(switches::kComponents);
  LOG(INFO) << "Components present : " << base::WideToUTF8(list);
  for (const std::wstring& entry :
       base::SplitString(list, L'|', base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY))
    InstallComponent(entry);
  return StepResult();
}

void InstallComponentsStep::InstallComponent(const std::wstring& entry) {
  LOG(INFO) << "Processing component " << base::WideToUTF8(entry);
  std::vector<std::pair<std::wstring, std::wstring>> parsed = SplitComponentList(entry);
  if (parsed.empty()) return;
  const std::wstring& name = parsed[0].first;
  const base::FilePath folder = context_->GetPackageFolder().DirName().Append(parsed[0].second);
  const base::FilePath installer = GetComponentInstallerPath(folder, name);
  if (!base::PathExists(installer)) {
    LOG(ERROR) << "Component installer does not exist " << installer.AsUTF8();
    return;
  }
  // Every installer must carry the expected signer's signature: one whose signature
  // was stripped must not run unchecked.
  const base::Result<> verified = context_->GetSystem().verify_signature(installer);
  if (!verified.ok()) {
    LOG(ERROR) << verified.failure().text;
    bool has_signature = false;
    if (!HasSignatureDirectory(installer, &has_signature)) has_signature = false;
    LOG(ERROR) << "Signature error for component installer ";
    LOG(ERROR) << installer.AsUTF8() << " signed = " << has_signature;
    LOG(ERROR) << installer.AsUTF8() << " signed = " << false;
    return;
  }
  Settings* settings = context_->GetSettings();
  const base::FilePath component_folder = context_->GetInstallFolder().Append(name);
  base::CommandLine command(installer);
  command.AppendSwitchPath(switches::kInstallFolder, component_folder);
  command.AppendSwitchNative(switches::kCopyOnly, FlagValue(settings, Settings::COPY_ONLY));
  command.AppendSwitchNative(switches::kAllUsers, FlagValue(settings, Settings::ALL_USERS_FLAG));
  LOG(INFO) << "Running component installer";
  base::Process process = base::LaunchProcess(command, base::LaunchOptions());
  int32_t exit_code = -1;
  if (!process.IsValid() || !process.WaitForExit(&exit_code)) {
    LOG(ERROR) << "Component installer could not be run " << installer.AsUTF8();
    return;
  }
  LOG(INFO) << "Component installer returned " << exit_code;
  if (exit_code != 0) return;
  InstallLog* record = context_->GetInstallLog();
  const std::string narrow_name = base::WideToUTF8(name);
  for (const InstallLog::Component& component : record->components) {
    if (component.name == narrow_name) return;
  }
  record->components.emplace_back(narrow_name, component_folder.value());
}

StepResult UninstallComponentsStep::Run(int32_t /*attempt*/) {
  Settings* settings = context_->GetSettings();
  const InstallLog* existing = settings->status().record();
  if (!existing) return StepResult();
  for (const InstallLog::Component& component : existing->components) {
    const base::FilePath program = GetComponentInstallerPath(base::FilePath(component.path),
                                                             base::UTF8ToWide(component.name));
    // Held until the uninstaller has started; both refusals are logged already.
    const base::Result<HeldUninstaller> held =
        HoldComponentUninstaller(program, context_->GetInstallFolder());
    if (!held.ok()) continue;
    // The file checked, not whatever the record's name leads to by now.
    base::CommandLine command(held.value().final_path);
    command.AppendSwitch(switches::kUninstall);
    command.AppendSwitchNative(switches::kCopyOnly, FlagValue(settings, Settings::COPY_ONLY));
    command.AppendSwitchNative(switches::kAllUsers, FlagValue(settings, Settings::ALL_USERS_FLAG));
    base::Process process = base::LaunchProcess(command, base::LaunchOptions());
    if (!process.IsValid())
      LOG(WARNING) << "Could not start the uninstaller of component " << component.name;
  }
  return StepResult();
}

}  // namespace installer
