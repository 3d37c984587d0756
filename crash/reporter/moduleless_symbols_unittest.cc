#include "crash/reporter/moduleless_symbols.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/native_library.h"

namespace crash_reporter {
namespace {

// The symbol handler knows the process only while the dump is written: a later dump, or
// any other user of dbghelp in this process, starts without it.
TEST(ModulelessSymbolsTest, TheProcessIsKnownOnlyWhileHeld) {
  const HMODULE dbghelp = base::LoadSystemLibrary(L"dbghelp.dll");
  ASSERT_TRUE(dbghelp);
  using SearchPathFunction = BOOL(WINAPI*)(HANDLE, wchar_t*, DWORD);
  const SearchPathFunction search_path = reinterpret_cast<SearchPathFunction>(
      reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymGetSearchPathW")));
  ASSERT_TRUE(search_path);
  wchar_t path[MAX_PATH] = {};
  EXPECT_FALSE(search_path(GetCurrentProcess(), path, MAX_PATH));
  {
    const ModulelessSymbols symbols(dbghelp, GetCurrentProcess());
    EXPECT_TRUE(search_path(GetCurrentProcess(), path, MAX_PATH));
  }
  EXPECT_FALSE(search_path(GetCurrentProcess(), path, MAX_PATH));
}

}  // namespace
}  // namespace crash_reporter
