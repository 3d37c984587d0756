// Service functions the installation engine, taskbar pinning and the default-browser work
// share: kernel object names, known folders, install-path checks, shortcut and pin
// detection, the executable's name and architecture, the stream name, the company and
// uninstall keys and the Windows 10 application association interface.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_UTILS_H_

#include <windows.h>

#include <shtypes.h>
#include <stdint.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/com_object_factory.h"

namespace installer {

// "Global\" (|global|) or "Local\" followed by base + "/" + name with every backslash
// turned into "/".
std::wstring GetKernelObjectName(const std::wstring& name, const std::wstring& base,
                                 bool global);

// The known folder |folder_id|, or on systems without known folders the CSIDL
// |fallback_csidl|; with |create| a missing folder is created.
bool GetKnownFolderPath(REFKNOWNFOLDERID folder_id, int fallback_csidl, base::FilePath* path,
                        bool create);

// Whether |path| can name a file (or with |is_folder| a folder) to install into: length,
// drive or server-and-share form, forbidden characters, blanks and dots at the ends of
// components, and the device names.
bool IsValidPath(const std::wstring& path, bool is_folder);
// Why IsValidPath refuses |path|, for the log ("illegal character", "trailing dot or
// blank", "too long", ...); null when it accepts it.
const char* GetInvalidPathReason(const std::wstring& path, bool is_folder);

// `path` as a batch file can name it: cmd.exe reads a batch in a code page, which may
// not hold every letter of the path, so an existing path with letters outside ASCII is
// given by its short (8.3) form when the file system has an ASCII one.
std::wstring GetBatchSafePath(const std::wstring& path);

// The identity record of an existing file or folder.
bool GetFileInformation(const base::FilePath& path, BY_HANDLE_FILE_INFORMATION* information);

// Whether the shortcut exists and points at |target|: the same path ignoring case, or,
// when |target_information| is given, the same file (volume and file index).
bool TestShortcut(const base::FilePath& shortcut_path, const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_information);

// Appends the taskbar pins (Windows 7 and later) that point at |target| and whose
// application id ends with "." + |app_id| (ignoring ASCII case).
void FindProductShortcuts(const base::FilePath& target, const std::string& app_id,
                          const BY_HANDLE_FILE_INFORMATION* target_information,
                          std::vector<std::wstring>* shortcuts);

// The product's file name base + ".exe".
std::string GetExecutableFileName();

enum ExecutableArchitecture : uint32_t {
  EXECUTABLE_X86 = 0,
  EXECUTABLE_OTHER_MACHINE = 1,
  EXECUTABLE_NOT_AN_IMAGE = 2,  // missing, unreadable or not a portable executable
};
ExecutableArchitecture GetExecutableArchitecture(const base::FilePath& path);

// 1 "Nightly", 2 "Developer", 3 "Next", 4 "Stable", any other the configuration's name.
std::string GetStreamNameFor(int32_t stream);
// The build's stream name.
std::string GetStreamName();

// "Software\" + the company name (each byte widened).
std::wstring GetCompanyRegistryKeyPath();
// "Software\Microsoft\Windows\CurrentVersion\Uninstall".
std::wstring GetUninstallKeyPath();

// The layout shared by the internal association interfaces: three methods after
// IUnknown; the third makes an application the default for an extension or protocol.
struct IAssociationRegistrationInternal : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefault(const wchar_t* registered_application,
                                               const wchar_t* name, BOOL is_extension) = 0;
};

// The association registration object's internal interface (the first of the known
// interface ids that answers), or null.
Microsoft::WRL::ComPtr<IAssociationRegistrationInternal> GetAssociationRegistration(
    const ComObjectFactory& factory = CreateSystemComObject);
bool HasAssociationRegistration(const ComObjectFactory& factory = CreateSystemComObject);
// Makes |registered_application| the default for the extension or protocol |name|.
bool SetDefaultThroughAssociationRegistration(
    const std::wstring& registered_application, const std::wstring& name, bool is_protocol,
    const ComObjectFactory& factory = CreateSystemComObject);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_UTILS_H_
