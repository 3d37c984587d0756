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
      idle_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

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
  if (!handler_ || !idle_.IsValid()) return;
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
  base::AutoLock hold(*dbghelp_lock_);
  {
    base::AutoLock state(lock_);
    if (closing_) return;
  }
  // A client that crashed and ended before its turn needs nothing more.
  if (!Runs(process.Get())) return;
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

HANDLE ClientSymbols::ForDump(uint32_t pid) {
  const auto found = clients_.find(pid);
  if (found == clients_.end() || !found->second.prepared) return nullptr;
  // Modules loaded since the preparation; those missing only lack their symbols.
  if (!handler_->Refresh(found->second.process.Get()))
    PLOG(WARNING) << "cannot refresh the modules of crash client " << pid;
  return found->second.process.Get();
}

void ClientSymbols::Remove(uint32_t pid) {
  base::AutoLock hold(*dbghelp_lock_);
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
