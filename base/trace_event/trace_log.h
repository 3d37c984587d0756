// The process-wide trace log. A trace site looks up its category's state byte once,
// caches the pointer and calls into the trace log only while the byte is enabled:
//
//   static const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
//   if (*category & TraceLog::kEnabledMask) { ... TraceLog::GetInstance()->AddEvent(...) }
//
// Nothing in the installer turns recording on, so every state byte stays 0; the
// recording paths below run only under SetEnabledForTesting.
#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_event.h"

namespace base {

class MessageLoop;

namespace trace_event {

class TraceBuffer;
class TraceBufferChunk;
class TraceEventFilter;
class ThreadLocalEventBuffer;

// One category group: its state byte, read by trace sites without a lock.
struct TraceCategory {
  std::atomic<uint8_t> state;
  std::atomic<uint32_t> enabled_filters;
  std::atomic<const char*> name;
};

class TraceLog : public MemoryDumpProvider {
 public:
  enum CategoryState : uint8_t {
    ENABLED_FOR_RECORDING = 1,
    ENABLED_FOR_ETW_EXPORT = 8,
    ENABLED_FOR_FILTERING = 16,
  };
  static constexpr uint8_t kEnabledMask =
      ENABLED_FOR_RECORDING | ENABLED_FOR_ETW_EXPORT | ENABLED_FOR_FILTERING;

  enum Mode : uint8_t {
    RECORDING_MODE = 1,
    FILTERING_MODE = 2,
  };

  // Trace options.
  enum Option : unsigned {
    kRecordUntilFull = 1,
    kRecordContinuously = 2,
    kEchoToConsole = 8,
    kRecordAsMuchAsPossible = 16,
  };

  static constexpr size_t kMaxCategories = 200;
  static constexpr size_t kMaxEventFilters = 32;

  // Event flags used by the task runtime's trace sites.
  static constexpr unsigned kFlagMangleId = TRACE_EVENT_FLAG_MANGLE_ID;
  static constexpr unsigned kFlagFlowIn = TRACE_EVENT_FLAG_FLOW_IN;
  static constexpr unsigned kFlagFlowOut = TRACE_EVENT_FLAG_FLOW_OUT;

  // Told when recording stops (with the trace log's lock released).
  class EnabledStateObserver {
   public:
    virtual void OnTraceLogDisabled() = 0;

   protected:
    virtual ~EnabledStateObserver() = default;
  };

  // Told when recording stops, by a task on the thread that registered it.
  class AsyncEnabledStateObserver {
   public:
    virtual void OnTraceLogDisabled() = 0;

   protected:
    virtual ~AsyncEnabledStateObserver() = default;
  };

  // Makes the filter for a predicate name the trace log does not know.
  using FilterFactory =
      std::function<std::unique_ptr<TraceEventFilter>(const std::string& predicate_name)>;

  // Created on first use and never destroyed.
  static TraceLog* GetInstance();

  // The state byte of |category_group|; a new name is added to the table (at most
  // 200 entries; when full, the "exhausted" entry's byte is returned). The pointer stays
  // valid for the life of the process.
  static const uint8_t* GetCategoryGroupEnabled(const char* category_group);
  // The group name of a state byte returned above.
  static const char* GetCategoryGroupName(const uint8_t* category_state);
  // Number of category groups in the table (4 built-in ones included).
  static size_t GetCategoryCount();

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // Adds an event of an enabled category: hands it to the ETW exporter, the category's
  // filters and the buffers as its state says. The empty handle when nothing was
  // recorded.
  TraceEventHandle AddEvent(char phase, const uint8_t* category_state, const char* name,
                            const char* scope, uint64_t id, uint64_t bind_id, int thread_id,
                            TimeTicks timestamp, int num_args, const char* const* arg_names,
                            const uint8_t* arg_types, const uint64_t* arg_values,
                            std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
                            unsigned int flags);

  // Ends a complete event begun by AddEvent.
  void UpdateTraceEventDuration(const uint8_t* category_state, const char* name,
                                TraceEventHandle handle);

  // Queues a metadata event, written into the buffer when recording stops.
  void AddMetadataEvent(const uint8_t* category_state, const char* name, int num_args,
                        const char* const* arg_names, const uint8_t* arg_types,
                        const uint64_t* arg_values,
                        std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
                        unsigned int flags);

  void AddEnabledStateObserver(EnabledStateObserver* observer);
  void RemoveEnabledStateObserver(EnabledStateObserver* observer);
  // Must be called on a thread with a task runner; notified there while |observer| lives.
  void AddAsyncEnabledStateObserver(WeakPtr<AsyncEnabledStateObserver> observer);
  void RemoveAsyncEnabledStateObserver(AsyncEnabledStateObserver* observer);

  void SetProcessName(const std::string& name);
  void SetProcessSortIndex(int sort_index);
  void UpdateProcessLabel(int label_id, const std::string& label);
  void SetThreadSortIndex(int thread_id, int sort_index);
  // Keeps the calling thread from ever getting a thread-local buffer.
  static void SetCurrentThreadBlocksMessageLoop();

  // MemoryDumpProvider: "tracing/main_trace_log".
  [[nodiscard]] bool OnMemoryDump(const MemoryDumpArgs& args, ProcessMemoryDump* pmd) override;

  uint64_t process_id_hash() const { return process_id_hash_; }
  int process_id() const { return process_id_; }
  bool IsEnabled() const;
  // A copy of the configuration of the current tracing run.
  TraceConfig GetCurrentTraceConfig();

  // Starts a tracing run with |config| in |modes| and |options|, with a fresh central
  // buffer (of |max_chunks| for a vector buffer when not 0). Nothing in the installer
  // records; tests do.
  void SetEnabledForTesting(const TraceConfig& config, uint8_t modes, unsigned options,
                            size_t max_chunks = 0);
  // Stops recording as a full buffer would (metadata events, observers).
  void SetDisabledForTesting();
  // Back to the state at creation: no modes, no filters, empty buffers and names.
  void ResetForTesting();
  void SetFilterFactoryForTesting(FilterFactory factory);
  void SetArgumentFilterPredicate(ArgumentFilterPredicate predicate);
  // Every recorded event: the central buffer's, the shared chunk's and the calling
  // thread's, as JSON objects joined by ",".
  std::string RecordedEventsAsJsonForTesting();
  TraceEvent* GetEventByHandleForTesting(TraceEventHandle handle);
  // The central-buffer index of the chunk that threads without a message loop share.
  size_t shared_chunk_index_for_testing() const { return thread_shared_chunk_index_; }
  bool has_shared_chunk_for_testing() const { return thread_shared_chunk_ != nullptr; }
  const std::string& thread_name_for_testing(int thread_id);
  int add_event_calls_for_testing() const { return add_event_calls_.load(); }

 private:
  friend class ThreadLocalEventBuffer;

  TraceLog();
  ~TraceLog() override;

  static std::unique_ptr<TraceBuffer> CreateTraceBuffer(unsigned options, size_t max_chunks);
  void UpdateCategoryState(TraceCategory* category);
  void UpdateCategoryRegistry();
  void CreateFiltersForTraceConfig();
  void InitializeThreadLocalEventBufferIfSupported();
  void UpdateThreadName(int thread_id);
  TraceEvent* AddEventToSharedChunkWhileLocked(TraceEventHandle* handle, bool check_full);
  void CheckIfBufferIsFullWhileLocked();
  void SetDisabledWhileLocked(uint8_t modes);
  void AddMetadataEvents();
  void AddMetadataEventWhileLocked(int thread_id, const char* name, const char* arg_name,
                                   uint8_t arg_type, uint64_t arg_value);
  // Called with |lock_| held.
  TraceEvent* GetEventByHandleInternal(TraceEventHandle handle);
  std::string EventToConsoleMessage(char phase, int64_t timestamp, TraceEvent* event);
  int64_t OffsetNow() const;

  Lock lock_;
  Lock thread_info_lock_;
  std::atomic<uint8_t> enabled_modes_{0};
  int num_traces_recorded_ = 0;
  std::unique_ptr<TraceBuffer> logged_events_;
  std::vector<std::unique_ptr<TraceEvent>> metadata_events_;
  bool dispatching_to_observer_list_ = false;
  std::vector<EnabledStateObserver*> enabled_state_observers_;
  struct AsyncObserverRegistration {
    WeakPtr<AsyncEnabledStateObserver> observer;
    scoped_refptr<SequencedTaskRunner> task_runner;
  };
  std::map<AsyncEnabledStateObserver*, AsyncObserverRegistration> async_observers_;
  std::string process_name_;
  std::unordered_map<int, std::string> process_labels_;
  int process_sort_index_ = 0;
  std::unordered_map<int, int> thread_sort_indices_;
  std::unordered_map<int, std::string> thread_names_;
  std::unordered_map<int, std::vector<int64_t>> thread_event_start_times_;
  std::unordered_map<std::string, int> thread_colors_;
  // 0 until the central buffer fills.
  int64_t buffer_limit_reached_timestamp_ = 0;
  const int32_t process_id_;
  const uint64_t process_id_hash_;
  const int64_t time_offset_ = 0;
  std::atomic<unsigned> trace_options_{kRecordUntilFull};
  size_t max_chunks_for_testing_ = 0;
  TraceConfig trace_config_;
  std::vector<EventFilterConfig> enabled_event_filters_;
  std::unordered_set<MessageLoop*> thread_message_loops_;
  std::unique_ptr<TraceBufferChunk> thread_shared_chunk_;
  size_t thread_shared_chunk_index_ = 0;
  ArgumentFilterPredicate argument_filter_predicate_;
  std::atomic<int> generation_{0};
  FilterFactory filter_factory_for_testing_;
  std::atomic<int> add_event_calls_{0};
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
