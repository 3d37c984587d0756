#include "crash/reporter/moduleless_symbols.h"

#include "base/logging.h"

namespace crash_reporter {

namespace {
typedef BOOL(WINAPI* InitializeFunction)(HANDLE, const wchar_t*, BOOL);
}  // namespace

ModulelessSymbols::ModulelessSymbols(HMODULE dbghelp, HANDLE process) : process_(process) {
  if (!dbghelp) return;
  const InitializeFunction initialize = reinterpret_cast<InitializeFunction>(
      reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymInitializeW")));
  const CleanupFunction cleanup = reinterpret_cast<CleanupFunction>(
      reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymCleanup")));
  // Without it the dump is still written, only slower under Wine.
  if (initialize && cleanup && initialize(process_, nullptr, FALSE)) cleanup_ = cleanup;
}

ModulelessSymbols::~ModulelessSymbols() {
  if (cleanup_ && !cleanup_(process_)) PLOG(WARNING) << "SymCleanup";
}

}  // namespace crash_reporter
