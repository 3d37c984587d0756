// The process-wide trace log. A trace site looks up its category's state byte once,
// caches the pointer and calls into the trace log only while the byte is enabled:
//
//   static const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
//   if (*category & TraceLog::kEnabledMask) { ... TraceLog::GetInstance()->AddEvent(...) }
//
// Nothing in the installer turns recording on, so every state byte stays 0.
#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {
namespace trace_event {

class ConvertableToTraceFormat;

// Identifies a recorded event for ending it; all zero means "no event".
struct TraceEventHandle {
  uint32_t chunk_seq = 0;
  uint32_t chunk_index : 26;
  uint32_t event_index : 6;
  TraceEventHandle() : chunk_index(0), event_index(0) {}
};

// One category group: its state byte, read by trace sites without a lock.
struct TraceCategory {
  std::atomic<uint8_t> state;
  std::atomic<uint32_t> enabled_filters;
  std::atomic<const char*> name;
};

class TraceLog {
 public:
  enum CategoryState : uint8_t {
    ENABLED_FOR_RECORDING = 1,
    ENABLED_FOR_ETW_EXPORT = 8,
    ENABLED_FOR_FILTERING = 16,
  };
  static constexpr uint8_t kEnabledMask =
      ENABLED_FOR_RECORDING | ENABLED_FOR_ETW_EXPORT | ENABLED_FOR_FILTERING;

  static constexpr size_t kMaxCategories = 200;

  // Event flags used here.
  static constexpr unsigned kFlagMangleId = 4;
  static constexpr unsigned kFlagFlowIn = 256;
  static constexpr unsigned kFlagFlowOut = 512;

  // Created on first use and never destroyed.
  static TraceLog* GetInstance();

  // The state byte of |category_group|; a new name is added to the table (at most
  // 200 entries; when full, the "exhausted" entry's byte is returned). The pointer stays
  // valid for the life of the process.
  static const uint8_t* GetCategoryGroupEnabled(const char* category_group);
  // The group name of a state byte returned above.
  static const char* GetCategoryGroupName(const uint8_t* category_state);

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  TraceEventHandle AddEvent(char phase, const uint8_t* category_state, const char* name,
                            const char* scope, uint64_t id, uint64_t bind_id, int thread_id,
                            TimeTicks timestamp, int num_args, const char* const* arg_names,
                            const uint8_t* arg_types, const uint64_t* arg_values,
                            std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
                            unsigned int flags);

  // Ends a complete event begun by AddEvent.
  void UpdateTraceEventDuration(const uint8_t* category_state, const char* name,
                                TraceEventHandle handle);

  uint64_t process_id_hash() const { return process_id_hash_; }
  // Number of category groups in the table (4 built-in ones included).
  static size_t GetCategoryCount();

 private:
  TraceLog();

  // Recording and filtering modes (bits 0 and 1); both off in this program.
  uint8_t enabled_modes_ = 0;
  Lock lock_;
  const int32_t process_id_;
  const uint64_t process_id_hash_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
