// The default-browser and association work of InstallationInfoImpl.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/service/association_interfaces.h"
#include "desktop/windows/installer/service/association_placeholder_resolver.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/registry_entry.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

namespace {

#define SZ(text) REG_SZ, reinterpret_cast<uintptr_t>(text)

const HKEY kAnyRoot = nullptr;

const wchar_t kClassKey[] = L"Software\\Classes\\{Product}{Stream}";
const wchar_t kClassIconKey[] = L"Software\\Classes\\{Product}{Stream}\\DefaultIcon";
const wchar_t kClassCommandKey[] =
    L"Software\\Classes\\{Product}{Stream}\\shell\\open\\command";
const wchar_t kClassDdeKey[] = L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec";
const wchar_t kClassDdeApplicationKey[] =
    L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec\\Application";
const wchar_t kClassDdeTopicKey[] =
    L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec\\Topic";
const wchar_t kIcon[] = L"{InstallFolder}\\Launcher.exe,0";
// Only the class table spells the launcher with a capital L.
const wchar_t kClassCommand[] = L"\"{InstallFolder}\\Launcher.exe\" -noautoupdate -- \"%1\"";
const wchar_t kLauncherCommand[] =
    L"\"{InstallFolder}\\launcher.exe\" -noautoupdate -- \"%1\"";

const RegistryEntryDefinition kClassTable[] = {
    {kClassKey, L"FriendlyTypeName", SZ(L"{Product} Web Document"), 1, kAnyRoot, 0, 1, 0},
    {kClassKey, L"URL Protocol", SZ(L""), 1, kAnyRoot, 0, 1, 0},
    {kClassIconKey, nullptr, SZ(kIcon), 1, kAnyRoot, 0, 1, 0},
    {kClassCommandKey, nullptr, SZ(kClassCommand), 1, kAnyRoot, 0, 2, 0},
    {kClassDdeKey, nullptr, kRegistryDeleteKey, 0, 1, HKEY_LOCAL_MACHINE, 0, 0, 0},
    {kClassDdeKey, nullptr, SZ(L""), 1, HKEY_CURRENT_USER, 0, 2, 0},
    {kClassDdeApplicationKey, nullptr, SZ(L""), 1, HKEY_CURRENT_USER, 0, 1, 0},
    {kClassDdeTopicKey, nullptr, SZ(L""), 1, HKEY_CURRENT_USER, 0, 1, 0},
};

const wchar_t kProtocolKey[] = L"Software\\Classes\\{Protocol}";
const wchar_t kProtocolIconKey[] = L"Software\\Classes\\{Protocol}\\DefaultIcon";
const wchar_t kProtocolCommandKey[] = L"Software\\Classes\\{Protocol}\\shell\\open\\command";
const wchar_t kProtocolDdeKey[] = L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec";
const wchar_t kProtocolDdeApplicationKey[] =
    L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec\\Application";
const wchar_t kProtocolDdeTopicKey[] =
    L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec\\Topic";

const RegistryEntryDefinition kProtocolTable[] = {
    {kProtocolKey, L"EditFlags", REG_DWORD, 2, 1, kAnyRoot, 0, 0, 0},
    {kProtocolKey, L"URL Protocol", SZ(L""), 1, kAnyRoot, 0, 0, 0},
    {kProtocolIconKey, nullptr, SZ(kIcon), 1, kAnyRoot, 0, 0, 0},
    {kProtocolCommandKey, nullptr, SZ(kLauncherCommand), 1, kAnyRoot, 0, 0, 0},
    {kProtocolDdeKey, nullptr, kRegistryDeleteKey, 0, 1, HKEY_LOCAL_MACHINE, 0, 0, 0},
    {kProtocolDdeKey, nullptr, SZ(L""), 1, HKEY_CURRENT_USER, 0, 0, 0},
    {kProtocolDdeApplicationKey, nullptr, SZ(L""), 1, HKEY_CURRENT_USER, 0, 0, 0},
    {kProtocolDdeTopicKey, nullptr, SZ(L""), 1, HKEY_CURRENT_USER, 0, 0, 0},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\{Protocol}"
     L"\\UserChoice",
     L"Progid", kRegistryDeleteValue, 0, 3, HKEY_CURRENT_USER, 0, 0, 0},
};

const RegistryEntryDefinition kExtensionTable[] = {
    {L"Software\\Classes\\{Extension}", nullptr, SZ(L"{Product}{Stream}"), 1, kAnyRoot, 0, 0,
     0},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\{Extension}"
     L"\\UserChoice",
     L"Progid", kRegistryDeleteValue, 0, 3, HKEY_CURRENT_USER, 0, 0, 0},
};

const RegistryEntryDefinition kStartMenuEntry = {
    L"Software\\Clients\\StartMenuInternet", nullptr, SZ(L"{Product}{Stream}"), 1, kAnyRoot,
    0, 0, 0};

#undef SZ

const wchar_t kStartMenuInternet[] = L"StartmenuInternet";
const wchar_t kPreviousDefaultBrowser[] = L"Previous Default Browser";
const wchar_t kControlPanelAppId[] =
    L"windows.immersivecontrolpanel_cw5n1h2txyewy!microsoft.windows.immersivecontrolpanel";
const wchar_t kDefaultAppsPage[] = L"page=SettingsPageAppsDefaults";

// Set after "http" on systems that let the installer choose them silently.
const wchar_t* const kFurtherHandlers[] = {
    L"https", L"ftp", L".vlpack", L".htm", L".html", L".vlext",
    L".vldownload", L".shtml", L".xht", L".xhtml",
};

bool IsExtension(const std::wstring& name) { return !name.empty() && name[0] == L'.'; }

// The parts of making the browser the default do not decide the answer (whether it is the
// default afterwards does); one that did not take is worth a line all the same.
void LogUnlessSet(bool set, const std::wstring& name) {
  if (!set) VLOG(1) << "Could not make the browser the default for " << base::WideToUTF8(name);
}

HKEY RootFor(bool machine_wide) {
  return machine_wide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The default value of `root`\`key_path`.
[[nodiscard]] bool ReadDefaultValue(HKEY root, const std::wstring& key_path, std::wstring* value) {
  base::RegistryKey key;
  return key.Open(root, key_path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS &&
         key.ReadValue(nullptr, value) == ERROR_SUCCESS;
}

Microsoft::WRL::ComPtr<IApplicationAssociationRegistration> CreateAssociationRegistration(
    const ComObjectFactory& factory) {
  Microsoft::WRL::ComPtr<IApplicationAssociationRegistration> registration;
  if (FAILED(factory(kClsidApplicationAssociationRegistration, CLSCTX_INPROC_SERVER,
                     __uuidof(IApplicationAssociationRegistration),
                     reinterpret_cast<void**>(registration.GetAddressOf())))) {
    registration.Reset();
  }
  return registration;
}

}  // namespace

std::wstring GetDefaultAppsSettingsTarget(const std::wstring& protocol) {
  if (base::LowerCaseEqualsASCII(protocol, "http"))
    return base::StringPrintf(L"SystemSettings_DefaultApps_%ls", L"Browser");
  if (base::LowerCaseEqualsASCII(protocol, "mailto"))
    return base::StringPrintf(L"SystemSettings_DefaultApps_%ls", L"Email");
  return L"SettingsPageAppsDefaultsProtocolView";
}

AssociationSystem AssociationSystem::Current() {
  AssociationSystem system;
  system.os_version = base::OsInfo::Instance()->version();
  system.create_com_object = CreateSystemComObject;
  system.open_with_dialog = [](const std::wstring& name) {
    OPENASINFO info = {};
    info.pcszFile = name.c_str();
    info.oaifInFlags = OAIF_REGISTER_EXT | OAIF_FORCE_REGISTRATION | OAIF_URL_PROTOCOL;
    return SHOpenWithDialog(nullptr, &info);
  };
  return system;
}

std::wstring InstallationInfoImpl::GetClassName() const {
  return base::UTF8ToWide(GetBuildProductName() + GetChannelName());
}

bool InstallationInfoImpl::ApplyRegistryTable(const RegistryEntryDefinition* rows,
                                              size_t count,
                                              const std::wstring& association_name,
                                              bool machine_wide) {
  AssociationPlaceholderResolver resolver(association_name, install_folder_.value());
  Transaction transaction;
  for (size_t i = 0; i < count; ++i) {
    std::unique_ptr<TransactionOperation> operation;
    if (!RegistryEntry(rows[i], &resolver).Apply(RootFor(machine_wide), &operation) ||
        (operation && !transaction.Execute(std::move(operation)))) {
      transaction.Rollback();
      return false;
    }
  }
  return true;
}

bool InstallationInfoImpl::GetHandlerCommand(const std::wstring& name, bool machine_wide,
                                             std::wstring* command) {
  const bool extension = IsExtension(name);
  std::wstring class_name;
  if (system_.os_version >= base::OS_VERSION_VISTA && !machine_wide) {
    const std::wstring choice_path =
        std::wstring(L"Software\\Microsoft\\Windows\\") +
        (extension ? L"CurrentVersion\\Explorer\\FileExts\\"
                   : L"Shell\\Associations\\UrlAssociations\\") +
        name + L"\\UserChoice";
    base::RegistryKey choice;
    LONG result = choice.Open(HKEY_CURRENT_USER, choice_path.c_str(), KEY_QUERY_VALUE);
    if (result == ERROR_SUCCESS) result = choice.ReadValue(L"ProgId", &class_name);
    if (result != ERROR_SUCCESS) {
      class_name.clear();
      if (result != ERROR_FILE_NOT_FOUND && result != ERROR_PATH_NOT_FOUND) return false;
    }
  }
  if (class_name.empty()) {
    if (!extension) {
      class_name = name;
    } else if (machine_wide
                   ? !ReadDefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\" + name,
                                       &class_name)
                   : !ReadDefaultValue(HKEY_CLASSES_ROOT, name, &class_name)) {
      return false;
    }
  }
  const std::wstring command_path = class_name + L"\\shell\\open\\command";
  return machine_wide
             ? ReadDefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\" + command_path,
                                command)
             : ReadDefaultValue(HKEY_CLASSES_ROOT, command_path, command);
}

bool InstallationInfoImpl::IsDefaultHandler(const std::wstring& name,
                                            bool use_product_executable) {
  std::wstring command;
  if (!GetHandlerCommand(name, false, &command)) return false;
  std::wstring expected =
      install_folder_
          .Append(use_product_executable ? base::UTF8ToWide(GetExecutableFileName())
                                         : std::wstring(kLauncherFileName))
          .value();
  for (wchar_t& c : command) c = towlower(c);
  for (wchar_t& c : expected) c = towlower(c);
  return command.find(expected) != std::wstring::npos;
}

bool InstallationInfoImpl::IsDefaultBrowser() {
  if (!IsDefaultHandler(L"http", false) || !IsDefaultHandler(L"https", false)) return false;
  return system_.os_version >= base::OS_VERSION_WIN8 || IsDefaultStartMenuInternet();
}

bool InstallationInfoImpl::IsDefaultStartMenuInternet() {
  LoadInstallLog();
  if (system_.os_version >= base::OS_VERSION_VISTA && install_log_->all_users) {
    Microsoft::WRL::ComPtr<IApplicationAssociationRegistration> registration =
        CreateAssociationRegistration(system_.create_com_object);
    if (!registration) return false;
    BOOL is_default = FALSE;
    return SUCCEEDED(registration->QueryAppIsDefault(
               kStartMenuInternet, AT_STARTMENUCLIENT, AL_EFFECTIVE,
               registered_application_name_.c_str(), &is_default)) &&
           is_default;
  }
  std::wstring client;
  if (!ReadDefaultValue(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", &client) &&
      !ReadDefaultValue(HKEY_LOCAL_MACHINE, L"Software\\Clients\\StartMenuInternet", &client)) {
    return false;
  }
  return client == GetClassName();
}

bool InstallationInfoImpl::SavePreviousDefaultBrowser(const std::wstring& command,
                                                      bool machine_wide) {
  base::RegistryKey key;
  return key.Create(RootFor(machine_wide), GetCompanyRegistryKeyPath().c_str(),
                    KEY_SET_VALUE) == ERROR_SUCCESS &&
         key.WriteValue(kPreviousDefaultBrowser, command.c_str()) == ERROR_SUCCESS;
}

bool InstallationInfoImpl::GetPreviousDefaultBrowser(std::wstring* command) {
  const std::wstring company_key = GetCompanyRegistryKeyPath();
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    base::RegistryKey key;
    if (key.Open(root, company_key.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS &&
        key.ReadValue(kPreviousDefaultBrowser, command) == ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

bool InstallationInfoImpl::RememberPreviousDefaultBrowser(bool machine_wide) {
  if (IsDefaultHandler(L"http", false)) return true;
  std::wstring command;
  if (!GetHandlerCommand(L"http", machine_wide, &command)) return false;
  return SavePreviousDefaultBrowser(command, machine_wide);
}

bool InstallationInfoImpl::RegisterClasses(bool machine_wide) {
  return ApplyRegistryTable(kClassTable, sizeof(kClassTable) / sizeof(kClassTable[0]),
                            std::wstring(), machine_wide);
}

bool InstallationInfoImpl::SetAsDefaultHandler(const std::wstring& name, bool machine_wide) {
  LoadInstallLog();
  const int os = system_.os_version;
  const bool extension = IsExtension(name);
  if (os < base::OS_VERSION_WIN10) {
    bool omit_last_row = os < base::OS_VERSION_VISTA;
    if (os == base::OS_VERSION_WIN8 || os == base::OS_VERSION_WIN8_1) {
      if (machine_wide) return false;
      omit_last_row = true;
      if (!IsDefaultHandler(name, false)) {
        if (FAILED(system_.open_with_dialog(name))) return false;
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
      }
    } else if (!machine_wide && install_log_->all_users &&
               (os == base::OS_VERSION_VISTA || os == base::OS_VERSION_WIN7)) {
      // The per-user choice of an all-users installation goes through the system.
      Microsoft::WRL::ComPtr<IApplicationAssociationRegistration> registration =
          CreateAssociationRegistration(system_.create_com_object);
      if (!registration ||
          FAILED(registration->SetAppAsDefault(registered_application_name_.c_str(),
                                               name.c_str(),
                                               extension ? AT_FILEEXTENSION : AT_URLPROTOCOL))) {
        return false;
      }
      omit_last_row = true;
    }
    const RegistryEntryDefinition* table = extension ? kExtensionTable : kProtocolTable;
    size_t count = extension ? sizeof(kExtensionTable) / sizeof(kExtensionTable[0])
                             : sizeof(kProtocolTable) / sizeof(kProtocolTable[0]);
    if (omit_last_row) --count;
    return ApplyRegistryTable(table, count, name, machine_wide);
  }

  if (machine_wide || IsDefaultHandler(name, false)) return false;
  if (SetDefaultThroughAssociationRegistration(registered_application_name_, name,
                                               !extension, system_.create_com_object)) {
    return true;
  }
  // Without a silent way, the user picks the browser on the settings page.
  Microsoft::WRL::ComPtr<IApplicationActivationManagerWin8> manager;
  if (FAILED(system_.create_com_object(kClsidApplicationActivationManager, CLSCTX_SERVER,
                                       __uuidof(IApplicationActivationManagerWin8),
                                       reinterpret_cast<void**>(manager.GetAddressOf()))) ||
      !manager) {
    return false;
  }
  CoAllowSetForegroundWindow(manager.Get(), nullptr);
  DWORD process_id = 0;
  const HRESULT result =
      manager->ActivateApplication(kControlPanelAppId, kDefaultAppsPage, 0, &process_id);
  if (SUCCEEDED(result)) {
    const std::wstring arguments =
        base::StringPrintf(L"%ls&target=%ls", kDefaultAppsPage,
                           GetDefaultAppsSettingsTarget(name).c_str());
    manager->ActivateApplication(kControlPanelAppId, arguments.c_str(), 0, &process_id);
  }
  return SUCCEEDED(result);
}

bool InstallationInfoImpl::SetAsDefaultHandlerWherePossible(const std::wstring& name) {
  return SetAsDefaultHandler(name, system_.os_version < base::OS_VERSION_WIN8);
}

bool InstallationInfoImpl::SetAsDefaultStartMenuInternet(bool machine_wide) {
  const int os = system_.os_version;
  if (os >= base::OS_VERSION_WIN8 && machine_wide) return false;
  LoadInstallLog();
  if (!machine_wide && install_log_->all_users &&
      (os == base::OS_VERSION_VISTA || os == base::OS_VERSION_WIN7)) {
    Microsoft::WRL::ComPtr<IApplicationAssociationRegistration> registration =
        CreateAssociationRegistration(system_.create_com_object);
    if (!registration ||
        FAILED(registration->SetAppAsDefault(registered_application_name_.c_str(),
                                             kStartMenuInternet, AT_STARTMENUCLIENT))) {
      return false;
    }
  }
  return ApplyRegistryTable(&kStartMenuEntry, 1, std::wstring(), machine_wide);
}

bool InstallationInfoImpl::SetAsDefaultBrowser(bool machine_wide) {
  if (IsSingleProfile()) return false;
  if (!RegisterClasses(machine_wide)) return IsDefaultBrowser();
  LogUnlessSet(SetAsDefaultHandler(L"http", machine_wide), L"http");
  const int os = system_.os_version;
  if (os == base::OS_VERSION_WIN8 || os == base::OS_VERSION_WIN8_1 ||
      (os >= base::OS_VERSION_WIN10 && !HasAssociationRegistration(system_.create_com_object))) {
    return IsDefaultBrowser();
  }
  for (const wchar_t* name : kFurtherHandlers)
    LogUnlessSet(SetAsDefaultHandler(name, machine_wide), name);
  LogUnlessSet(SetAsDefaultStartMenuInternet(machine_wide), kStartMenuInternet);
  return IsDefaultBrowser();
}

}  // namespace installer
