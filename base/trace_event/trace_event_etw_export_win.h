// Forwards trace events, as text fields, to Event Tracing for Windows. The provider is
// registered at creation so that an outside session can enable it; whether events are
// exported is decided by this exporter's own switch and category flags, which nothing
// in the installer turns on.
//
//   if (TraceEventEtwExport::IsCategoryGroupEnabled("toplevel"))
//     TraceEventEtwExport::AddEtwEvent('X', "MessageLoop::RunTask", 0, ...);
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_

#include <windows.h>

#include <evntprov.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "base/strings/string_piece.h"

namespace base {
namespace trace_event {

class TraceEventEtwExport {
 public:
  // The ETW entry points, looked up in "Advapi32.dll" at run time.
  struct Functions {
    ULONG(WINAPI* event_register)(LPCGUID provider, PENABLECALLBACK callback, PVOID context,
                                  PREGHANDLE handle);
    ULONG(WINAPI* event_write)(REGHANDLE handle, PCEVENT_DESCRIPTOR descriptor, ULONG count,
                               PEVENT_DATA_DESCRIPTOR data);
    ULONG(WINAPI* event_unregister)(REGHANDLE handle);
  };

  // What the sessions asked for, updated by the enable callback on an ETW thread.
  struct EnableContext {
    uint64_t match_any_keyword = 0;
    uint64_t match_all_keyword = 0;
    uint32_t is_enabled = 0;
    uint8_t level = 0;
    // One event: its enable bit, keyword and level.
    std::atomic<uint32_t> event_enable_bits{0};
    uint64_t event_keyword = 0x8000000000000000ull;
    uint8_t event_level = 4;
  };

  static const GUID kProviderGuid;  // {D2D578D9-2936-45B6-A09F-30E32715F42D}

  // The process's exporter, created (and registered) on first use; null once it has
  // been torn down at process exit. A pointer once returned stays valid for the life of
  // the process: other threads may still hold it while the process exits.
  static TraceEventEtwExport* GetInstance();
  // False without the exporter or while export is off.
  static bool IsCategoryGroupEnabled(StringPiece category_group);
  static void AddEtwEvent(char phase, const char* name, int num_args,
                          const char* const* arg_names, const uint8_t* arg_types,
                          const uint64_t* arg_values);
  static void AddEtwCompleteEndEvent(const char* name);

  // An exporter over |functions| (any of them may be null); registers at once.
  explicit TraceEventEtwExport(const Functions& functions);
  ~TraceEventEtwExport();
  TraceEventEtwExport(const TraceEventEtwExport&) = delete;
  TraceEventEtwExport& operator=(const TraceEventEtwExport&) = delete;

  bool IsGroupEnabled(StringPiece category_group) const;
  void AddEvent(char phase, const char* name, int num_args, const char* const* arg_names,
                const uint8_t* arg_types, const uint64_t* arg_values);
  void AddCompleteEndEvent(const char* name);

  bool is_registered() const { return handle_.load() != 0; }
  const EnableContext& enable_context() const { return context_; }
  // The enable callback, as ETW calls it.
  static void NTAPI EnableCallback(LPCGUID source, ULONG control_code, UCHAR level,
                                   ULONGLONG match_any_keyword, ULONGLONG match_all_keyword,
                                   PEVENT_FILTER_DESCRIPTOR filter, PVOID context);

  // Nothing in the installer exports; tests do.
  void SetExportEnabledForTesting(bool enabled) { export_enabled_ = enabled; }
  void SetCategoryEnabledForTesting(const std::string& category, bool enabled) {
    categories_[category] = enabled;
  }

  // Process-exit teardown of the process's exporter: unregisters it and makes
  // GetInstance return null from then on. The exporter itself is kept.
  static void TearDownForProcessExit(void* unused);

  // Runs |hook| (null: nothing) each time a category decision has taken the process's
  // exporter and before it reads it, so that tests can end the process meanwhile.
  static void SetInstanceTakenHookForTesting(void (*hook)());

 private:
  bool IsCategoryEnabled(StringPiece category) const;
  bool IsEventEnabled() const;
  void Write(const char* const fields[8]);
  void RegisterEtwProvider();
  void UnregisterEtwProvider();

  Functions functions_;
  std::atomic<REGHANDLE> handle_{0};
  // Writes in progress; unregistration waits for them, since they use the handle.
  std::atomic<int> active_writes_{0};
  EnableContext context_;
  bool export_enabled_ = false;
  std::map<std::string, bool> categories_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
