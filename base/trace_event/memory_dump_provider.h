// What the trace log needs of the memory-dump manager: the provider interface it
// implements and the calls through which it registers and fills allocator dumps.
//
//   class Cache : public MemoryDumpProvider {
//     bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) override;
//   };
//   RegisterDumpProvider(&cache, "Cache", nullptr);
//
// The calls go to the memory-dump manager, created by the first registration; tests
// may route them to fakes instead.
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

#include <cstdint>
#include <string>

#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"

namespace base {
namespace trace_event {

class ProcessMemoryDump;

struct MemoryDumpArgs {
  // 0 background, 1 light, 2 detailed.
  uint32_t level_of_detail = 0;
};

class MemoryDumpProvider {
 public:
  struct Options {
    // 0: none.
    uint32_t target_pid = 0;
    bool dumps_on_single_thread_task_runner = false;
    // The provider answers PollFastMemoryTotal.
    bool is_fast_polling_supported = false;
  };

  // Adds this provider's allocator dumps to |pmd|; false when it could not.
  [[nodiscard]] virtual bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) = 0;
  virtual void OnHeapProfilingEnabled(bool /*enabled*/) {}
  // Asked only of providers registered with fast polling supported.
  virtual void PollFastMemoryTotal(uint64_t* /*memory_total*/) {}
  virtual void SuspendFastMemoryPolling() {}

 protected:
  virtual ~MemoryDumpProvider() = default;
};

// The manager's side of the calls below; a null entry drops its call.
struct MemoryDumpManagerFunctions {
  void (*register_provider)(MemoryDumpProvider* provider, const char* name,
                            scoped_refptr<SequencedTaskRunner> task_runner);
  void (*unregister_provider)(MemoryDumpProvider* provider);
  // Adds the scalar entry |entry_name| in |units| to the allocator dump |dump_name| of
  // |pmd|, creating the dump when it does not exist yet.
  void (*add_scalar)(ProcessMemoryDump* pmd, const std::string& dump_name,
                     const char* entry_name, const char* units, uint64_t value);
};

// |task_runner| null: the provider may be called on any thread.
void RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                          scoped_refptr<SequencedTaskRunner> task_runner);
void UnregisterDumpProvider(MemoryDumpProvider* provider);
void AddAllocatorDumpScalar(ProcessMemoryDump* pmd, const std::string& dump_name,
                            const char* entry_name, const char* units, uint64_t value);

// Routes the calls above to |functions| (null: back to the memory-dump manager).
void SetMemoryDumpManagerFunctions(const MemoryDumpManagerFunctions* functions);

// Whether a provider is registered with the memory-dump manager under |name|.
bool IsDumpProviderRegisteredForTesting(const char* name);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
