#include "desktop/windows/installer/service/utils.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include "base/base_paths_win.h"
#include "base/channel_info.h"
#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/win/pe_image.h"
#include "base/win/scoped_generic.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;

typedef HRESULT(WINAPI* SHGetKnownFolderPathFunction)(REFKNOWNFOLDERID, DWORD, HANDLE,
                                                      PWSTR*);

// {591209C7-767B-42B2-9FBA-44EE4615F2C7}
const CLSID kApplicationAssociationRegistration = {
    0x591209C7, 0x767B, 0x42B2, {0x9F, 0xBA, 0x44, 0xEE, 0x46, 0x15, 0xF2, 0xC7}};
// {4E530B0A-E611-4C77-A3AC-9031D022281B}
const IID kIApplicationAssociationRegistration = {
    0x4E530B0A, 0xE611, 0x4C77, {0xA3, 0xAC, 0x90, 0x31, 0xD0, 0x22, 0x28, 0x1B}};
// The internal interfaces of the Windows 10 releases, newest layout last.
const wchar_t* const kInternalInterfaceIds[] = {
    L"{5E35B9FB-FB98-4565-8E0D-B7468DA31B81}", L"{14ebcc88-2831-4fc8-a5df-9f36a81db12c}",
    L"{1C5C9D10-1225-4C97-8C51-98E1B6F0D4E0}", L"{229D59E2-F94A-402E-9A9F-3B84A1ACED77}",
    L"{C7225171-B9A7-4CF7-861F-85AB7BA3C5B2}",
};

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool IsForbiddenInComponent(wchar_t c) {
  return (c >= 1 && c <= 31) || wcschr(L"?\"<>*|:", c) != nullptr;
}

bool IsDeviceName(const std::wstring& stem) {
  static const char* const kDevices[] = {"CON",  "AUX",  "COM1", "COM2", "COM3", "COM4",
                                         "LPT1", "LPT2", "LPT3", "PRN",  "NUL"};
  for (const char* device : kDevices) {
    if (stem.size() == strlen(device) &&
        base::StartsWith(stem, std::wstring(device, device + stem.size()),
                         base::INSENSITIVE_ASCII)) {
      return true;
    }
  }
  return false;
}

// Why |component| cannot name a file or folder; null when it can.
const char* GetInvalidComponentReason(const std::wstring& component) {
  for (wchar_t c : component) {
    if (IsForbiddenInComponent(c)) return "illegal character";
  }
  if (component.front() == L' ') return "leading blank";
  if (component.back() == L' ' || component.back() == L'.') return "trailing dot or blank";
  const std::wstring stem = component.substr(0, component.find(L'.'));
  if ((stem.size() == 3 || stem.size() == 4) && IsDeviceName(stem)) return "device name";
  return nullptr;
}

// The run of non-separator characters at |position|; |position| moves past it.
std::wstring TakeComponent(const std::wstring& path, size_t* position) {
  const size_t start = *position;
  while (*position < path.size() && !IsSeparator(path[*position])) ++*position;
  return path.substr(start, *position - start);
}

// Each byte becomes one UTF-16 unit, as the configuration's narrow names are widened.
std::wstring WidenBytes(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

bool IsSameFile(const base::FilePath& candidate, const base::FilePath& target,
                const BY_HANDLE_FILE_INFORMATION* target_information) {
  if (base::FilePath::CompareIgnoreCase(candidate.value(), target.value()) == 0) return true;
  if (!target_information) return false;
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformation(candidate, &information) &&
         information.dwVolumeSerialNumber == target_information->dwVolumeSerialNumber &&
         information.nFileIndexHigh == target_information->nFileIndexHigh &&
         information.nFileIndexLow == target_information->nFileIndexLow;
}

}  // namespace

std::wstring GetKernelObjectName(const std::wstring& name, const std::wstring& base,
                                 bool global) {
  std::wstring text = base + L"/" + name;
  for (wchar_t& c : text) {
    if (c == L'\\') c = L'/';
  }
  return (global ? L"Global\\" : L"Local\\") + text;
}

bool GetKnownFolderPath(REFKNOWNFOLDERID folder_id, int fallback_csidl, base::FilePath* path,
                        bool create) {
  // Looked up at each call: systems before Vista lack it.
  HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
  const SHGetKnownFolderPathFunction get_known_folder_path =
      shell32 ? reinterpret_cast<SHGetKnownFolderPathFunction>(
                    reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetKnownFolderPath")))
              : nullptr;
  if (get_known_folder_path) {
    base::ScopedCoTaskMem<wchar_t> text;
    HRESULT result = get_known_folder_path(folder_id, 0, nullptr, text.Receive());
    if (FAILED(result) && create) {
      result = get_known_folder_path(folder_id, KF_FLAG_CREATE | KF_FLAG_INIT, nullptr,
                                     text.Receive());
    }
    if (FAILED(result) || !text.IsValid()) return false;
    *path = base::FilePath(text.Get());
    return true;
  }

  wchar_t buffer[MAX_PATH] = {};
  HRESULT result = SHGetFolderPathW(nullptr, fallback_csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(result) && result != E_INVALIDARG && create) {
    result = SHGetFolderPathW(nullptr, fallback_csidl | CSIDL_FLAG_CREATE | CSIDL_FLAG_DONT_UNEXPAND,
                              nullptr, SHGFP_TYPE_CURRENT, buffer);
  }
  if (FAILED(result)) return false;
  *path = base::FilePath(buffer);
  return true;
}

bool IsValidPath(const std::wstring& path, bool is_folder) {
  return GetInvalidPathReason(path, is_folder) == nullptr;
}

const char* GetInvalidPathReason(const std::wstring& path, bool is_folder) {
  if (path.empty()) return "empty";
  if (path.size() >= (is_folder ? 248u : 260u)) return "too long";

  size_t position = 0;
  if (path.size() >= 2 && path[0] != L'\0' && path[1] == L':') {
    position = 2;
    if (position == path.size()) return nullptr;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // "\\server\share\" at least.
    position = 2;
    for (int part = 0; part < 2; ++part) {
      if (TakeComponent(path, &position).empty()) return "no server and share";
      if (position == path.size()) return "no server and share";
      ++position;  // the separator after it
    }
    position = 2;
  }

  while (position < path.size()) {
    if (IsSeparator(path[position])) {
      ++position;
      continue;
    }
    if (const char* reason = GetInvalidComponentReason(TakeComponent(path, &position)))
      return reason;
  }
  return nullptr;
}

std::wstring GetBatchSafePath(const std::wstring& path) {
  auto is_ascii = [](const std::wstring& text) {
    for (wchar_t c : text) {
      if (c > 0x7F) return false;
    }
    return true;
  };
  if (is_ascii(path)) return path;
  std::wstring short_path(MAX_PATH, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), &short_path[0], MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return path;
  short_path.resize(length);
  return is_ascii(short_path) ? short_path : path;
}

bool GetFileInformation(const base::FilePath& path, BY_HANDLE_FILE_INFORMATION* information) {
  base::File file(path, base::File::FLAG_OPEN);
  if (!file.IsValid()) return false;
  return GetFileInformationByHandle(file.GetPlatformFile(), information) != FALSE;
}

bool TestShortcut(const base::FilePath& shortcut_path, const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_information) {
  VLOG(1) << "Testing shortcut" << shortcut_path.value();
  if (shortcut_path.empty() || !base::PathExists(shortcut_path)) return false;
  base::FilePath shortcut_target;
  if (!base::ResolveShortcut(shortcut_path, &shortcut_target)) shortcut_target.clear();
  return IsSameFile(shortcut_target, target, target_information);
}

void FindProductShortcuts(const base::FilePath& target, const std::string& app_id,
                          const BY_HANDLE_FILE_INFORMATION* target_information,
                          std::vector<std::wstring>* shortcuts) {
  if (base::GetWindowsVersion() < base::OS_VERSION_WIN7) return;
  base::FilePath pins;
  if (!base::PathRegistry::Get(base::DIR_TASKBAR_PINS, &pins) || !base::DirectoryExists(pins))
    return;
  const std::wstring suffix = L"." + WidenBytes(app_id);
  base::FileEnumerator links(pins, false, base::FileEnumerator::FILES, L"*.lnk");
  for (base::FilePath link = links.Next(); !link.empty(); link = links.Next()) {
    base::ShortcutProperties properties;
    if (!base::ResolveShortcutProperties(link,
                                         base::ShortcutProperties::PROPERTIES_TARGET |
                                             base::ShortcutProperties::PROPERTIES_APP_ID,
                                         &properties)) {
      continue;
    }
    if (!IsSameFile(properties.target, target, target_information)) continue;
    if (base::EndsWith(properties.app_id, suffix, base::INSENSITIVE_ASCII))
      shortcuts->push_back(link.value());
  }
}

std::string GetExecutableFileName() {
  return GetFileNameBase() + ".exe";
}

ExecutableArchitecture GetExecutableArchitecture(const base::FilePath& path) {
  if (GetFileAttributesW(path.value().c_str()) == INVALID_FILE_ATTRIBUTES)
    return EXECUTABLE_NOT_AN_IMAGE;
  base::MappedFile mapped;
  if (!mapped.Initialize(path, base::MappedFile::READ_ONLY)) return EXECUTABLE_NOT_AN_IMAGE;
  base::PeHeader header;
  if (!base::ReadPeHeader(mapped.data(), mapped.length(), &header)) return EXECUTABLE_NOT_AN_IMAGE;
  return header.machine == IMAGE_FILE_MACHINE_I386 ? EXECUTABLE_X86 : EXECUTABLE_OTHER_MACHINE;
}

std::string GetStreamNameFor(int32_t stream) {
  switch (stream) {
    case base::kChannelNightly:
      return "Nightly";
    case base::kChannelDeveloper:
      return "Developer";
    case base::kChannelNext:
      return "Next";
    case base::kChannelStable:
      return "Stable";
    default:
      return GetChannelName();
  }
}

std::string GetStreamName() {
  return GetStreamNameFor(GetChannel());
}

std::wstring GetCompanyRegistryKeyPath() {
  return L"Software\\" + WidenBytes(GetCompanyName());
}

std::wstring GetUninstallKeyPath() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
}

ComPtr<IAssociationRegistrationInternal> GetAssociationRegistration(
    const ComObjectFactory& factory) {
  ComPtr<IUnknown> registration;
  if (FAILED(factory(kApplicationAssociationRegistration,
                     CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                     kIApplicationAssociationRegistration,
                     reinterpret_cast<void**>(registration.GetAddressOf()))) ||
      !registration) {
    return nullptr;
  }
  VLOG(2) << "Found the registration interface";
  for (const wchar_t* text : kInternalInterfaceIds) {
    IID iid;
    if (FAILED(IIDFromString(text, &iid))) continue;
    ComPtr<IAssociationRegistrationInternal> internal;
    if (SUCCEEDED(registration->QueryInterface(
            iid, reinterpret_cast<void**>(internal.GetAddressOf()))) &&
        internal) {
      return internal;
    }
  }
  return nullptr;
}

bool HasAssociationRegistration(const ComObjectFactory& factory) {
  return GetAssociationRegistration(factory) != nullptr;
}

bool SetDefaultThroughAssociationRegistration(const std::wstring& registered_application,
                                              const std::wstring& name, bool is_protocol,
                                              const ComObjectFactory& factory) {
  ComPtr<IAssociationRegistrationInternal> registration = GetAssociationRegistration(factory);
  if (!registration) return false;
  return SUCCEEDED(registration->SetDefault(registered_application.c_str(), name.c_str(),
                                            is_protocol ? FALSE : TRUE));
}

}  // namespace installer
