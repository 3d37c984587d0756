// The process-wide handle verifier: records which owner holds which kernel handle and
// ends the process at once, with the evidence in its stack frame for a crash dump, when
// a handle is tracked twice, released by the wrong owner or closed behind its owner's
// back. A host executable that exports "GetHandleVerifier" lends its verifier to this
// library, so that ownership is checked across both modules.
#ifndef BASE_WIN_HANDLE_VERIFIER_H_
#define BASE_WIN_HANDLE_VERIFIER_H_

#include <windows.h>

namespace base {

// Shared with other modules through "GetHandleVerifier": the virtual functions keep this
// exact slot order, and there is no virtual destructor (it would take two slots).
class HandleVerifier {
 public:
  // Closes |handle|; false only for a process handle protected from closing.
  [[nodiscard]] virtual bool CloseHandle(HANDLE handle) = 0;
  virtual void StartTracking(HANDLE handle, const void* owner, const void* pc1,
                             const void* pc2) = 0;
  virtual void StopTracking(HANDLE handle, const void* owner, const void* pc1,
                            const void* pc2) = 0;
  // Stops all checks for the rest of the process.
  virtual void Disable() = 0;
  // A tracked handle being closed by anybody but the verifier ends the process.
  virtual void OnHandleBeingClosed(HANDLE handle) = 0;
  // The image base of the module that implements this verifier.
  virtual HMODULE GetModule() const = 0;

 protected:
  ~HandleVerifier() = default;  // verifiers live until the process ends
};

// The signature of the exported "GetHandleVerifier".
typedef HandleVerifier* (*GetHandleVerifierFunction)();

// The active verifier, installed on first use: the main executable's when it exports its
// own, else this module's (tracking only when the main executable exports ours).
HandleVerifier* GetHandleVerifier();

// Install the active verifier when needed and forward to it.
[[nodiscard]] bool CloseHandleVerified(HANDLE handle);
void StartTrackingHandle(HANDLE handle, const void* owner, const void* pc1, const void* pc2);
void StopTrackingHandle(HANDLE handle, const void* owner, const void* pc1, const void* pc2);

// The raw close. A failure ends the process, except for a process handle protected from
// closing, which gives false.
[[nodiscard]] bool CloseHandleWithDiagnostics(HANDLE handle);

// True for any handle value except null and INVALID_HANDLE_VALUE.
inline bool IsHandleValueValid(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace base

#endif  // BASE_WIN_HANDLE_VERIFIER_H_
