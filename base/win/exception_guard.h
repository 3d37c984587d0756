// A structured-exception guard (the __try/__except of other compilers, which GCC lacks):
// runs a function with a filter that sees every exception escaping it. The filter answers
// as an __except filter does: EXCEPTION_EXECUTE_HANDLER ends the exception at the guard,
// EXCEPTION_CONTINUE_SEARCH lets it travel on, EXCEPTION_CONTINUE_EXECUTION resumes it.
#ifndef BASE_WIN_EXCEPTION_GUARD_H_
#define BASE_WIN_EXCEPTION_GUARD_H_

#include <windows.h>

namespace base {

typedef LONG (*ExceptionGuardFilter)(EXCEPTION_POINTERS* info, void* filter_context);

// Runs function(context). Returns true when it returned normally, false when |filter|
// chose EXCEPTION_EXECUTE_HANDLER for an exception from it (its frames are unwound).
[[nodiscard]] bool RunWithExceptionGuard(void (*function)(void* context), void* context,
                                         ExceptionGuardFilter filter, void* filter_context);

}  // namespace base

#endif  // BASE_WIN_EXCEPTION_GUARD_H_
