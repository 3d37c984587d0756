// ScopedHandle: the owner of one kernel handle. A held handle is registered with the
// process-wide handle verifier under the holder's address and closed through it. The
// holder never changes the thread's last error, so a caller can still read the error of
// the call that produced the handle after handing it over:
//
//   ScopedHandle file(CreateFileW(...));
//   if (!file.IsValid()) PLOG(ERROR) << "open";  // CreateFileW's error
#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

namespace base {

class ScopedHandle {
 public:
  ScopedHandle() : handle_(nullptr) {}
  // Takes ownership; INVALID_HANDLE_VALUE leaves the holder empty.
  explicit ScopedHandle(HANDLE handle);
  // The handle's tracking moves from |other| to this holder.
  ScopedHandle(ScopedHandle&& other);
  ScopedHandle& operator=(ScopedHandle&& other);
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }

  bool IsValid() const { return handle_ != nullptr; }
  HANDLE Get() const { return handle_; }

  // Closes the held handle and holds |handle| instead; the same handle again does nothing.
  void Set(HANDLE handle);

  // Hands the handle out untracked; the holder becomes empty.
  HANDLE Take();

  // Closes the held handle through the verifier; false only when a protected process
  // handle stayed open (the holder is empty either way). Not [[nodiscard]]: any other
  // failed close is a bug the verifier crashes on, so the caller has nothing to act on;
  // CloseChecked is the form whose failure a caller handles.
  bool Close();

  // Closes the held handle and says whether CloseHandle succeeded, leaving its error for
  // GetLastError: for a file whose last writes can fail at the close, which Close() would
  // take for a bug. The holder is empty either way.
  [[nodiscard]] bool CloseChecked();

 private:
  HANDLE handle_;  // never INVALID_HANDLE_VALUE
};

}  // namespace base

#endif  // BASE_WIN_SCOPED_HANDLE_H_
