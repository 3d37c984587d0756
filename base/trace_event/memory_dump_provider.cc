#include "base/trace_event/memory_dump_provider.h"

#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "base/synchronization/lock.h"

namespace base {
namespace trace_event {

namespace {

struct Registration {
  MemoryDumpProvider* provider;
  const char* name;
};

// Leaked on purpose: providers unregister from thread and process teardown.
Lock& RegistrationLock() {
  static Lock* lock = new Lock;
  return *lock;
}

std::vector<Registration>& Registrations() {
  static std::vector<Registration>* registrations = new std::vector<Registration>;
  return *registrations;
}

void KeepRegistration(MemoryDumpProvider* provider, const char* name,
                      scoped_refptr<SequencedTaskRunner>) {
  AutoLock lock(RegistrationLock());
  Registrations().push_back({provider, name});
}

void DropRegistration(MemoryDumpProvider* provider) {
  AutoLock lock(RegistrationLock());
  std::vector<Registration>& list = Registrations();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->provider == provider) {
      list.erase(it);
      return;
    }
  }
}

// Without a manager no dump is ever taken, so there is nothing to add to.
void DropScalar(ProcessMemoryDump*, const std::string&, const char*, const char*, uint64_t) {}

const MemoryDumpManagerFunctions kBuiltIn = {&KeepRegistration, &DropRegistration,
                                             &DropScalar};

std::atomic<const MemoryDumpManagerFunctions*> g_functions{&kBuiltIn};

}  // namespace

void RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                          scoped_refptr<SequencedTaskRunner> task_runner) {
  const MemoryDumpManagerFunctions* functions = g_functions.load(std::memory_order_acquire);
  if (functions->register_provider)
    functions->register_provider(provider, name, std::move(task_runner));
}

void UnregisterDumpProvider(MemoryDumpProvider* provider) {
  const MemoryDumpManagerFunctions* functions = g_functions.load(std::memory_order_acquire);
  if (functions->unregister_provider) functions->unregister_provider(provider);
}

void AddAllocatorDumpScalar(ProcessMemoryDump* pmd, const std::string& dump_name,
                            const char* entry_name, const char* units, uint64_t value) {
  const MemoryDumpManagerFunctions* functions = g_functions.load(std::memory_order_acquire);
  if (functions->add_scalar) functions->add_scalar(pmd, dump_name, entry_name, units, value);
}

void SetMemoryDumpManagerFunctions(const MemoryDumpManagerFunctions* functions) {
  g_functions.store(functions ? functions : &kBuiltIn, std::memory_order_release);
}

bool IsDumpProviderRegisteredForTesting(const char* name) {
  AutoLock lock(RegistrationLock());
  for (const Registration& registration : Registrations()) {
    if (std::strcmp(registration.name, name) == 0) return true;
  }
  return false;
}

}  // namespace trace_event
}  // namespace base
