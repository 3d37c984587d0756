#include "desktop/windows/installer/service/com_object_factory.h"

#include <objbase.h>

namespace installer {

HRESULT CreateSystemComObject(REFCLSID clsid, DWORD class_context, REFIID iid, void** object) {
  return CoCreateInstance(clsid, nullptr, class_context, iid, object);
}

}  // namespace installer
