#include "desktop/windows/installer/steps/registry_steps.h"

#include <wchar.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

#define CLASS_KEY L"Software\\Classes\\{Product}{Stream}"
#define CLIENT_KEY L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}"
#define UNINSTALL_KEY L"{Uninstall}"
#define LAUNCHER L"{InstallFolder}\\Launcher.exe"
#define SZ_DATA(text) reinterpret_cast<uintptr_t>(text)

const int32_t kAnyOs = base::OS_VERSION_XP;
const int32_t kVista = base::OS_VERSION_VISTA;
const int32_t kStableChannel = 4;
const HKEY kAnyHive = nullptr;
const REGSAM kDefaultView = 0;
const REGSAM k32BitView = KEY_WOW64_32KEY;
const char kHideFromProgramsFeature[] = "installer-hide-from-program-and-features";
const wchar_t kClassesKey[] = L"Software\\Classes";
const wchar_t kClientsKey[] = L"Software\\Clients\\StartMenuInternet";

// A row of the open-with lists of the file types that the browser only offers itself for.
#define OPEN_WITH(extension)                                                                  \
  {L"Software\\Classes\\" extension L"\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, 0, \
   kAnyOs, kAnyHive, 0, 0, kDefaultView}
#define FILE_ASSOCIATION(extension)                                                       \
  {CLIENT_KEY L"\\Capabilities\\FileAssociations", extension, REG_SZ,                     \
   SZ_DATA(L"{Product}{Stream}"), kVista, kAnyHive, 0, 1, kDefaultView}
#define URL_ASSOCIATION(protocol)                                                          \
  {CLIENT_KEY L"\\Capabilities\\UrlAssociations", protocol, REG_SZ, SZ_DATA(L"{Product}{Stream}"), \
   kVista, kAnyHive, 0, 1, kDefaultView}
#define UNINSTALL_TEXT(name, text) \
  {UNINSTALL_KEY, name, REG_SZ, SZ_DATA(text), kAnyOs, kAnyHive, 0, 1, k32BitView}
#define UNINSTALL_NUMBER(name, number) \
  {UNINSTALL_KEY, name, REG_DWORD, number, kAnyOs, kAnyHive, 0, 1, k32BitView}

}  // namespace

const RegistryEntryDefinition kSetupRegistryEntries[] = {
    {CLASS_KEY, L"FriendlyTypeName", REG_SZ, SZ_DATA(L"{Product} Web Document"), kAnyOs, kAnyHive,
     0, 1, kDefaultView},
    {CLASS_KEY, L"URL Protocol", REG_SZ, SZ_DATA(L""), kAnyOs, kAnyHive, 0, 1, kDefaultView},
    {CLASS_KEY L"\\DefaultIcon", nullptr, REG_SZ, SZ_DATA(LAUNCHER L",0"), kAnyOs, kAnyHive, 0, 1,
     kDefaultView},
    {CLASS_KEY L"\\shell\\open\\command", nullptr, REG_SZ,
     SZ_DATA(L"\"" LAUNCHER L"\" -noautoupdate -- \"%1\""), kAnyOs, kAnyHive, 0, 2, kDefaultView},
    {CLASS_KEY L"\\shell\\open\\ddeexec", nullptr, kRegistryDeleteKey, 0, kAnyOs,
     HKEY_LOCAL_MACHINE, 0, 0, kDefaultView},
    {CLASS_KEY L"\\shell\\open\\ddeexec", nullptr, REG_SZ, SZ_DATA(L""), kAnyOs, HKEY_CURRENT_USER,
     0, 2, kDefaultView},
    {CLASS_KEY L"\\shell\\open\\ddeexec\\Application", nullptr, REG_SZ, SZ_DATA(L""), kAnyOs,
     HKEY_CURRENT_USER, 0, 1, kDefaultView},
    {CLASS_KEY L"\\shell\\open\\ddeexec\\Topic", nullptr, REG_SZ, SZ_DATA(L""), kAnyOs,
     HKEY_CURRENT_USER, 0, 1, kDefaultView},
    {L"Software\\Classes\\.vlx", nullptr, REG_SZ, SZ_DATA(L"{Product}{Stream}.Extension"), kAnyOs,
     kAnyHive, 0, 1, kDefaultView},
    {L"Software\\Classes\\.vlx\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, 0, kAnyOs,
     kAnyHive, 0, 1, kDefaultView},
    OPEN_WITH(L".vldownload"),
    OPEN_WITH(L".htm"),
    OPEN_WITH(L".html"),
    OPEN_WITH(L".pdf"),
    OPEN_WITH(L".shtml"),
    OPEN_WITH(L".xht"),
    OPEN_WITH(L".xhtml"),
    {L"Software\\Classes\\Applications\\{Executable}\\shell\\open\\command", nullptr, REG_SZ,
     SZ_DATA(L"\"" LAUNCHER L"\" \"%1\""), kAnyOs, kAnyHive, kStableChannel, 4, kDefaultView},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}", nullptr, REG_SZ,
     SZ_DATA(L"\"" LAUNCHER L"\""), kAnyOs, kAnyHive, kStableChannel, 0, kDefaultView},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}", L"Path", REG_SZ,
     SZ_DATA(L"\"{InstallFolder}\""), kAnyOs, kAnyHive, kStableChannel, 0, kDefaultView},
    {L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
     L"Assistant\\Persisted",
     LAUNCHER, REG_DWORD, 32, kVista, kAnyHive, 0, 0, kDefaultView},
    {L"Software\\RegisteredApplications", L"{Product} {Stream}", REG_SZ,
     SZ_DATA(CLIENT_KEY L"\\Capabilities"), kVista, kAnyHive, 0, 0, kDefaultView},
    {CLIENT_KEY, nullptr, REG_SZ, SZ_DATA(L"{Product} {Stream}"), kAnyOs, kAnyHive, 0, 1,
     kDefaultView},
    {CLIENT_KEY L"\\DefaultIcon", nullptr, REG_SZ, SZ_DATA(LAUNCHER L",0"), kAnyOs, kAnyHive, 0, 1,
     kDefaultView},
    {CLIENT_KEY L"\\InstallInfo", L"ShowIconsCommand", REG_SZ,
     SZ_DATA(L"\"" LAUNCHER L"\" --showicons"), kAnyOs, kAnyHive, 0, 1, kDefaultView},
    {CLIENT_KEY L"\\InstallInfo", L"HideIconsCommand", REG_SZ,
     SZ_DATA(L"\"" LAUNCHER L"\" --hideicons"), kAnyOs, kAnyHive, 0, 1, kDefaultView},
    {CLIENT_KEY L"\\InstallInfo", L"ReinstallCommand", REG_SZ,
     SZ_DATA(L"\"" LAUNCHER L"\" --makedefaultbrowser"), kAnyOs, kAnyHive, 0, 1, kDefaultView},
    {CLIENT_KEY L"\\InstallInfo", L"IconsVisible", REG_DWORD, 1, kAnyOs, kAnyHive, 0, 1,
     kDefaultView},
    {CLIENT_KEY L"\\shell\\open\\command", nullptr, REG_SZ, SZ_DATA(L"\"" LAUNCHER L"\""), kAnyOs,
     kAnyHive, 0, 2, kDefaultView},
    {CLIENT_KEY L"\\Capabilities", L"ApplicationDescription", REG_SZ,
     SZ_DATA(L"Do more on the web"), kVista, kAnyHive, 0, 1, kDefaultView},
    {CLIENT_KEY L"\\Capabilities", L"ApplicationIcon", REG_SZ, SZ_DATA(L"\"" LAUNCHER L"\",0"),
     kVista, kAnyHive, 0, 1, kDefaultView},
    {CLIENT_KEY L"\\Capabilities", L"ApplicationName", REG_SZ, SZ_DATA(L"{Product} {Stream}"),
     kVista, kAnyHive, 0, 1, kDefaultView},
    FILE_ASSOCIATION(L".vlpack"),
    FILE_ASSOCIATION(L".htm"),
    FILE_ASSOCIATION(L".html"),
    FILE_ASSOCIATION(L".vlext"),
    FILE_ASSOCIATION(L".vldownload"),
    FILE_ASSOCIATION(L".pdf"),
    FILE_ASSOCIATION(L".shtml"),
    FILE_ASSOCIATION(L".xht"),
    FILE_ASSOCIATION(L".xhtml"),
    {CLIENT_KEY L"\\Capabilities\\Startmenu", L"StartMenuInternet", REG_SZ,
     SZ_DATA(L"{Product}{Stream}"), kVista, kAnyHive, 0, 1, kDefaultView},
    URL_ASSOCIATION(L"http"),
    URL_ASSOCIATION(L"https"),
    URL_ASSOCIATION(L"ftp"),
    URL_ASSOCIATION(L"mailto"),
    UNINSTALL_TEXT(L"DisplayName", L"{Product} {Stream} {Version}"),
    UNINSTALL_TEXT(L"DisplayIcon", L"\"" LAUNCHER L"\",0"),
    UNINSTALL_TEXT(L"DisplayVersion", L"{Version}"),
    UNINSTALL_TEXT(L"HelpLink", L"{HelpURL}"),
    UNINSTALL_TEXT(L"InstallLocation", L"{InstallFolder}"),
    UNINSTALL_NUMBER(L"NoModify", 1),
    UNINSTALL_NUMBER(L"NoRepair", 1),
    UNINSTALL_TEXT(L"Publisher", L"{Company}"),
    UNINSTALL_TEXT(L"UninstallString", L"\"" LAUNCHER L"\" /uninstall"),
    UNINSTALL_TEXT(L"URLInfoAbout", L"{CompanyURL}"),
    UNINSTALL_TEXT(L"URLUpdateInfo", L"{DownloadsURL}"),
    UNINSTALL_NUMBER(L"SystemComponent", 1),
};

const size_t kSetupRegistryEntryCount =
    sizeof(kSetupRegistryEntries) / sizeof(kSetupRegistryEntries[0]);

namespace {

bool IsUninstallRow(const RegistryEntryDefinition& row) {
  return wcscmp(row.key_template, UNINSTALL_KEY) == 0;
}

std::string DescribeValue(const std::string& value_name, const std::string& key) {
  return (value_name.empty() ? "default value" : "value " + value_name) + " to key " + key;
}

// The key `levels` above `key_path`; empty when that would be the hive itself.
std::wstring GetKeyAbove(const std::wstring& key_path, int32_t levels) {
  std::wstring path = key_path;
  for (int32_t level = 0; level < levels; ++level) {
    const size_t separator = path.rfind(L'\\');
    if (separator == std::wstring::npos) return std::wstring();
    path.resize(separator);
  }
  return path;
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& base) {
  return base::StartsWith(path, base, base::INSENSITIVE_ASCII) &&
         (path.size() == base.size() || path[base.size()] == L'\\');
}

// A key below `container` whose own name begins with the product name.
bool IsProductKeyIn(const std::wstring& path, const std::wstring& container) {
  return IsAtOrBelow(path, container) && path.size() > container.size() &&
         base::StartsWith(path.substr(container.size() + 1),
                          base::UTF8ToWide(GetProductName()), base::INSENSITIVE_ASCII);
}

void ReplaceAll(std::wstring* text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text->find(from); at != std::wstring::npos;
       at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

// Runs of separators read as one: a folder given with a trailing separator named the
// compatibility flag "<folder>\\Launcher.exe".
std::wstring WithSingleSeparators(const std::wstring& text) {
  std::wstring result;
  for (wchar_t c : text) {
    if (c != L'\\' || result.empty() || result.back() != L'\\') result += c;
  }
  return result;
}

// Deletes the recorded values of `key_path` one by one: under a key of the product any
// of them, elsewhere only those of the table's rows.
void DeleteRecordedValues(HKEY hive, const std::wstring& key_path, REGSAM view,
                          const InstallLog::RegistryKey& key, const RecordNaming& naming,
                          PlaceholderResolver* resolver, Transaction* transaction) {
  const bool product_key = IsProductOwnedRegistryKey(key_path);
  for (const InstallLog::RegistryValue& value : key.values) {
    const std::wstring name = naming.Expand(base::UTF8ToWide(value.name));
    if (!product_key && !IsTableValue(key_path, name, naming, resolver)) {
      LOG(WARNING) << "Not deleting value " << base::WideToUTF8(name) << " of registry key "
                   << base::WideToUTF8(key_path) << ": not a value of the product";
      continue;
    }
    if (!transaction->Execute(std::make_unique<ChangeRegValueOperation>(
            hive, key_path, name, nullptr, ChangeRegValueOperation::kDeleteValue, 0, view))) {
      VLOG(1) << "Could not delete value " << value.name << " of " << key.path;
    }
  }
}

// Whether the uninstall entry `key` names `folder` as its "InstallLocation", or was left
// half-written by a run killed while it wrote the entry: it has neither that nor an
// "UninstallString", so nothing could uninstall through it and no folder claims it.
bool IsEntryOfFolder(const base::RegistryKey& key, const base::FilePath& folder) {
  std::wstring location;
  const LONG read = key.ReadValue(L"InstallLocation", &location);
  if (read == ERROR_FILE_NOT_FOUND) {
    std::wstring command;
    return key.ReadValue(L"UninstallString", &command) == ERROR_FILE_NOT_FOUND;
  }
  return read == ERROR_SUCCESS &&
         base::FilePath::CompareIgnoreCase(
             base::FilePath(location).StripTrailingSeparators().value(),
             folder.StripTrailingSeparators().value()) == 0;
}

// Keys that only the product's values fill: its own file type and the list of registered
// applications. Each goes once the uninstallation has left it empty (deepest first).
void DeleteKeysLeftEmpty(HKEY hive, Transaction* transaction) {
  const std::wstring classes = kClassesKey;
  for (const std::wstring& path : {classes + L"\\.vldownload\\OpenWithProgIDs",
                                   classes + L"\\.vldownload",
                                   std::wstring(L"Software\\RegisteredApplications")}) {
    base::RegistryKey key(hive, path.c_str(), KEY_READ);
    DWORD subkeys = 0;
    DWORD values = 0;
    if (!key.Valid() ||
        RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0)
      continue;
    key.Close();
    if (!transaction->Execute(std::make_unique<DeleteRegKeyOperation>(hive, path, 0)))
      VLOG(1) << "Could not delete the empty key " << base::WideToUTF8(path);
  }
}

}  // namespace

std::wstring GetUninstallKeyForSuffix(const std::wstring& version, const std::wstring& suffix) {
  return GetUninstallKeyPath() + L"\\" + base::UTF8ToWide(GetProductName()) + L" " + version +
         suffix;
}

bool IsProductOwnedRegistryKey(const std::wstring& key_path) {
  // An empty component would let "A\\\\B" pass as below "A".
  if (key_path.empty() || key_path.find(L"\\\\") != std::wstring::npos ||
      key_path.front() == L'\\' || key_path.back() == L'\\') {
    return false;
  }
  const std::wstring classes = kClassesKey;
  return IsAtOrBelow(key_path, GetCompanyRegistryKeyPath()) ||
         IsProductKeyIn(key_path, classes) ||
         IsAtOrBelow(key_path, classes + L"\\.vlx") ||
         IsAtOrBelow(key_path, classes + L"\\Applications\\" +
                                   base::UTF8ToWide(GetExecutableFileName())) ||
         IsProductKeyIn(key_path, kClientsKey) ||
         IsProductKeyIn(key_path, GetUninstallKeyPath());
}

std::wstring RecordNaming::Expand(std::wstring text) const {
  if (legacy) {
    ReplaceAll(&text, L"{SPProduct}", legacy_name.empty() ? legacy_name : legacy_name + L" ");
    ReplaceAll(&text, L"{Product}", legacy_name);
  }
  return text;
}

bool IsTableValue(const std::wstring& key_path, const std::wstring& value_name,
                  const RecordNaming& naming, PlaceholderResolver* resolver) {
  for (size_t index = 0; index < kSetupRegistryEntryCount; ++index) {
    const RegistryEntryDefinition& row = kSetupRegistryEntries[index];
    RegistryEntry entry(row, resolver);
    const std::wstring key = entry.ExpandTemplate(naming.Expand(row.key_template).c_str());
    const std::wstring name = entry.ExpandTemplate(
        naming.Expand(row.value_name_template ? row.value_name_template : L"").c_str());
    // The registry tells names apart without case, as the file system does.
    if (base::FilePath::CompareIgnoreCase(key, key_path) == 0 &&
        base::FilePath::CompareIgnoreCase(WithSingleSeparators(name),
                                          WithSingleSeparators(value_name)) == 0) {
      return true;
    }
  }
  return false;
}

SetupRegistryStep::SetupRegistryStep(InstallationContext* context, std::wstring* uninstall_key)
    : ContextStep(context), uninstall_key_(uninstall_key) {}

base::Result<std::wstring> SetupRegistryStep::ChooseUninstallKey(HKEY hive) {
  const std::wstring version = context_->GetPlaceholderResolver()->Resolve(L"Version");
  for (int suffix = 0; suffix < kMaxUninstallKeySuffix; ++suffix) {
    const std::wstring path =
        GetUninstallKeyForSuffix(version, suffix == 0 ? std::wstring() : std::to_wstring(suffix));
    base::RegistryKey key;
    const LONG result = key.Open(hive, path.c_str(), KEY_READ | KEY_WOW64_32KEY);
    if (result == ERROR_FILE_NOT_FOUND) return path;
    if (result == ERROR_SUCCESS && IsEntryOfFolder(key, context_->GetInstallFolder())) {
      // Left by a run that ended before its record was written (maybe half-written): a
      // second entry would outlive the uninstallation.
      LOG(INFO) << "Reusing the uninstall entry of this folder";
      return path;
    }
    // A key that cannot be checked may belong to another installation: never take it.
    if (result != ERROR_SUCCESS)
      LOG(WARNING) << "Could not check uninstall key " << base::WideToUTF8(path) << ": "
                   << result;
  }
  return base::Failure{0, 0, "No free uninstall key", {}};
}

StepResult SetupRegistryStep::Run(int32_t /*attempt*/) {
  Settings* settings = context_->GetSettings();
  if (settings->flag(Settings::COPY_ONLY)) return StepResult();
  LOG(INFO) << "Setting up the registry";
  const HKEY hive =
      settings->flag(Settings::ALL_USERS_FLAG) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const auto failed = [](const base::Failure& failure) {
    return FailedStep(StepResult::STATUS_FAIL, INSTALLER_ERROR_GENERAL, std::wstring(),
                      "Failed writing uninstallation information", failure);
  };
  const base::Result<std::wstring> chosen = ChooseUninstallKey(hive);
  if (!chosen.ok()) return failed(chosen.failure());
  *uninstall_key_ = chosen.value();
  VLOG(1) << "Uninstall key: " << base::WideToUTF8(*uninstall_key_);

  PlaceholderResolver* resolver = context_->GetPlaceholderResolver();
  const bool hidden_from_programs = base::IsFeatureEnabled(kHideFromProgramsFeature);
  context_->StartRegistryLogging();
  for (size_t index = 0; index < kSetupRegistryEntryCount; ++index) {
    const RegistryEntryDefinition& row = kSetupRegistryEntries[index];
    RegistryEntry entry(row, resolver);
    const std::string description =
        DescribeValue(base::WideToUTF8(entry.ExpandTemplate(row.value_name_template)),
                      base::WideToUTF8(entry.ExpandTemplate(row.key_template)));
    std::unique_ptr<TransactionOperation> operation;
    bool ok = true;
    if (index + 1 == kSetupRegistryEntryCount && !hidden_from_programs) {
      VLOG(2) << "Skipping inapplicable operation: " << description;
    } else if (!entry.Apply(hive, &operation)) {
      ok = false;
    } else if (!operation) {
      VLOG(2) << "Skipping inapplicable operation: " << description;
    } else {
      VLOG(1) << "Writing " << description;
      ok = context_->GetTransaction()->Execute(std::move(operation));
    }
    if (!ok && IsUninstallRow(row)) {
      context_->StopRegistryLogging();
      return failed(base::Failure{0, 0, "Could not write " + description, {}});
    }
  }
  context_->StopRegistryLogging();
  return StepResult();
}

CleanupRegistryStep::CleanupRegistryStep(InstallationContext* context,
                                         ExecutableArchitecture launcher_architecture)
    : ContextStep(context), launcher_architecture_(launcher_architecture) {}

StepResult CleanupRegistryStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Cleaning up registry";
  const Status& status = context_->GetSettings()->status();
  const InstallLog* record = status.record();
  if (!record) return StepResult();
  const RecordNaming naming = {record->source == SOURCE_LEGACY_LOG,
                               base::ASCIIToWide(Status::GetLegacyStreamName(status.legacy_stream()))};
  Transaction* transaction = context_->GetTransaction();
  const base::FilePath install_folder = context_->GetInstallFolder().StripTrailingSeparators();
  const struct {
    HKEY hive;
    const std::vector<InstallLog::RegistryKey>& keys;
  } hives[] = {{HKEY_CURRENT_USER, record->user_registry},
               {HKEY_LOCAL_MACHINE, record->machine_registry}};
  for (const auto& hive : hives) {
    for (const InstallLog::RegistryKey& key : hive.keys) {
      VLOG(1) << "Cleanup for key " << key.path << " with depth " << key.clean;
      const std::wstring path = naming.Expand(base::UTF8ToWide(key.path));
      const bool uninstall_key =
          base::StartsWith(path, GetUninstallKeyPath(), base::INSENSITIVE_ASCII);
      const REGSAM view = uninstall_key ? KEY_WOW64_32KEY : 0;
      if (uninstall_key && launcher_architecture_ == EXECUTABLE_OTHER_MACHINE &&
          IsProductOwnedRegistryKey(path)) {
        // A 64-bit predecessor wrote its entry to the other view; take it only when it
        // is this installation's.
        base::RegistryKey entry(hive.hive, path.c_str(), KEY_READ);
        std::wstring location;
        if (entry.Valid() && entry.ReadValue(L"InstallLocation", &location) == ERROR_SUCCESS &&
            base::FilePath::CompareIgnoreCase(
                base::FilePath(location).StripTrailingSeparators().value(),
                install_folder.value()) == 0 &&
            !transaction->Execute(
                std::make_unique<DeleteRegKeyOperation>(hive.hive, path, kDefaultView))) {
          VLOG(1) << "Could not delete " << key.path << " in the default view";
        }
      }
      if (key.clean > 0) {
        const std::wstring target = GetKeyAbove(path, key.clean - 1);
        if (!IsProductOwnedRegistryKey(target)) {
          LOG(WARNING) << "Not deleting registry key " << base::WideToUTF8(target) << " of "
                       << key.path << ": not a key of the product";
        } else if (!transaction->Execute(
                       std::make_unique<DeleteRegKeyOperation>(hive.hive, target, view))) {
          VLOG(1) << "Could not delete " << base::WideToUTF8(target);
        }
        continue;
      }
      DeleteRecordedValues(hive.hive, path, view, key, naming, context_->GetPlaceholderResolver(),
                           transaction);
    }
    DeleteKeysLeftEmpty(hive.hive, transaction);
  }
  return StepResult();
}

}  // namespace installer
