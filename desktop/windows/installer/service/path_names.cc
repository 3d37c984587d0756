#include "desktop/windows/installer/service/path_names.h"

#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include "base/strings/string_util.h"
#include "base/win/scoped_generic.h"

namespace installer {

namespace {

typedef HRESULT(WINAPI* SHGetKnownFolderPathFunction)(REFKNOWNFOLDERID, DWORD, HANDLE,
                                                      PWSTR*);

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool IsForbiddenInComponent(wchar_t c) {
  return (c >= 1 && c <= 31) || wcschr(L"?\"<>*|:", c) != nullptr;
}

bool IsDeviceName(const std::wstring& stem) {
  static const char* const kDevices[] = {"CON",  "AUX",  "COM1", "COM2", "COM3", "COM4",
                                         "LPT1", "LPT2", "LPT3", "PRN",  "NUL"};
  for (const char* device : kDevices) {
    if (stem.size() == strlen(device) &&
        base::StartsWith(stem, std::wstring(device, device + stem.size()),
                         base::INSENSITIVE_ASCII)) {
      return true;
    }
  }
  return false;
}

// Why |component| cannot name a file or folder; null when it can.
const char* GetInvalidComponentReason(const std::wstring& component) {
  for (wchar_t c : component) {
    if (IsForbiddenInComponent(c)) return "illegal character";
  }
  if (component.front() == L' ') return "leading blank";
  if (component.back() == L' ' || component.back() == L'.') return "trailing dot or blank";
  const std::wstring stem = component.substr(0, component.find(L'.'));
  if ((stem.size() == 3 || stem.size() == 4) && IsDeviceName(stem)) return "device name";
  return nullptr;
}

// The run of non-separator characters at |position|; |position| moves past it.
std::wstring TakeComponent(const std::wstring& path, size_t* position) {
  const size_t start = *position;
  while (*position < path.size() && !IsSeparator(path[*position])) ++*position;
  return path.substr(start, *position - start);
}

}  // namespace

bool GetKnownFolderPath(REFKNOWNFOLDERID folder_id, int fallback_csidl, base::FilePath* path,
                        bool create) {
  // Looked up at each call: systems before Vista lack it.
  HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
  const SHGetKnownFolderPathFunction get_known_folder_path =
      shell32 ? reinterpret_cast<SHGetKnownFolderPathFunction>(
                    reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetKnownFolderPath")))
              : nullptr;
  if (get_known_folder_path) {
    base::ScopedCoTaskMem<wchar_t> text;
    HRESULT result = get_known_folder_path(folder_id, 0, nullptr, text.Receive());
    if (FAILED(result) && create) {
      result = get_known_folder_path(folder_id, KF_FLAG_CREATE | KF_FLAG_INIT, nullptr,
                                     text.Receive());
    }
    if (FAILED(result) || !text.IsValid()) return false;
    *path = base::FilePath(text.Get());
    return true;
  }

  wchar_t buffer[MAX_PATH] = {};
  HRESULT result = SHGetFolderPathW(nullptr, fallback_csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(result) && result != E_INVALIDARG && create) {
    result = SHGetFolderPathW(nullptr, fallback_csidl | CSIDL_FLAG_CREATE | CSIDL_FLAG_DONT_UNEXPAND,
                              nullptr, SHGFP_TYPE_CURRENT, buffer);
  }
  if (FAILED(result)) return false;
  *path = base::FilePath(buffer);
  return true;
}

bool IsValidPath(const std::wstring& path, bool is_folder) {
  return GetInvalidPathReason(path, is_folder) == nullptr;
}

const char* GetInvalidPathReason(const std::wstring& path, bool is_folder) {
  if (path.empty()) return "empty";
  if (path.size() >= (is_folder ? 248u : 260u)) return "too long";

  size_t position = 0;
  if (path.size() >= 2 && path[0] != L'\0' && path[1] == L':') {
    position = 2;
    if (position == path.size()) return nullptr;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // "\\server\share\" at least.
    position = 2;
    for (int part = 0; part < 2; ++part) {
      if (TakeComponent(path, &position).empty()) return "no server and share";
      if (position == path.size()) return "no server and share";
      ++position;  // the separator after it
    }
    position = 2;
  }

  while (position < path.size()) {
    if (IsSeparator(path[position])) {
      ++position;
      continue;
    }
    if (const char* reason = GetInvalidComponentReason(TakeComponent(path, &position)))
      return reason;
  }
  return nullptr;
}

std::wstring GetBatchSafePath(const std::wstring& path) {
  auto is_ascii = [](const std::wstring& text) {
    for (wchar_t c : text) {
      if (c > 0x7F) return false;
    }
    return true;
  };
  if (is_ascii(path)) return path;
  std::wstring short_path(MAX_PATH, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), &short_path[0], MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return path;
  short_path.resize(length);
  return is_ascii(short_path) ? short_path : path;
}

}  // namespace installer
