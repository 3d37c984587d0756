#include "base/win/exception_guard.h"

// The guard is a small assembly frame whose unwind information names our own language
// handler, which is what a compiler's __try emits. The frame keeps the filter and its
// context just below the saved frame pointer, where the handler finds them through the
// establisher frame.
extern "C" {
int velum_RunGuarded(void (*function)(void*), void* context, base::ExceptionGuardFilter filter,
                     void* filter_context);
extern char velum_RunGuarded_landing[];
EXCEPTION_DISPOSITION velum_ExceptionGuardHandler(EXCEPTION_RECORD* record,
                                                  void* establisher_frame, CONTEXT* context,
                                                  DISPATCHER_CONTEXT* dispatcher);
}

asm(R"(
  .text
  .globl velum_RunGuarded
  .globl velum_RunGuarded_landing
  .def velum_RunGuarded; .scl 2; .type 32; .endef
  .seh_proc velum_RunGuarded
velum_RunGuarded:
  pushq %rbp
  .seh_pushreg %rbp
  movq %rsp, %rbp
  .seh_setframe %rbp, 0
  subq $48, %rsp
  .seh_stackalloc 48
  .seh_endprologue
  movq %r8, -8(%rbp)
  movq %r9, -16(%rbp)
  movq %rcx, %rax
  movq %rdx, %rcx
  call *%rax
  movl $1, %eax
velum_RunGuarded_landing:
  nop
  addq $48, %rsp
  popq %rbp
  ret
  .seh_handler velum_ExceptionGuardHandler, @except
  .seh_endproc
)");

EXCEPTION_DISPOSITION velum_ExceptionGuardHandler(EXCEPTION_RECORD* record,
                                                  void* establisher_frame, CONTEXT* context,
                                                  DISPATCHER_CONTEXT* dispatcher) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  void* const* frame = static_cast<void* const*>(establisher_frame);
  const auto filter = reinterpret_cast<base::ExceptionGuardFilter>(frame[-1]);
  EXCEPTION_POINTERS pointers = {record, context};
  const LONG verdict = filter(&pointers, frame[-2]);
  if (verdict == EXCEPTION_CONTINUE_EXECUTION) return ExceptionContinueExecution;
  if (verdict != EXCEPTION_EXECUTE_HANDLER) return ExceptionContinueSearch;
  // Unwinds every frame above the guard and resumes at the landing with eax = 0.
  RtlUnwindEx(establisher_frame, velum_RunGuarded_landing, record, nullptr,
              dispatcher->ContextRecord, dispatcher->HistoryTable);
  return ExceptionContinueSearch;  // not reached
}

namespace base {

bool RunWithExceptionGuard(void (*function)(void* context), void* context,
                           ExceptionGuardFilter filter, void* filter_context) {
  return velum_RunGuarded(function, context, filter, filter_context) != 0;
}

}  // namespace base
