// Path keys of Windows folders, and the provider that answers them.
#ifndef BASE_BASE_PATHS_WIN_H_
#define BASE_BASE_PATHS_WIN_H_

#include <windows.h>

#include "base/files/file_path.h"

namespace base {

enum WindowsPathKey {
  DIR_WINDOWS = 101,               // GetWindowsDirectory
  DIR_SYSTEM = 102,                // GetSystemDirectory
  DIR_PROGRAM_FILES = 103,         // Program Files
  DIR_PROGRAM_FILESX86 = 104,      // Program Files (x86), or Program Files on x86
  DIR_PROGRAM_FILES6432 = 105,     // Program Files as a 64-bit process sees it
  DIR_IE_INTERNET_CACHE = 106,     // the Internet cache
  DIR_COMMON_START_MENU = 107,     // all users' Start menu programs
  DIR_START_MENU = 108,            // the user's Start menu programs
  DIR_APP_DATA = 109,              // roaming application data
  DIR_LOCAL_APP_DATA = 110,        // local application data
  DIR_COMMON_APP_DATA = 111,       // all users' application data
  DIR_APP_SHORTCUTS = 112,         // application shortcuts (Windows 8 and later)
  DIR_COMMON_DESKTOP = 113,        // all users' desktop
  DIR_USER_QUICK_LAUNCH = 114,     // Quick Launch under DIR_APP_DATA
  DIR_TASKBAR_PINS = 115,          // "User Pinned\TaskBar" under Quick Launch
  DIR_IMPLICIT_APP_SHORTCUTS = 116,  // "User Pinned\ImplicitAppShortcuts"
  DIR_WINDOWS_FONTS = 117,         // the fonts folder
};

// Files of the browser's user data folder, which the crash reporter reads. The folder
// itself is known only once it is overridden (the reporter takes it from "user-data-dir").
enum UserDataPathKey {
  DIR_USER_DATA = 1002,      // the browser's user data folder; override only
  FILE_CRASH_STATS = 2015,   // crash counts per process type, under DIR_USER_DATA
  FILE_LOCAL_STATE = 2017,   // the browser's "Local State" preferences, under DIR_USER_DATA
};

// The full path of a loaded module, however long; false when the system cannot tell.
[[nodiscard]] bool GetModuleFilePath(HMODULE module, FilePath* path);

// Answers FILE_EXE, FILE_MODULE, DIR_SOURCE_ROOT, DIR_USER_DESKTOP, every
// WindowsPathKey, and FILE_CRASH_STATS and FILE_LOCAL_STATE once DIR_USER_DATA is known; false with *result left alone for any other key or on failure.
[[nodiscard]] bool WindowsPathProvider(int key, FilePath* result);

}  // namespace base

#endif  // BASE_BASE_PATHS_WIN_H_
