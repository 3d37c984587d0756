#include "desktop/windows/installer/service/association_registration.h"

#include <objbase.h>

#include "base/logging.h"

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;

// The internal interfaces of the Windows 10 releases, newest layout last.
const wchar_t* const kInternalInterfaceIds[] = {
    L"{5E35B9FB-FB98-4565-8E0D-B7468DA31B81}", L"{14ebcc88-2831-4fc8-a5df-9f36a81db12c}",
    L"{1C5C9D10-1225-4C97-8C51-98E1B6F0D4E0}", L"{229D59E2-F94A-402E-9A9F-3B84A1ACED77}",
    L"{C7225171-B9A7-4CF7-861F-85AB7BA3C5B2}",
};

}  // namespace

ComPtr<IAssociationRegistrationInternal> GetAssociationRegistration(
    const ComObjectFactory& factory) {
  ComPtr<IUnknown> registration;
  if (FAILED(factory(kClsidApplicationAssociationRegistration,
                     CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                     kIidApplicationAssociationRegistration,
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
