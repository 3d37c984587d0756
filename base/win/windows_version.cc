#include "base/win/windows_version.h"

#include <atomic>

#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"

namespace base {

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, PBOOL);
typedef BOOL(WINAPI* GetProductInfoFunction)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// Looks up a kernel32 function that older systems may lack.
template <typename Function>
Function GetKernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

OsInfo::Wow64Status GetWow64StatusOfCurrentProcess() {
  auto is_wow64_process = GetKernel32Function<IsWow64ProcessFunction>("IsWow64Process");
  if (!is_wow64_process) return OsInfo::WOW64_DISABLED;
  BOOL is_wow64 = FALSE;
  if (!is_wow64_process(GetCurrentProcess(), &is_wow64)) return OsInfo::WOW64_UNKNOWN;
  return is_wow64 ? OsInfo::WOW64_ENABLED : OsInfo::WOW64_DISABLED;
}

std::atomic<OsInfo*> g_os_info{nullptr};

}  // namespace

OsVersion OsVersionFromNumbers(uint32_t major, uint32_t minor, uint32_t build) {
  if (major < 5) return OS_VERSION_PRE_XP;
  if (major == 5) {
    if (minor == 0) return OS_VERSION_PRE_XP;
    return minor == 1 ? OS_VERSION_XP : OS_VERSION_SERVER_2003;
  }
  if (major == 6) {
    switch (minor) {
      case 0:
        return OS_VERSION_VISTA;
      case 1:
        return OS_VERSION_WIN7;
      case 2:
        return OS_VERSION_WIN8;
      default:
        return OS_VERSION_WIN8_1;
    }
  }
  if (major == 10) {
    if (build < 10586) return OS_VERSION_WIN10;
    if (build < 14393) return OS_VERSION_WIN10_1511;
    return OS_VERSION_WIN10_1607;
  }
  return OS_VERSION_WIN_LAST;
}

OsInfo::VersionType OsVersionTypeFrom(uint32_t major, uint32_t minor, DWORD product_info_type,
                                      BYTE product_type, WORD suite_mask,
                                      OsInfo::Architecture architecture) {
  if (major == 6 || major == 10) {
    switch (product_info_type) {
      case 1:   // ultimate
      case 4:   // enterprise
      case 6:   // business
      case 48:  // professional
        return OsInfo::SUITE_PROFESSIONAL;
      case 7:
      case 8:
      case 9:
      case 10:
      case 12:
      case 13:
      case 14:
      case 15:
      case 17:
      case 18:
      case 25:  // server editions
        return OsInfo::SUITE_SERVER;
      default:
        return OsInfo::SUITE_HOME;
    }
  }
  if (major == 5 && minor == 2) {
    if (product_type == VER_NT_WORKSTATION && architecture == OsInfo::X64_ARCHITECTURE)
      return OsInfo::SUITE_PROFESSIONAL;  // XP Professional x64 reports 5.2
    if (suite_mask & 0x8000) return OsInfo::SUITE_HOME;  // Windows Home Server
    return OsInfo::SUITE_SERVER;
  }
  if (major == 5 && minor == 1)
    return (suite_mask & VER_SUITE_PERSONAL) ? OsInfo::SUITE_HOME : OsInfo::SUITE_PROFESSIONAL;
  return OsInfo::SUITE_HOME;
}

uint32_t ReadFourByteRegistryNumber(HKEY root, const wchar_t* key_path,
                                    const wchar_t* value_name) {
  RegistryKey key(root, key_path, KEY_QUERY_VALUE);
  DWORD value = 0;
  if (!key.Valid() || key.ReadValueDW(value_name, &value) != ERROR_SUCCESS) return 0;
  return value;
}

uint32_t ReadUpdateBuildRevision() {
  return ReadFourByteRegistryNumber(HKEY_LOCAL_MACHINE,
                                    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR");
}

OsInfo::OsInfo()
    : version_(OS_VERSION_PRE_XP),
      version_number_(),
      version_type_(SUITE_HOME),
      service_pack_(),
      architecture_(OTHER_ARCHITECTURE),
      processors_(0),
      allocation_granularity_(0),
      wow64_status_(GetWow64StatusOfCurrentProcess()) {
  OSVERSIONINFOEXW version_info = {};
  version_info.dwOSVersionInfoSize = sizeof(version_info);
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version_info));
  version_number_.major = version_info.dwMajorVersion;
  version_number_.minor = version_info.dwMinorVersion;
  version_number_.build = version_info.dwBuildNumber;
  version_number_.patch = ReadUpdateBuildRevision();
  version_ = OsVersionFromNumbers(version_number_.major, version_number_.minor,
                                  version_number_.build);
  service_pack_.major = version_info.wServicePackMajor;
  service_pack_.minor = version_info.wServicePackMinor;
  service_pack_str_ = WideToUTF8(version_info.szCSDVersion);

  SYSTEM_INFO system_info = {};
  GetNativeSystemInfo(&system_info);
  switch (system_info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      architecture_ = X86_ARCHITECTURE;
      break;
    case PROCESSOR_ARCHITECTURE_AMD64:
      architecture_ = X64_ARCHITECTURE;
      break;
    case PROCESSOR_ARCHITECTURE_IA64:
      architecture_ = IA64_ARCHITECTURE;
      break;
    default:
      architecture_ = OTHER_ARCHITECTURE;
      break;
  }
  processors_ = static_cast<int>(system_info.dwNumberOfProcessors);
  allocation_granularity_ = system_info.dwAllocationGranularity;

  DWORD product_info_type = 0;
  if (version_number_.major == 6 || version_number_.major == 10) {
    auto get_product_info = GetKernel32Function<GetProductInfoFunction>("GetProductInfo");
    if (get_product_info) {
      get_product_info(version_number_.major, version_number_.minor, 0, 0,
                       &product_info_type);
    }
  }
  version_type_ = OsVersionTypeFrom(version_number_.major, version_number_.minor,
                                    product_info_type, version_info.wProductType,
                                    version_info.wSuiteMask, architecture_);
}

OsInfo* OsInfo::Instance() {
  OsInfo* info = g_os_info.load(std::memory_order_acquire);
  if (info) return info;
  OsInfo* fresh = new OsInfo();
  if (g_os_info.compare_exchange_strong(info, fresh, std::memory_order_acq_rel)) return fresh;
  delete fresh;  // another thread published first; |info| now holds its record
  return info;
}

OsVersion GetWindowsVersion() { return OsInfo::Instance()->version(); }

}  // namespace base
