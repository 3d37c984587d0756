// Ends the process at once with an illegal-instruction fault: no unwinding, no handlers
// of our own, the faulting frame and its locals intact for the crash dump.
#ifndef BASE_IMMEDIATE_CRASH_H_
#define BASE_IMMEDIATE_CRASH_H_

namespace base {

[[noreturn]] inline void ImmediateCrash() { __builtin_trap(); }

}  // namespace base

#endif  // BASE_IMMEDIATE_CRASH_H_
