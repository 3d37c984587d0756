// The Windows version and the machine the process runs on, read once per process.
#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

#include <windows.h>
#include <stdint.h>

#include <string>

namespace base {

// The version index; every Windows-version decision compares it. The three Windows 10
// values are its releases before 1511, 1511 and 1607 or later.
enum OsVersion : int {
  OS_VERSION_PRE_XP = 0,
  OS_VERSION_XP = 1,
  OS_VERSION_SERVER_2003 = 2,
  OS_VERSION_VISTA = 3,
  OS_VERSION_WIN7 = 4,
  OS_VERSION_WIN8 = 5,
  OS_VERSION_WIN8_1 = 6,
  OS_VERSION_WIN10 = 7,
  OS_VERSION_WIN10_1511 = 8,
  OS_VERSION_WIN10_1607 = 9,
  OS_VERSION_WIN_LAST = 10,  // a version this code does not know
};

class OsInfo {
 public:
  struct VersionNumber {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t patch;  // the update build revision, 0 when unknown
  };
  struct ServicePack {
    int major;
    int minor;
  };
  enum VersionType {
    SUITE_HOME = 0,  // also any edition not listed
    SUITE_PROFESSIONAL = 1,
    SUITE_SERVER = 2,
  };
  enum Architecture {
    X86_ARCHITECTURE = 0,
    X64_ARCHITECTURE = 1,
    IA64_ARCHITECTURE = 2,
    OTHER_ARCHITECTURE = 3,
  };
  enum Wow64Status {
    WOW64_DISABLED = 0,  // also when the system cannot run WOW64 at all
    WOW64_ENABLED = 1,
    WOW64_UNKNOWN = 2,
  };

  // The shared record, built on first use by whichever thread wins the race.
  static OsInfo* Instance();

  OsInfo(const OsInfo&) = delete;
  OsInfo& operator=(const OsInfo&) = delete;

  OsVersion version() const { return version_; }
  VersionNumber version_number() const { return version_number_; }
  VersionType version_type() const { return version_type_; }
  ServicePack service_pack() const { return service_pack_; }
  const std::string& service_pack_str() const { return service_pack_str_; }
  Architecture architecture() const { return architecture_; }
  int processors() const { return processors_; }
  size_t allocation_granularity() const { return allocation_granularity_; }
  Wow64Status wow64_status() const { return wow64_status_; }

 private:
  OsInfo();

  OsVersion version_;
  VersionNumber version_number_;
  VersionType version_type_;
  ServicePack service_pack_;
  std::string service_pack_str_;
  Architecture architecture_;
  int processors_;
  size_t allocation_granularity_;
  Wow64Status wow64_status_;
};

// The version index of the shared record.
OsVersion GetWindowsVersion();

// The version index of a version number.
OsVersion OsVersionFromNumbers(uint32_t major, uint32_t minor, uint32_t build);

// The edition class from the version, GetProductInfo's product type (Vista and later),
// and for the older versions the product type byte and suite mask of GetVersionEx.
OsInfo::VersionType OsVersionTypeFrom(uint32_t major, uint32_t minor, DWORD product_info_type,
                                      BYTE product_type, WORD suite_mask,
                                      OsInfo::Architecture architecture);

// The update build revision ("UBR"), 0 when the system does not record it.
uint32_t ReadUpdateBuildRevision();

// The rule behind ReadUpdateBuildRevision for any value: REG_DWORD or REG_BINARY of
// exactly 4 bytes counts, anything else gives 0.
uint32_t ReadFourByteRegistryNumber(HKEY root, const wchar_t* key_path,
                                    const wchar_t* value_name);

}  // namespace base

#endif  // BASE_WIN_WINDOWS_VERSION_H_
