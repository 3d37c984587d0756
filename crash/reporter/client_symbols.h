// Readies dbghelp's symbol handling of each registered client before it can crash. Under
// Wine, MiniDumpWriteDump of a process dbghelp does not know yet first loads the debug data
// of every module of it: seconds of processor time, many more on a loaded machine, spent
// while the crashed client waits a bounded time for its dump. Done at registration, the
// crash only refreshes the module list. On Windows the same calls are cheap and harmless.
//
// dbghelp is single-threaded: every call into it runs under the lock the dump writer holds.
//
// A crash goes before the preparations that have not begun, and a client dumped before
// its turn came is not prepared afterwards.
//
//   ClientSymbols symbols(&dump_lock, SystemSymbolHandler());
//   symbols.Add(pid, process);              // on registration; prepares on a worker
//   { ClientSymbols::DumpTurn turn(&symbols); HANDLE h = symbols.ForDump(pid); ... }
//   symbols.Remove(pid);                    // once the client has ended
#ifndef CRASH_REPORTER_CLIENT_SYMBOLS_H_
#define CRASH_REPORTER_CLIENT_SYMBOLS_H_

#include <windows.h>
#include <stdint.h>

#include <map>
#include <set>

#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"

namespace crash_reporter {

// dbghelp's symbol calls for one process handle; tests fake them.
class SymbolHandler {
 public:
  // SymInitialize with the process's modules loaded.
  [[nodiscard]] virtual bool Initialize(HANDLE process) = 0;
  // SymRefreshModuleList: modules loaded since.
  [[nodiscard]] virtual bool Refresh(HANDLE process) = 0;
  virtual void Cleanup(HANDLE process) = 0;

 protected:
  ~SymbolHandler() = default;
};

// dbghelp's own, or null when it cannot be loaded.
SymbolHandler* SystemSymbolHandler();

class ClientSymbols {
 public:
  // Holds the dbghelp lock for one dump; preparations not yet begun wait until no dump
  // waits any more.
  class DumpTurn {
   public:
    explicit DumpTurn(ClientSymbols* symbols);
    ~DumpTurn();
    DumpTurn(const DumpTurn&) = delete;
    DumpTurn& operator=(const DumpTurn&) = delete;

   private:
    ClientSymbols* const symbols_;
  };

  // |dbghelp_lock| is the dump writer's; |handler| may be null (nothing is prepared).
  ClientSymbols(base::Lock* dbghelp_lock, SymbolHandler* handler);
  // Waits for preparations under way, then cleans up every client.
  ~ClientSymbols();
  ClientSymbols(const ClientSymbols&) = delete;
  ClientSymbols& operator=(const ClientSymbols&) = delete;

  // Keeps a handle of client |pid| (|process| needs PROCESS_QUERY_INFORMATION,
  // PROCESS_VM_READ and SYNCHRONIZE) and prepares its symbols on a worker thread. Quick:
  // it may run where the pipe waits.
  void Add(uint32_t pid, HANDLE process);
  // Dumps waiting for their turn or being written.
  int DumpsWaitingForTesting();

  // In a dump's turn, at the crash of client |pid|: the handle whose symbols were
  // prepared, its module list refreshed, for the dump to be written from (dbghelp finds a
  // process by its handle); null when they were not prepared, and the dump loads them.
  HANDLE ForDump(uint32_t pid);
  // Once client |pid| has ended: its symbols and handle go.
  void Remove(uint32_t pid);

 private:
  struct Client {
    base::ScopedHandle process;
    bool prepared = false;
  };
  struct PrepareTask;

  static DWORD WINAPI RunPrepare(void* parameter);
  void Prepare(uint32_t pid, base::ScopedHandle process);
  // With the dbghelp lock held.
  void PrepareLocked(uint32_t pid, base::ScopedHandle process);
  // With the dbghelp lock held.
  void Forget(Client* client);
  void EndTask();

  base::Lock* const dbghelp_lock_;
  SymbolHandler* const handler_;
  std::map<uint32_t, Client> clients_;  // under the dbghelp lock
  std::set<uint32_t> dumped_;           // without preparation; under the dbghelp lock
  base::Lock lock_;
  int dumps_waiting_ = 0;               // under |lock_|
  int running_ = 0;                     // under |lock_|
  bool closing_ = false;                // under |lock_|
  base::ScopedHandle idle_;             // set while no preparation runs
  base::ScopedHandle no_dump_waits_;    // set while |dumps_waiting_| is 0
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CLIENT_SYMBOLS_H_
