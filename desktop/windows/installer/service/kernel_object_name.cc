#include "desktop/windows/installer/service/kernel_object_name.h"

namespace installer {

std::wstring GetKernelObjectName(const std::wstring& name, const std::wstring& base,
                                 bool global) {
  std::wstring text = base + L"/" + name;
  for (wchar_t& c : text) {
    if (c == L'\\') c = L'/';
  }
  return (global ? L"Global\\" : L"Local\\") + text;
}

}  // namespace installer
