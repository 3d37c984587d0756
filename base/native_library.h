// Loading DLLs by path, with the library's own folder searched for its dependencies.
#ifndef BASE_NATIVE_LIBRARY_H_
#define BASE_NATIVE_LIBRARY_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "base/win/scoped_generic.h"

namespace base {

// How a load went; recorded in "LibraryLoader.LoadNativeLibraryWindows".
enum LoadNativeLibraryOutcome {
  LOADED_WITH_SEARCH_FLAGS = 0,
  LOADED_AFTER_SEARCH_FLAGS_FAILED = 1,
  FAILED_WITH_AND_WITHOUT_SEARCH_FLAGS = 2,
  LOADED_WITHOUT_SEARCH_FLAGS = 3,  // a system without AddDllDirectory
  FAILED_WITHOUT_SEARCH_FLAGS = 4,
  LOAD_NATIVE_LIBRARY_OUTCOME_BOUNDARY = 5,
};

// The module, empty when it cannot be loaded (no error code is kept). May change the
// process's current directory for the duration of the call.
ScopedModule LoadNativeLibrary(const FilePath& path);

// LoadNativeLibrary without recording the outcome, which goes to |outcome|.
ScopedModule LoadNativeLibraryWithOutcome(const FilePath& path,
                                          LoadNativeLibraryOutcome* outcome);

// A system DLL by its file name ("dbghelp.dll"), looked for in the system folder only: a
// file of that name beside the executable (a downloads folder) or in the current
// directory is never loaded. Null with the last error set when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* file_name);

// Narrows the DLL search of every later load in the process, static dependencies of
// loaded DLLs and delay-loaded imports included, to the system folder. Called first
// thing by an executable; false (with a log line) when only the current directory
// could be taken out of the search.
[[nodiscard]] bool RestrictDllSearchToSystemFolder();

// Owns one loaded module, freed on destruction.
class ScopedNativeLibrary {
 public:
  explicit ScopedNativeLibrary(const FilePath& path) : module_(LoadNativeLibrary(path)) {}

  bool IsValid() const { return module_.IsValid(); }
  HMODULE get() const { return module_.Get(); }

  // The exported function |name|; null without a module or such an export.
  void* GetFunctionPointer(const char* name) const;

 private:
  ScopedModule module_;
};

}  // namespace base

#endif  // BASE_NATIVE_LIBRARY_H_
