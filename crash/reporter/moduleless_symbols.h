// Makes a process known to dbghelp's symbol handler without any of its modules while its
// dump is written. Wine's MiniDumpWriteDump of a process the handler does not know first
// loads the debug data of all its modules, then reads the unwind record of each of their
// functions out of the process, one read at a time: seconds, tens of seconds on a loaded
// machine, while a crashed process waits for its dump. Windows' writer needs neither, so
// there this costs next to nothing.
//
// dbghelp is single-threaded: one dump at a time.
//
//   { const ModulelessSymbols symbols(dbghelp, process); MiniDumpWriteDump(process, ...); }
#ifndef CRASH_REPORTER_MODULELESS_SYMBOLS_H_
#define CRASH_REPORTER_MODULELESS_SYMBOLS_H_

#include <windows.h>

namespace crash_reporter {

class ModulelessSymbols {
 public:
  // |dbghelp| is the loaded dbghelp.dll that writes the dump; without it nothing is done.
  ModulelessSymbols(HMODULE dbghelp, HANDLE process);
  ~ModulelessSymbols();
  ModulelessSymbols(const ModulelessSymbols&) = delete;
  ModulelessSymbols& operator=(const ModulelessSymbols&) = delete;

 private:
  typedef BOOL(WINAPI* CleanupFunction)(HANDLE);

  const HANDLE process_;
  CleanupFunction cleanup_ = nullptr;  // set once the process was made known
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_MODULELESS_SYMBOLS_H_
