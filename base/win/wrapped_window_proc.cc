#include "base/win/wrapped_window_proc.h"

#include <atomic>

#include "base/win/exception_guard.h"

namespace base {
namespace {

std::atomic<WindowProcExceptionFilter> g_filter{nullptr};

struct WindowProcCall {
  WNDPROC proc;
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  LRESULT result;
};

void RunWindowProc(void* context) {
  WindowProcCall* call = static_cast<WindowProcCall*>(context);
  call->result = call->proc(call->window, call->message, call->wparam, call->lparam);
}

LONG GuardFilter(EXCEPTION_POINTERS* info, void*) { return CallWindowProcExceptionFilter(info); }

}  // namespace

WindowProcExceptionFilter SetWindowProcExceptionFilter(WindowProcExceptionFilter filter) {
  return g_filter.exchange(filter);
}

LONG CallWindowProcExceptionFilter(EXCEPTION_POINTERS* info) {
  const WindowProcExceptionFilter filter = g_filter.load();
  return filter ? filter(info) : EXCEPTION_CONTINUE_SEARCH;
}

LRESULT CallWindowProcGuarded(WNDPROC proc, HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam) {
  WindowProcCall call = {proc, window, message, wparam, lparam, 0};
  if (!RunWithExceptionGuard(&RunWindowProc, &call, &GuardFilter, nullptr)) return 0;
  return call.result;
}

}  // namespace base
