#include "base/win/scoped_handle.h"

#include "base/location.h"
#include "base/win/handle_verifier.h"

namespace base {

ScopedHandle::ScopedHandle(HANDLE handle) : handle_(nullptr) { Set(handle); }

ScopedHandle::ScopedHandle(ScopedHandle&& other) : handle_(nullptr) { Set(other.Take()); }

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) {
  if (this != &other) Set(other.Take());
  return *this;
}

void ScopedHandle::Set(HANDLE handle) {
  if (handle == handle_) return;
  const DWORD last_error = GetLastError();
  Close();
  if (IsHandleValueValid(handle)) {
    handle_ = handle;
    StartTrackingHandle(handle, this, __builtin_return_address(0), GetCallerAddress());
  }
  SetLastError(last_error);
}

HANDLE ScopedHandle::Take() {
  HANDLE handle = handle_;
  handle_ = nullptr;
  if (IsHandleValueValid(handle))
    StopTrackingHandle(handle, this, __builtin_return_address(0), GetCallerAddress());
  return handle;
}

bool ScopedHandle::Close() {
  if (!IsHandleValueValid(handle_)) return true;
  const DWORD last_error = GetLastError();
  HANDLE handle = handle_;
  StopTrackingHandle(handle, this, __builtin_return_address(0), GetCallerAddress());
  handle_ = nullptr;
  const bool closed = CloseHandleVerified(handle);
  SetLastError(last_error);
  return closed;
}

bool ScopedHandle::CloseChecked() {
  if (!IsHandleValueValid(handle_)) return true;
  return ::CloseHandle(Take()) != FALSE;
}

}  // namespace base
