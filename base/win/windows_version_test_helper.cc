// Exits with the version index that this process sees.
#include <windows.h>

#include "base/win/windows_version.h"

int wmain() { return base::GetWindowsVersion(); }
