// Process-exit behaviour of the process's ETW exporter, one case per run (the exporter
// exists once per process). Exits 0 when every step behaved.
//
//   (no argument)               the exporter is torn down with the exit-callback stack
//                               and never made again;
//   category-during-teardown    a category registered on another thread that took the
//                               exporter just before the teardown still reads it safely.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "base/allocator/allocator_dispatch.h"
#include "base/at_exit.h"
#include "base/synchronization/sync_event.h"
#include "base/trace_event/trace_event_etw_export_win.h"
#include "base/trace_event/trace_log.h"

namespace {

using base::allocator::AllocatorDispatch;
using base::trace_event::TraceEventEtwExport;
using base::trace_event::TraceLog;

// Every freed block is filled with 0xDD first, so that a read through a stale pointer
// follows garbage and crashes instead of finding the old contents.
void* PassAlloc(const AllocatorDispatch* self, size_t size, void* context) {
  return self->next->alloc_function(self->next, size, context);
}
void* PassAllocZero(const AllocatorDispatch* self, size_t count, size_t size, void* context) {
  return self->next->alloc_zero_initialized_function(self->next, count, size, context);
}
void* PassAllocAligned(const AllocatorDispatch* self, size_t alignment, size_t size,
                       void* context) {
  return self->next->alloc_aligned_function(self->next, alignment, size, context);
}
void* PassRealloc(const AllocatorDispatch* self, void* address, size_t size, void* context) {
  return self->next->realloc_function(self->next, address, size, context);
}
void PoisonFree(const AllocatorDispatch* self, void* address, void* context) {
  if (address)
    std::memset(address, 0xDD,
                self->next->get_size_estimate_function(self->next, address, context));
  self->next->free_function(self->next, address, context);
}
size_t PassSize(const AllocatorDispatch* self, void* address, void* context) {
  return self->next->get_size_estimate_function(self->next, address, context);
}
AllocatorDispatch g_poison_freed = {&PassAlloc,   &PassAllocZero, &PassAllocAligned,
                                    &PassRealloc, &PoisonFree,    &PassSize,
                                    nullptr};

base::SyncEvent* g_exporter_taken = nullptr;
base::SyncEvent* g_teardown_done = nullptr;
std::atomic<bool> g_pause_next_caller{false};

void PauseOnce() {
  if (!g_pause_next_caller.exchange(false)) return;
  g_exporter_taken->Signal();
  g_teardown_done->Wait();
}

int TornDownForGood() {
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

int CategoryDuringTeardown() {
  base::allocator::InsertAllocatorDispatch(&g_poison_freed);
  base::SyncEvent exporter_taken(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED);
  base::SyncEvent teardown_done(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED);
  g_exporter_taken = &exporter_taken;
  g_teardown_done = &teardown_done;
  uint8_t state = 0xFF;
  std::thread registering;
  {
    base::ExitCallbackStack exit_callbacks;
    if (*TraceLog::GetCategoryGroupEnabled("toplevel") != 0) return 11;
    TraceEventEtwExport::SetInstanceTakenHookForTesting(&PauseOnce);
    g_pause_next_caller = true;
    registering = std::thread(
        [&state] { state = *TraceLog::GetCategoryGroupEnabled("registered.during.teardown"); });
    exporter_taken.Wait();
  }
  // The stack has ended while the other thread holds the exporter.
  teardown_done.Signal();
  registering.join();
  TraceEventEtwExport::SetInstanceTakenHookForTesting(nullptr);
  if (state != 0) return 12;
  if (TraceEventEtwExport::GetInstance()) return 13;
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wcscmp(argv[1], L"category-during-teardown") == 0)
    return CategoryDuringTeardown();
  return TornDownForGood();
}
