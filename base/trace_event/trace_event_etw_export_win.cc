#include "base/trace_event/trace_event_etw_export_win.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/native_library.h"
#include "base/strings/string_split.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

namespace {

const char kOtherEvents[] = "__OTHER_EVENTS";
const char kDisabledOtherEvents[] = "__DISABLED_OTHER_EVENTS";
const char kDisabledByDefaultPrefix[] = "disabled-by-default";

// Categories with their own export flag; all off.
const char* const kFixedCategories[] = {
    "benchmark", "browser", "evdev", "gpu", "input", "netlog", "renderer.scheduler",
    "toplevel", "startup", "disabled-by-default-toplevel.flow",
    // Page drawing, compositing and script categories.
    "page", "page.user_timing", "compositing", "script",
    "disabled-by-default-script.runtime_stats",
    kOtherEvents, kDisabledOtherEvents,
};

const EVENT_DESCRIPTOR kEventDescriptor = {
    1,                       // id
    0,                       // version
    8,                       // channel
    4,                       // level
    0,                       // opcode
    0,                       // task
    0x8000000000000000ull};  // keyword

// The instance word: 0 not created, 1 being created, 2 torn down, else the pointer.
const uintptr_t kCreating = 1;
const uintptr_t kTornDown = 2;
std::atomic<uintptr_t> g_instance{0};

std::atomic<void (*)()> g_instance_taken_hook{nullptr};

const char* PhaseText(char phase, char* one_char) {
  switch (phase) {
    case 'B': return "Begin";
    case 'E': return "End";
    case 'X': return "Complete";
    case 'I': return "Instant";
    case 'S': return "Async Begin";
    case 'T': return "Async Step Into";
    case 'p': return "Async Step Past";
    case 'F': return "Async End";
    case 'b': return "Nestable Async Begin";
    case 'e': return "Nestable Async End";
    case 'n': return "Nestable Async Instant";
    case 's': return "Phase Flow Begin";
    case 't': return "Phase Flow Step";
    case 'f': return "Phase Flow End";
    case 'M': return "Phase Metadata";
    case 'C': return "Phase Counter";
    case 'P': return "Phase Sample";
    case 'N': return "Phase Create Object";
    case 'O': return "Phase Snapshot Object";
    case 'D': return "Phase Delete Object";
  }
  one_char[0] = phase;
  one_char[1] = '\0';
  return one_char;
}

TraceEventEtwExport::Functions LoadFunctions() {
  TraceEventEtwExport::Functions functions = {};
  HMODULE advapi = LoadSystemLibrary(L"Advapi32.dll");
  if (!advapi) return functions;
  functions.event_register = reinterpret_cast<decltype(functions.event_register)>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "EventRegister")));
  functions.event_write = reinterpret_cast<decltype(functions.event_write)>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "EventWrite")));
  functions.event_unregister = reinterpret_cast<decltype(functions.event_unregister)>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "EventUnregister")));
  return functions;
}

}  // namespace

const GUID TraceEventEtwExport::kProviderGuid = {
    0xD2D578D9, 0x2936, 0x45B6, {0xA0, 0x9F, 0x30, 0xE3, 0x27, 0x15, 0xF4, 0x2D}};

TraceEventEtwExport::TraceEventEtwExport(const Functions& functions) : functions_(functions) {
  for (const char* category : kFixedCategories) categories_[category] = false;
  RegisterEtwProvider();
}

TraceEventEtwExport::~TraceEventEtwExport() { UnregisterEtwProvider(); }

// static
TraceEventEtwExport* TraceEventEtwExport::GetInstance() {
  uintptr_t value = g_instance.load(std::memory_order_acquire);
  if (value == kTornDown) return nullptr;
  if (value > kTornDown) return reinterpret_cast<TraceEventEtwExport*>(value);
  uintptr_t expected = 0;
  if (g_instance.compare_exchange_strong(expected, kCreating, std::memory_order_acq_rel)) {
    TraceEventEtwExport* created = new TraceEventEtwExport(LoadFunctions());
    g_instance.store(reinterpret_cast<uintptr_t>(created), std::memory_order_release);
    ExitCallbackStack::Register(&TearDownForProcessExit, nullptr);
    return created;
  }
  while ((value = g_instance.load(std::memory_order_acquire)) == kCreating) Sleep(0);
  return value == kTornDown ? nullptr : reinterpret_cast<TraceEventEtwExport*>(value);
}

// static
void TraceEventEtwExport::TearDownForProcessExit(void*) {
  uintptr_t value = g_instance.exchange(kTornDown, std::memory_order_acq_rel);
  // Not deleted: a category registered on another thread may have taken the pointer
  // just before, and reads the exporter after this returns.
  if (value > kTornDown) reinterpret_cast<TraceEventEtwExport*>(value)->UnregisterEtwProvider();
}

// static
void TraceEventEtwExport::SetInstanceTakenHookForTesting(void (*hook)()) {
  g_instance_taken_hook.store(hook);
}

void TraceEventEtwExport::RegisterEtwProvider() {
  if (handle_.load() != 0 || !functions_.event_register) return;
  // Failure leaves the handle 0 and the exporter silent.
  REGHANDLE handle = 0;
  ULONG result = functions_.event_register(&kProviderGuid, &EnableCallback, &context_, &handle);
  handle_.store(result == ERROR_SUCCESS ? handle : 0);
}

void TraceEventEtwExport::UnregisterEtwProvider() {
  if (!functions_.event_unregister) return;
  // Writers that start from now on see no handle; those already writing finish first.
  const REGHANDLE handle = handle_.exchange(0);
  if (handle == 0) return;
  while (active_writes_.load() != 0) Sleep(0);
  ULONG result = functions_.event_unregister(handle);
  (void)result;  // nothing to do about a refusal at teardown
}

// static
void NTAPI TraceEventEtwExport::EnableCallback(LPCGUID, ULONG control_code, UCHAR level,
                                               ULONGLONG match_any_keyword,
                                               ULONGLONG match_all_keyword,
                                               PEVENT_FILTER_DESCRIPTOR, PVOID context) {
  EnableContext* enable = static_cast<EnableContext*>(context);
  if (control_code == 0) {
    enable->is_enabled = 0;
    enable->level = 0;
    enable->match_any_keyword = 0;
    enable->match_all_keyword = 0;
    enable->event_enable_bits.store(0, std::memory_order_release);
  } else if (control_code == 1) {
    enable->match_any_keyword = match_any_keyword;
    enable->match_all_keyword = match_all_keyword;
    enable->level = level;
    enable->is_enabled = 1;
    bool level_ok = level == 0 || level >= enable->event_level;
    bool keyword_ok = enable->event_keyword == 0 ||
                      ((enable->event_keyword & match_any_keyword) != 0 &&
                       (enable->event_keyword & match_all_keyword) == match_all_keyword);
    enable->event_enable_bits.store(level_ok && keyword_ok ? 1 : 0, std::memory_order_release);
  }
}

bool TraceEventEtwExport::IsEventEnabled() const {
  return (context_.event_enable_bits.load(std::memory_order_acquire) & 1) != 0;
}

bool TraceEventEtwExport::IsCategoryEnabled(StringPiece category) const {
  auto found = categories_.find(category.as_string());
  if (found != categories_.end()) return found->second;
  const char* group = category.starts_with(kDisabledByDefaultPrefix) ? kDisabledOtherEvents
                                                                     : kOtherEvents;
  return categories_.at(group);
}

bool TraceEventEtwExport::IsGroupEnabled(StringPiece category_group) const {
  if (!export_enabled_) return false;
  for (StringPiece category :
       SplitStringPiece(category_group, ',', KEEP_WHITESPACE, SPLIT_WANT_ALL)) {
    if (IsCategoryEnabled(category)) return true;
  }
  return false;
}

void TraceEventEtwExport::Write(const char* const fields[8]) {
  if (!functions_.event_write) return;
  // Counted before the handle is read, so that unregistration either waits for this
  // write or is seen by it.
  active_writes_.fetch_add(1);
  const REGHANDLE handle = handle_.load();
  if (handle != 0) {
    EVENT_DATA_DESCRIPTOR data[8];
    for (int i = 0; i < 8; ++i) {
      const char* text = fields[i] ? fields[i] : "NULL";
      EventDataDescCreate(&data[i], text, static_cast<ULONG>(std::strlen(text) + 1));
    }
    ULONG result = functions_.event_write(handle, &kEventDescriptor, 8, data);
    (void)result;  // a session that cannot keep up loses events; nothing to report
  }
  active_writes_.fetch_sub(1);
}

void TraceEventEtwExport::AddEvent(char phase, const char* name, int num_args,
                                   const char* const* arg_names, const uint8_t* arg_types,
                                   const uint64_t* arg_values) {
  if (!export_enabled_ || !IsEventEnabled()) return;
  char one_char[2];
  const char* phase_text = PhaseText(phase, one_char);
  std::string values[3];
  const char* names[3] = {"", "", ""};
  for (int i = 0; i < num_args && i < 3; ++i) {
    names[i] = arg_names[i] ? arg_names[i] : "";
    if (arg_types[i] == TRACE_VALUE_TYPE_CONVERTABLE) continue;
    TraceValue value;
    value.as_uint = arg_values[i];
    AppendArgValueAsJson(arg_types[i], value, &values[i]);
  }
  // A session may have gone away while the values were formatted.
  if (!IsEventEnabled()) return;
  const char* fields[8] = {name,     phase_text,         names[0], values[0].c_str(),
                           names[1], values[1].c_str(), names[2], values[2].c_str()};
  Write(fields);
}

void TraceEventEtwExport::AddCompleteEndEvent(const char* name) {
  if (!export_enabled_ || !IsEventEnabled()) return;
  const char* fields[8] = {name, "Complete End", "", "", "", "", "", ""};
  Write(fields);
}

// static
bool TraceEventEtwExport::IsCategoryGroupEnabled(StringPiece category_group) {
  TraceEventEtwExport* exporter = GetInstance();
  if (!exporter) return false;
  if (void (*hook)() = g_instance_taken_hook.load()) hook();
  return exporter->IsGroupEnabled(category_group);
}

// static
void TraceEventEtwExport::AddEtwEvent(char phase, const char* name, int num_args,
                                      const char* const* arg_names, const uint8_t* arg_types,
                                      const uint64_t* arg_values) {
  if (TraceEventEtwExport* exporter = GetInstance())
    exporter->AddEvent(phase, name, num_args, arg_names, arg_types, arg_values);
}

// static
void TraceEventEtwExport::AddEtwCompleteEndEvent(const char* name) {
  if (TraceEventEtwExport* exporter = GetInstance()) exporter->AddCompleteEndEvent(name);
}

}  // namespace trace_event
}  // namespace base
