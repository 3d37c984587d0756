// The one place where the system services create COM objects by class, so that tests can
// hand in-process fakes to code that would otherwise reach the real system services.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_COM_OBJECT_FACTORY_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_COM_OBJECT_FACTORY_H_

#include <windows.h>

#include <functional>

namespace installer {

// Creates an object of `clsid` in `class_context` and returns its `iid` interface in
// *object, as CoCreateInstance does.
typedef std::function<HRESULT(REFCLSID clsid, DWORD class_context, REFIID iid, void** object)>
    ComObjectFactory;

// CoCreateInstance without an outer object.
[[nodiscard]] HRESULT CreateSystemComObject(REFCLSID clsid, DWORD class_context, REFIID iid, void** object);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_COM_OBJECT_FACTORY_H_
