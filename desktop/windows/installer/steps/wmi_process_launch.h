// Starting a program through WMI (Win32_Process.Create in ROOT\CIMV2) rather than as a
// child of the installer, so that it outlives the installer's process tree. COM must be
// initialised on the calling thread.
//
//   const base::Result<uint32_t> pid = LaunchProcessViaWmi(L"\"C:\\app.exe\" --flag");
//   if (!pid.ok()) LOG(WARNING) << pid.failure().text;
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_WMI_PROCESS_LAUNCH_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_WMI_PROCESS_LAUNCH_H_

#include <windows.h>
#include <stdint.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <string>

#include "base/result.h"

namespace installer {

// The id of the started process. A failure carries the HRESULT of the WMI call that
// failed, or the return value of Win32_Process.Create in its text.
base::Result<uint32_t> LaunchProcessViaWmi(const std::wstring& command_line);

// The services of "ROOT\CIMV2", with the call-level impersonating proxy blanket when
// asked for.
base::Result<Microsoft::WRL::ComPtr<IWbemServices>> ConnectWmiServices(bool set_blanket);

// A fresh instance of the input parameters of `class_name`.`method_name`.
base::Result<Microsoft::WRL::ComPtr<IWbemClassObject>> GetWmiMethodInParameters(
    IWbemServices* services, const std::wstring& class_name, const std::wstring& method_name);

base::Result<> SetWmiProperty(IWbemClassObject* object, const std::wstring& name,
                              VARIANT* value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_WMI_PROCESS_LAUNCH_H_
