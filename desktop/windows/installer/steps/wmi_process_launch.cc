#include "desktop/windows/installer/steps/wmi_process_launch.h"

#include <oleauto.h>

#include <utility>

#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace installer {

namespace {

// Declared here: the WMI uuid library is not linked.
const CLSID kWbemLocatorClsid = {
    0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
const IID kWbemLocatorIid = {
    0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

// An integer property of a method's output, whatever integer type WMI gave it.
bool GetIntegerProperty(IWbemClassObject* object, const wchar_t* name, uint32_t* out) {
  base::ScopedVariant value;
  if (FAILED(object->Get(name, 0, value.Receive(), nullptr, nullptr))) return false;
  base::ScopedVariant integer;
  if (V_VT(&value.Get()) == VT_NULL || V_VT(&value.Get()) == VT_EMPTY ||
      FAILED(VariantChangeType(integer.Receive(), const_cast<VARIANT*>(&value.Get()), 0,
                               VT_UI4))) {
    return false;
  }
  *out = V_UI4(&integer.Get());
  return true;
}

}  // namespace

bool ConnectWmiServices(bool set_blanket, Microsoft::WRL::ComPtr<IWbemServices>* services) {
  Microsoft::WRL::ComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(kWbemLocatorClsid, nullptr, CLSCTX_INPROC_SERVER,
                              kWbemLocatorIid, reinterpret_cast<void**>(locator.GetAddressOf()))))
    return false;
  base::ScopedBstr name_space(L"ROOT\\CIMV2");
  Microsoft::WRL::ComPtr<IWbemServices> connected;
  if (FAILED(locator->ConnectServer(name_space.Get(), nullptr, nullptr, nullptr, 0, nullptr,
                                    nullptr, connected.GetAddressOf())))
    return false;
  if (set_blanket &&
      FAILED(CoSetProxyBlanket(connected.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                               EOAC_NONE)))
    return false;
  *services = std::move(connected);
  return true;
}

bool GetWmiMethodInParameters(IWbemServices* services, const std::wstring& class_name,
                              const std::wstring& method_name,
                              Microsoft::WRL::ComPtr<IWbemClassObject>* parameters) {
  base::ScopedBstr class_bstr(class_name.c_str());
  Microsoft::WRL::ComPtr<IWbemClassObject> class_object;
  if (FAILED(services->GetObject(class_bstr.Get(), 0, nullptr, class_object.GetAddressOf(),
                                 nullptr)))
    return false;
  Microsoft::WRL::ComPtr<IWbemClassObject> signature;
  if (FAILED(class_object->GetMethod(method_name.c_str(), 0, signature.GetAddressOf(), nullptr)) ||
      !signature)
    return false;
  Microsoft::WRL::ComPtr<IWbemClassObject> instance;
  if (FAILED(signature->SpawnInstance(0, instance.GetAddressOf()))) return false;
  *parameters = std::move(instance);
  return true;
}

bool SetWmiProperty(IWbemClassObject* object, const std::wstring& name, VARIANT* value) {
  return SUCCEEDED(object->Put(name.c_str(), 0, value, 0));
}

bool LaunchProcessViaWmi(const std::wstring& command_line, uint32_t* pid) {
  Microsoft::WRL::ComPtr<IWbemServices> services;
  if (!ConnectWmiServices(true, &services)) return false;
  Microsoft::WRL::ComPtr<IWbemClassObject> parameters;
  if (!GetWmiMethodInParameters(services.Get(), L"Win32_Process", L"Create", &parameters))
    return false;
  base::ScopedVariant command(command_line.c_str());
  if (!V_BSTR(&command.Get()) ||
      !SetWmiProperty(parameters.Get(), L"CommandLine", const_cast<VARIANT*>(&command.Get())))
    return false;
  base::ScopedBstr class_name(L"Win32_Process");
  base::ScopedBstr method_name(L"Create");
  Microsoft::WRL::ComPtr<IWbemClassObject> output;
  if (FAILED(services->ExecMethod(class_name.Get(), method_name.Get(), 0, nullptr,
                                  parameters.Get(), output.GetAddressOf(), nullptr)) ||
      !output)
    return false;
  uint32_t return_value = 1;
  if (!GetIntegerProperty(output.Get(), L"ReturnValue", &return_value) || return_value != 0)
    return false;
  uint32_t process_id = 0;
  if (!GetIntegerProperty(output.Get(), L"ProcessId", &process_id) || process_id == 0)
    return false;
  if (pid) *pid = process_id;
  return true;
}

}  // namespace installer
