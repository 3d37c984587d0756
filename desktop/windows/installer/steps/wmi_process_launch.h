// Starting a program through WMI (Win32_Process.Create in ROOT\CIMV2) rather than as a
// child of the installer, so that it outlives the installer's process tree. COM must be
// initialised on the calling thread.
//
//   uint32_t pid = 0;
//   if (LaunchProcessViaWmi(L"\"C:\\app.exe\" --flag", &pid)) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_WMI_PROCESS_LAUNCH_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_WMI_PROCESS_LAUNCH_H_

#include <windows.h>
#include <stdint.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <string>

namespace installer {

// The process id goes to *pid (when given) only on success.
bool LaunchProcessViaWmi(const std::wstring& command_line, uint32_t* pid);

// The services of "ROOT\CIMV2", with the call-level impersonating proxy blanket when
// asked for.
bool ConnectWmiServices(bool set_blanket, Microsoft::WRL::ComPtr<IWbemServices>* services);

// A fresh instance of the input parameters of `class_name`.`method_name`.
bool GetWmiMethodInParameters(IWbemServices* services, const std::wstring& class_name,
                              const std::wstring& method_name,
                              Microsoft::WRL::ComPtr<IWbemClassObject>* parameters);

bool SetWmiProperty(IWbemClassObject* object, const std::wstring& name, VARIANT* value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_WMI_PROCESS_LAUNCH_H_
