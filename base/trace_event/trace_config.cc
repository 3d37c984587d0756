#include "base/trace_event/trace_config.h"

#include "base/strings/pattern.h"
#include "base/strings/string_split.h"
#include "base/values.h"

namespace base {
namespace trace_event {

namespace {

const char kDisabledByDefaultPattern[] = "disabled-by-default-*";

bool MatchesAny(StringPiece category, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPattern(category, pattern)) return true;
  }
  return false;
}

}  // namespace

TraceConfigCategoryFilter::TraceConfigCategoryFilter() = default;
TraceConfigCategoryFilter::TraceConfigCategoryFilter(const TraceConfigCategoryFilter& other) =
    default;
TraceConfigCategoryFilter& TraceConfigCategoryFilter::operator=(
    const TraceConfigCategoryFilter& other) = default;
TraceConfigCategoryFilter::~TraceConfigCategoryFilter() = default;

bool TraceConfigCategoryFilter::IsCategoryEnabled(StringPiece category) const {
  if (MatchesAny(category, disabled_categories)) return true;
  if (MatchPattern(category, kDisabledByDefaultPattern)) return false;
  return MatchesAny(category, included_categories);
}

bool TraceConfigCategoryFilter::IsCategoryGroupEnabled(StringPiece category_group) const {
  std::vector<StringPiece> categories =
      SplitStringPiece(category_group, ',', KEEP_WHITESPACE, SPLIT_WANT_ALL);
  bool had_enabled_by_default = false;
  for (StringPiece category : categories) {
    if (IsCategoryEnabled(category)) return true;
    if (!MatchPattern(category, kDisabledByDefaultPattern)) had_enabled_by_default = true;
  }
  // Not named by any pattern: enabled unless every category is excluded (a category
  // that no exclusion matches keeps the group), and only without inclusions.
  bool category_group_disabled = false;
  for (StringPiece category : categories) {
    for (const std::string& pattern : excluded_categories) {
      if (MatchPattern(category, pattern)) {
        category_group_disabled = true;
        break;
      }
      if (!MatchPattern(category, kDisabledByDefaultPattern)) category_group_disabled = false;
    }
    if (!category_group_disabled) break;
  }
  return !category_group_disabled && had_enabled_by_default && included_categories.empty();
}

void TraceConfigCategoryFilter::Clear() {
  included_categories.clear();
  disabled_categories.clear();
  excluded_categories.clear();
  synthetic_delays.clear();
}

void MemoryDumpConfig::Clear() {
  allowed_dump_modes.clear();
  triggers.clear();
  breakdown_threshold_bytes = kDefaultBreakdownThresholdBytes;
}

EventFilterConfig::EventFilterConfig(const std::string& predicate_name)
    : predicate_name_(predicate_name) {}

EventFilterConfig::EventFilterConfig(const EventFilterConfig& other) { *this = other; }

EventFilterConfig& EventFilterConfig::operator=(const EventFilterConfig& other) {
  if (this == &other) return *this;
  predicate_name_ = other.predicate_name_;
  category_filter_ = other.category_filter_;
  args_.reset();
  if (other.args_) args_ = Dictionary::From(other.args_->CreateDeepCopy());
  return *this;
}

EventFilterConfig::~EventFilterConfig() = default;

void EventFilterConfig::SetArgs(std::unique_ptr<Dictionary> args) { args_ = std::move(args); }

bool EventFilterConfig::GetArgAsSet(const char* key,
                                    std::unordered_set<std::string>* out) const {
  const List* list = nullptr;
  if (!args_ || !args_->GetList(key, &list)) return false;
  for (size_t i = 0; i < list->size(); ++i) {
    const Value* element = nullptr;
    std::string text;
    if (list->Get(i, &element) && element->GetAsString(&text)) out->insert(text);
  }
  return true;
}

TraceConfig::TraceConfig() = default;
TraceConfig::TraceConfig(const TraceConfig& other) = default;
TraceConfig& TraceConfig::operator=(const TraceConfig& other) = default;
TraceConfig::~TraceConfig() = default;

void TraceConfig::Clear() {
  record_mode = 0;
  enable_systrace = false;
  enable_argument_filter = false;
  category_filter.Clear();
  memory_dump_config.Clear();
  event_filters.clear();
}

}  // namespace trace_event
}  // namespace base
