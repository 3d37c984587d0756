// The Windows 10 application association object's internal interface, through which an
// application is made the default for an extension or protocol where the public
// interface no longer does it.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_REGISTRATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_REGISTRATION_H_

#include <windows.h>

#include <wrl/client.h>

#include <string>

#include "desktop/windows/installer/service/association_interfaces.h"
#include "desktop/windows/installer/service/com_object_factory.h"

namespace installer {

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

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_REGISTRATION_H_
