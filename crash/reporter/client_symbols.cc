#include "crash/reporter/client_symbols.h"

#include <memory>
#include <utility>

#include "base/logging.h"
#include "base/native_library.h"

namespace crash_reporter {

namespace {

typedef BOOL(WINAPI* SymInitializeFunction)(HANDLE, const wchar_t*, BOOL);
typedef BOOL(WINAPI* SymProcessFunction)(HANDLE);

class DbghelpSymbolHandler : public SymbolHandler {
 public:
  // dbghelp stays loaded, as for the dump writer.
  DbghelpSymbolHandler() {
    HMODULE dbghelp = base::LoadSystemLibrary(L"dbghelp.dll");
    if (!dbghelp) return;
    initialize_ = reinterpret_cast<SymInitializeFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymInitializeW")));
    refresh_ = reinterpret_cast<SymProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymRefreshModuleList")));
    cleanup_ = reinterpret_cast<SymProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymCleanup")));
  }
  bool usable() const { return initialize_ && refresh_ && cleanup_; }

  bool Initialize(HANDLE process) override { return initialize_(process, nullptr, TRUE); }
  bool Refresh(HANDLE process) override { return refresh_(process); }
  void Cleanup(HANDLE process) override {
    if (!cleanup_(process)) PLOG(WARNING) << "SymCleanup";
  }

 private:
  SymInitializeFunction initialize_ = nullptr;
  SymProcessFunction refresh_ = nullptr;
  SymProcessFunction cleanup_ = nullptr;
};

// The process's state: whether |process| still runs.
bool Runs(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

}  // namespace

struct ClientSymbols::PrepareTask {
  ClientSymbols* symbols;
  uint32_t pid;
  base::ScopedHandle process;
};

SymbolHandler* SystemSymbolHandler() {
  static DbghelpSymbolHandler* const handler = new DbghelpSymbolHandler;
  return handler->usable() ? handler : nullptr;
}

ClientSymbols::ClientSymbols(base::Lock* dbghelp_lock, SymbolHandler* handler)
    : dbghelp_lock_(dbghelp_lock),
      handler_(handler),
      idle_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      no_dump_waits_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

ClientSymbols::~ClientSymbols() {
  {
    base::AutoLock hold(lock_);
    closing_ = true;
  }
  if (idle_.IsValid() && WaitForSingleObject(idle_.Get(), INFINITE) != WAIT_OBJECT_0)
    PLOG(ERROR) << "cannot wait for the symbol preparations";
  base::AutoLock hold(*dbghelp_lock_);
  for (auto& client : clients_) Forget(&client.second);
  clients_.clear();
}

void ClientSymbols::Add(uint32_t pid, HANDLE process) {
  if (!handler_ || !idle_.IsValid() || !no_dump_waits_.IsValid()) return;
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    PLOG(WARNING) << "cannot keep crash client " << pid << " for its symbols";
    return;
  }
  std::unique_ptr<PrepareTask> task(new PrepareTask{this, pid, base::ScopedHandle(duplicate)});
  {
    base::AutoLock hold(lock_);
    if (closing_) return;
    if (running_++ == 0) ResetEvent(idle_.Get());
  }
  if (QueueUserWorkItem(&RunPrepare, task.get(), WT_EXECUTELONGFUNCTION)) {
    task.release();
    return;
  }
  PLOG(WARNING) << "cannot queue the symbol preparation of crash client " << pid;
  EndTask();
}

DWORD WINAPI ClientSymbols::RunPrepare(void* parameter) {
  std::unique_ptr<PrepareTask> task(static_cast<PrepareTask*>(parameter));
  ClientSymbols* symbols = task->symbols;
  symbols->Prepare(task->pid, std::move(task->process));
  task.reset();
  symbols->EndTask();
  return 0;
}

void ClientSymbols::Prepare(uint32_t pid, base::ScopedHandle process) {
  for (;;) {
    if (WaitForSingleObject(no_dump_waits_.Get(), INFINITE) != WAIT_OBJECT_0) {
      PLOG(ERROR) << "cannot wait for the dumps";
      return;
    }
    dbghelp_lock_->Acquire();
    bool dump_waits = false;
    {
      base::AutoLock state(lock_);
      if (closing_) {
        dbghelp_lock_->Release();
        return;
      }
      dump_waits = dumps_waiting_ > 0;
    }
    if (!dump_waits) break;
    dbghelp_lock_->Release();
  }
  PrepareLocked(pid, std::move(process));
  dbghelp_lock_->Release();
}

void ClientSymbols::PrepareLocked(uint32_t pid, base::ScopedHandle process) {
  // A client that crashed before its turn needs nothing more.
  if (dumped_.count(pid) || !Runs(process.Get())) return;
  auto found = clients_.find(pid);
  if (found != clients_.end()) {
    // The same process registered again keeps what it has; an ended one with its id goes.
    if (Runs(found->second.process.Get())) return;
    Forget(&found->second);
    clients_.erase(found);
  }
  Client& client = clients_[pid];
  client.process = std::move(process);
  client.prepared = handler_->Initialize(client.process.Get());
  if (!client.prepared) PLOG(WARNING) << "cannot prepare the symbols of crash client " << pid;
}

ClientSymbols::DumpTurn::DumpTurn(ClientSymbols* symbols) : symbols_(symbols) {
  {
    base::AutoLock state(symbols_->lock_);
    if (symbols_->dumps_waiting_++ == 0) ResetEvent(symbols_->no_dump_waits_.Get());
  }
  symbols_->dbghelp_lock_->Acquire();
}

ClientSymbols::DumpTurn::~DumpTurn() {
  symbols_->dbghelp_lock_->Release();
  base::AutoLock state(symbols_->lock_);
  if (--symbols_->dumps_waiting_ == 0) SetEvent(symbols_->no_dump_waits_.Get());
}

int ClientSymbols::DumpsWaitingForTesting() {
  base::AutoLock state(lock_);
  return dumps_waiting_;
}

HANDLE ClientSymbols::ForDump(uint32_t pid) {
  const auto found = clients_.find(pid);
  if (found == clients_.end() || !found->second.prepared) {
    dumped_.insert(pid);
    return nullptr;
  }
  // Modules loaded since the preparation; those missing only lack their symbols.
  if (!handler_->Refresh(found->second.process.Get()))
    PLOG(WARNING) << "cannot refresh the modules of crash client " << pid;
  return found->second.process.Get();
}

void ClientSymbols::Remove(uint32_t pid) {
  DumpTurn turn(this);
  dumped_.erase(pid);
  const auto found = clients_.find(pid);
  // A process that took the id of the one that ended is left alone.
  if (found == clients_.end() || Runs(found->second.process.Get())) return;
  Forget(&found->second);
  clients_.erase(found);
}

void ClientSymbols::Forget(Client* client) {
  if (client->prepared) handler_->Cleanup(client->process.Get());
  client->prepared = false;
}

void ClientSymbols::EndTask() {
  base::AutoLock hold(lock_);
  if (--running_ == 0) SetEvent(idle_.Get());
}

}  // namespace crash_reporter
