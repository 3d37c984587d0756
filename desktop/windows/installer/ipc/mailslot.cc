#include "desktop/windows/installer/ipc/mailslot.h"

namespace installer {

std::wstring GetMailslotPath(const std::wstring& name) {
  return L"\\\\.\\mailslot\\" + name;
}

std::wstring GetInstallerMailslotName(const base::FilePath& install_folder) {
  return L"velum_installer\\" + install_folder.value();
}

}  // namespace installer
