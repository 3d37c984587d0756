#include "base/native_library.h"

#include <string>

#include "base/logging.h"
#include "base/metrics/histogram.h"

namespace base {

namespace {

// The current directory, or empty when it cannot be read.
std::wstring GetCurrentDirectoryText() {
  std::wstring directory(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), &directory[0]);
    if (length == 0) return std::wstring();
    if (length < directory.size()) {
      directory.resize(length);
      return directory;
    }
    directory.resize(length);  // |length| includes the terminator here
  }
}

// Windows 7 without KB2533623 lacks the search flags; AddDllDirectory marks them.
bool HasSearchFlags() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 && GetProcAddress(kernel32, "AddDllDirectory");
}

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* file_name) {
  if (HasSearchFlags()) return LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without the flags only a full path keeps the search away from the executable's folder.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + file_name;
  return LoadLibraryW(path.c_str());
}

bool RestrictDllSearchToSystemFolder() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const SetDefaultDllDirectoriesFunction set_default_directories =
      kernel32 ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
                     GetProcAddress(kernel32, "SetDefaultDllDirectories")))
               : nullptr;
  if (set_default_directories && set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
    return true;
  // Still takes the current directory out of the search.
  SetDllDirectoryW(L"");
  LOG(WARNING) << "Could not restrict the DLL search to the system folder";
  return false;
}

ScopedModule LoadNativeLibraryWithOutcome(const FilePath& path,
                                          LoadNativeLibraryOutcome* outcome) {
  const bool search_flags = HasSearchFlags();
  if (search_flags) {
    const DWORD kDllDirectoryAndDefaultDirectories =
        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    ScopedModule module(
        LoadLibraryExW(path.value().c_str(), nullptr, kDllDirectoryAndDefaultDirectories));
    if (module.IsValid()) {
      *outcome = LOADED_WITH_SEARCH_FLAGS;
      return module;
    }
  }

  // The older way to find dependencies beside the library: make its folder current.
  const std::wstring previous_directory = GetCurrentDirectoryText();
  const FilePath folder = path.DirName();
  const bool switched = !previous_directory.empty() && !folder.empty() &&
                        SetCurrentDirectoryW(folder.value().c_str());
  ScopedModule module(LoadLibraryW(path.value().c_str()));
  if (switched) SetCurrentDirectoryW(previous_directory.c_str());

  const bool loaded = module.IsValid();
  if (search_flags)
    *outcome = loaded ? LOADED_AFTER_SEARCH_FLAGS_FAILED : FAILED_WITH_AND_WITHOUT_SEARCH_FLAGS;
  else
    *outcome = loaded ? LOADED_WITHOUT_SEARCH_FLAGS : FAILED_WITHOUT_SEARCH_FLAGS;
  return module;
}

ScopedModule LoadNativeLibrary(const FilePath& path) {
  LoadNativeLibraryOutcome outcome;
  ScopedModule module = LoadNativeLibraryWithOutcome(path, &outcome);
  static HistogramBase* const histogram =
      LinearHistogram::FactoryGet("LibraryLoader.LoadNativeLibraryWindows",
                                  LOAD_NATIVE_LIBRARY_OUTCOME_BOUNDARY,
                                  LOAD_NATIVE_LIBRARY_OUTCOME_BOUNDARY + 1);
  histogram->Add(outcome);
  return module;
}

void* ScopedNativeLibrary::GetFunctionPointer(const char* name) const {
  if (!module_.IsValid()) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module_.Get(), name));
}

}  // namespace base
