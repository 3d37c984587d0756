// ScopedBstr: the owner of one BSTR.
#ifndef BASE_WIN_SCOPED_BSTR_H_
#define BASE_WIN_SCOPED_BSTR_H_

#include <windows.h>
#include <oleauto.h>

namespace base {

class ScopedBstr {
 public:
  ScopedBstr() : bstr_(nullptr) {}
  // A copy of |text|; null when |text| is null or the allocation fails.
  explicit ScopedBstr(const wchar_t* text) : bstr_(SysAllocString(text)) {}
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ~ScopedBstr() { SysFreeString(bstr_); }

  BSTR Get() const { return bstr_; }

  // The address of the held BSTR for a COM out-parameter; frees what was held first.
  BSTR* Receive() {
    SysFreeString(bstr_);
    bstr_ = nullptr;
    return &bstr_;
  }

 private:
  BSTR bstr_;
};

}  // namespace base

#endif  // BASE_WIN_SCOPED_BSTR_H_
