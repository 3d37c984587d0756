#include "desktop/windows/installer/steps/wmi_process_launch.h"

#include <oleauto.h>

#include <utility>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace installer {

namespace {

// Declared here: the WMI uuid library is not linked.
const CLSID kWbemLocatorClsid = {
    0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
const IID kWbemLocatorIid = {
    0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

// A failed WMI call: its HRESULT travels in the Win32 error field, which the system's
// message lookup reads as well.
base::Failure WmiFailure(HRESULT result, const std::string& call) {
  return base::Failure{static_cast<DWORD>(result), 0, call + " failed", {}};
}

// An integer property of a method's output, whatever integer type WMI gave it.
base::Result<uint32_t> GetIntegerProperty(IWbemClassObject* object, const wchar_t* name) {
  const std::string property = "the property " + base::WideToUTF8(name);
  base::ScopedVariant value;
  const HRESULT got = object->Get(name, 0, value.Receive(), nullptr, nullptr);
  if (FAILED(got)) return WmiFailure(got, "reading " + property);
  if (V_VT(&value.Get()) == VT_NULL || V_VT(&value.Get()) == VT_EMPTY)
    return base::Failure{0, 0, property + " is empty", {}};
  base::ScopedVariant integer;
  const HRESULT changed =
      VariantChangeType(integer.Receive(), const_cast<VARIANT*>(&value.Get()), 0, VT_UI4);
  if (FAILED(changed)) return WmiFailure(changed, "reading " + property + " as a number");
  return static_cast<uint32_t>(V_UI4(&integer.Get()));
}

}  // namespace

base::Result<Microsoft::WRL::ComPtr<IWbemServices>> ConnectWmiServices(bool set_blanket) {
  Microsoft::WRL::ComPtr<IWbemLocator> locator;
  HRESULT result =
      CoCreateInstance(kWbemLocatorClsid, nullptr, CLSCTX_INPROC_SERVER, kWbemLocatorIid,
                       reinterpret_cast<void**>(locator.GetAddressOf()));
  if (FAILED(result)) return WmiFailure(result, "creating the WMI locator");
  base::ScopedBstr name_space(L"ROOT\\CIMV2");
  Microsoft::WRL::ComPtr<IWbemServices> connected;
  result = locator->ConnectServer(name_space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                  connected.GetAddressOf());
  if (FAILED(result)) return WmiFailure(result, "connecting to ROOT\\CIMV2");
  if (set_blanket) {
    result = CoSetProxyBlanket(connected.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                               EOAC_NONE);
    if (FAILED(result)) return WmiFailure(result, "setting the WMI proxy blanket");
  }
  return connected;
}

base::Result<Microsoft::WRL::ComPtr<IWbemClassObject>> GetWmiMethodInParameters(
    IWbemServices* services, const std::wstring& class_name, const std::wstring& method_name) {
  const std::string method = base::WideToUTF8(class_name + L"." + method_name);
  base::ScopedBstr class_bstr(class_name.c_str());
  Microsoft::WRL::ComPtr<IWbemClassObject> class_object;
  HRESULT result =
      services->GetObject(class_bstr.Get(), 0, nullptr, class_object.GetAddressOf(), nullptr);
  if (FAILED(result)) return WmiFailure(result, "getting the class of " + method);
  Microsoft::WRL::ComPtr<IWbemClassObject> signature;
  result = class_object->GetMethod(method_name.c_str(), 0, signature.GetAddressOf(), nullptr);
  if (FAILED(result)) return WmiFailure(result, "getting the method " + method);
  if (!signature) return base::Failure{0, 0, method + " takes no parameters", {}};
  Microsoft::WRL::ComPtr<IWbemClassObject> instance;
  result = signature->SpawnInstance(0, instance.GetAddressOf());
  if (FAILED(result)) return WmiFailure(result, "making the parameters of " + method);
  return instance;
}

base::Result<> SetWmiProperty(IWbemClassObject* object, const std::wstring& name,
                              VARIANT* value) {
  const HRESULT result = object->Put(name.c_str(), 0, value, 0);
  if (FAILED(result)) return WmiFailure(result, "setting the property " + base::WideToUTF8(name));
  return {};
}

base::Result<uint32_t> LaunchProcessViaWmi(const std::wstring& command_line) {
  const base::Result<Microsoft::WRL::ComPtr<IWbemServices>> services = ConnectWmiServices(true);
  if (!services.ok()) return services.failure();
  const base::Result<Microsoft::WRL::ComPtr<IWbemClassObject>> parameters =
      GetWmiMethodInParameters(services.value().Get(), L"Win32_Process", L"Create");
  if (!parameters.ok()) return parameters.failure();
  base::ScopedVariant command(command_line.c_str());
  if (!V_BSTR(&command.Get())) return base::Failure{0, 0, "no memory for the command line", {}};
  const base::Result<> set = SetWmiProperty(parameters.value().Get(), L"CommandLine",
                                            const_cast<VARIANT*>(&command.Get()));
  if (!set.ok()) return set.failure();
  base::ScopedBstr class_name(L"Win32_Process");
  base::ScopedBstr method_name(L"Create");
  Microsoft::WRL::ComPtr<IWbemClassObject> output;
  const HRESULT executed =
      services.value()->ExecMethod(class_name.Get(), method_name.Get(), 0, nullptr,
                                   parameters.value().Get(), output.GetAddressOf(), nullptr);
  if (FAILED(executed)) return WmiFailure(executed, "calling Win32_Process.Create");
  if (!output) return base::Failure{0, 0, "Win32_Process.Create gave no output", {}};
  const base::Result<uint32_t> return_value = GetIntegerProperty(output.Get(), L"ReturnValue");
  if (!return_value.ok()) return return_value.failure();
  // Its own codes (2 access denied, 9 path not found, ...), not Win32 errors.
  if (return_value.value() != 0) {
    return base::Failure{0, 0,
                         "Win32_Process.Create returned " + std::to_string(return_value.value()),
                         {}};
  }
  const base::Result<uint32_t> process_id = GetIntegerProperty(output.Get(), L"ProcessId");
  if (!process_id.ok()) return process_id.failure();
  if (process_id.value() == 0)
    return base::Failure{0, 0, "Win32_Process.Create gave no process id", {}};
  return process_id.value();
}

}  // namespace installer
