// Test helper: writes the arguments that Windows' own splitter (CommandLineToArgvW)
// finds in this process's command line to stdout, as UTF-8, each followed by a NUL.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "base/strings/utf_string_conversions.h"

int wmain() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return 1;
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += base::WideToUTF8(args[i]);
    out.push_back('\0');
  }
  LocalFree(args);
  DWORD written = 0;
  // WriteFile, not stdio: no text-mode translation of the bytes.
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()),
                 &written, nullptr) ||
      written != out.size()) {
    return 2;
  }
  return 0;
}
