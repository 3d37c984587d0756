// What a tracing run records: which category groups, which memory dumps, and which
// event filters see which categories. Nothing in the installer supplies one; the trace
// log holds an empty configuration.
#ifndef BASE_TRACE_EVENT_TRACE_CONFIG_H_
#define BASE_TRACE_EVENT_TRACE_CONFIG_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class Dictionary;

namespace trace_event {

// Which category groups a pattern list enables. A category whose name begins with
// "disabled-by-default-" is enabled only by a disabled pattern that names it.
class TraceConfigCategoryFilter {
 public:
  TraceConfigCategoryFilter();
  TraceConfigCategoryFilter(const TraceConfigCategoryFilter& other);
  TraceConfigCategoryFilter& operator=(const TraceConfigCategoryFilter& other);
  ~TraceConfigCategoryFilter();

  // |category_group| is one or more categories separated by ",".
  bool IsCategoryGroupEnabled(StringPiece category_group) const;
  void Clear();

  std::vector<std::string> included_categories;
  std::vector<std::string> disabled_categories;
  std::vector<std::string> excluded_categories;
  // Only copied and cleared.
  std::vector<std::string> synthetic_delays;

 private:
  bool IsCategoryEnabled(StringPiece category) const;
};

struct MemoryDumpConfig {
  enum LevelOfDetail : uint32_t { BACKGROUND = 0, LIGHT = 1, DETAILED = 2 };
  enum TriggerType : uint32_t {
    PERIODIC_INTERVAL = 0,
    EXPLICITLY_TRIGGERED = 1,
    PEAK_MEMORY_USAGE = 2,
  };
  static constexpr uint64_t kDefaultBreakdownThresholdBytes = 1024;

  struct Trigger {
    uint32_t min_time_between_dumps_ms;
    uint32_t level_of_detail;
    uint32_t trigger_type;
  };

  void Clear();

  std::set<uint32_t> allowed_dump_modes;
  std::vector<Trigger> triggers;
  uint64_t breakdown_threshold_bytes = kDefaultBreakdownThresholdBytes;
};

class EventFilterConfig {
 public:
  explicit EventFilterConfig(const std::string& predicate_name);
  EventFilterConfig(const EventFilterConfig& other);
  EventFilterConfig& operator=(const EventFilterConfig& other);
  ~EventFilterConfig();

  // True when the arguments hold |key| as a list; its strings go into |out|.
  [[nodiscard]] bool GetArgAsSet(const char* key, std::unordered_set<std::string>* out) const;

  const std::string& predicate_name() const { return predicate_name_; }
  TraceConfigCategoryFilter& category_filter() { return category_filter_; }
  const TraceConfigCategoryFilter& category_filter() const { return category_filter_; }
  void SetArgs(std::unique_ptr<Dictionary> args);

 private:
  std::string predicate_name_;
  TraceConfigCategoryFilter category_filter_;
  std::unique_ptr<Dictionary> args_;
};

class TraceConfig {
 public:
  TraceConfig();
  TraceConfig(const TraceConfig& other);
  TraceConfig& operator=(const TraceConfig& other);
  ~TraceConfig();

  void Clear();

  uint32_t record_mode = 0;
  bool enable_systrace = false;
  bool enable_argument_filter = false;
  TraceConfigCategoryFilter category_filter;
  MemoryDumpConfig memory_dump_config;
  std::vector<EventFilterConfig> event_filters;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_CONFIG_H_
