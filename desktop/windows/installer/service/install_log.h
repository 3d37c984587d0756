// The installation record: what one installation put on the machine. Saved as
// "installation_status.xml" in the install folder (see install_log_writer.h) and read
// back by later installations and the uninstaller (install_log_reader.h).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace installer {

// Where a record comes from; not stored in the file.
enum InstallLogSource : uint32_t {
  SOURCE_NEW = 0,           // an empty record where no file was loaded
  SOURCE_INSTALLER = 1,     // the record the running installation builds
  SOURCE_STATUS_FILE = 2,   // the install folder's "installation_status.xml"
  SOURCE_OLD_STATUS = 3,    // a numbered copy in the "old_status" folder
  SOURCE_LEGACY_LOG = 4,    // the legacy "velum_install_log.xml"
};

class InstallLog {
 public:
  struct Component {
    Component(std::string name, std::wstring path);
    std::string name;
    std::wstring path;
  };

  struct RegistryValue {
    RegistryValue();
    std::string type;  // "REG_SZ", ...
    std::string name;  // UTF-8; empty for the default value
    std::string data;  // the data as text
  };

  struct RegistryKey {
    RegistryKey();
    // 0 or less: only the recorded values are removed; n > 0: the key n - 1 levels
    // above |path| is deleted whole.
    int32_t clean = 0;
    std::string path;  // UTF-8, below the hive root
    std::vector<RegistryValue> values;
  };

  explicit InstallLog(uint32_t source);
  // An empty record that takes only the source of |other|.
  InstallLog(const InstallLog& other);
  ~InstallLog();
  InstallLog& operator=(const InstallLog&) = delete;

  // |app_id| followed by "1".
  std::string GetSuffixedAppId() const;

  // Records one applied registry value into a hive's key list. A key already listed
  // (paths compare ASCII case-insensitively, newest first) receives the value and keeps
  // the larger removal depth; otherwise a key is appended. |data| may be null.
  static void AddRegistryValue(std::vector<RegistryKey>& keys, const std::wstring& key_path,
                               const std::wstring& value_name, const void* data,
                               uint32_t type, uint32_t size, int32_t clean);

  bool copy_only = false;
  bool all_users = false;
  bool pinned = false;
  uint32_t source;
  std::string app_id;
  std::wstring install_path;
  std::wstring subfolder;
  std::string version;
  std::wstring desktop_shortcut;
  std::wstring menu_shortcut;
  std::wstring quick_launch_shortcut;
  std::vector<std::wstring> files;  // relative to the version subfolder
  std::vector<std::wstring> root_files;
  std::vector<Component> components;
  std::vector<RegistryKey> machine_registry;  // "HKLM"
  std::vector<RegistryKey> user_registry;     // "HKCU"
  // Set by the reader when the file named a version subfolder or a file that is not a
  // path below the install folder: such names are left out (never deleted), and a
  // damaged record counts as unreadable where that decides what is removed. Not written.
  bool damaged = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_H_
