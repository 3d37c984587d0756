// The process-wide window-procedure exception filter: the one hook through which the
// crash reporter sees exceptions raised inside window procedures, and the wrapper that
// runs a window procedure under it.
#ifndef BASE_WIN_WRAPPED_WINDOW_PROC_H_
#define BASE_WIN_WRAPPED_WINDOW_PROC_H_

#include <windows.h>

namespace base {

typedef LONG (WINAPI* WindowProcExceptionFilter)(EXCEPTION_POINTERS* info);

// Installs |filter| (null removes it) and returns the previous one. Any thread.
WindowProcExceptionFilter SetWindowProcExceptionFilter(WindowProcExceptionFilter filter);

// The installed filter's verdict, or EXCEPTION_CONTINUE_SEARCH when none is installed.
LONG CallWindowProcExceptionFilter(EXCEPTION_POINTERS* info);

// Calls proc(window, message, wparam, lparam) inside an exception guard whose filter is
// the installed one. When the filter takes an exception, the result is 0.
LRESULT CallWindowProcGuarded(WNDPROC proc, HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam);

// A window procedure for RegisterClassEx that runs |proc| guarded.
template <WNDPROC proc>
LRESULT CALLBACK WrappedWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return CallWindowProcGuarded(proc, window, message, wparam, lparam);
}

}  // namespace base

#endif  // BASE_WIN_WRAPPED_WINDOW_PROC_H_
