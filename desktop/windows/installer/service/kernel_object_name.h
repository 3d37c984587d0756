// The names of the kernel objects (events, mutexes) through which the processes of one
// installation find each other.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_

#include <string>

namespace installer {

// "Global\" (|global|) or "Local\" followed by base + "/" + name with every backslash
// turned into "/".
std::wstring GetKernelObjectName(const std::wstring& name, const std::wstring& base,
                                 bool global);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_
