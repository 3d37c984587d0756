// Creates the process's ETW exporter inside an exit-callback stack, lets the stack end,
// and checks that the exporter stays gone. Exits 0 when every step behaved.
#include <windows.h>

#include "base/at_exit.h"
#include "base/trace_event/trace_event_etw_export_win.h"
#include "base/trace_event/trace_log.h"

int wmain() {
  using base::trace_event::TraceEventEtwExport;
  using base::trace_event::TraceLog;
  {
    base::ExitCallbackStack exit_callbacks;
    // The first category lookup creates the exporter.
    if (*TraceLog::GetCategoryGroupEnabled("toplevel") != 0) return 1;
    TraceEventEtwExport* exporter = TraceEventEtwExport::GetInstance();
    if (!exporter) return 2;
    if (!exporter->is_registered()) return 3;
    if (TraceEventEtwExport::GetInstance() != exporter) return 4;
  }
  // Torn down with the stack, and never made again.
  if (TraceEventEtwExport::GetInstance()) return 5;
  if (TraceEventEtwExport::IsCategoryGroupEnabled("toplevel")) return 6;
  if (*TraceLog::GetCategoryGroupEnabled("a.new.category") != 0) return 7;
  TraceEventEtwExport::AddEtwCompleteEndEvent("after teardown");
  return 0;
}
