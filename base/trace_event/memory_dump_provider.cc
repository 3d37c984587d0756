#include "base/trace_event/memory_dump_provider.h"

#include <atomic>
#include <utility>

#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"

namespace base {
namespace trace_event {

namespace {

void RegisterWithManager(MemoryDumpProvider* provider, const char* name,
                         scoped_refptr<SequencedTaskRunner> task_runner) {
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(provider, name, std::move(task_runner));
}

void UnregisterWithManager(MemoryDumpProvider* provider) {
  MemoryDumpManager::GetInstance()->UnregisterDumpProvider(provider);
}

const MemoryDumpManagerFunctions kManager = {&RegisterWithManager, &UnregisterWithManager,
                                             &ProcessMemoryDump::AddScalarToAllocatorDump};

std::atomic<const MemoryDumpManagerFunctions*> g_functions{&kManager};

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
  g_functions.store(functions ? functions : &kManager, std::memory_order_release);
}

bool IsDumpProviderRegisteredForTesting(const char* name) {
  return MemoryDumpManager::GetInstance()->IsDumpProviderRegisteredForTesting(name);
}

}  // namespace trace_event
}  // namespace base
