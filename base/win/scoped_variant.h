// ScopedVariant: the owner of one VARIANT.
#ifndef BASE_WIN_SCOPED_VARIANT_H_
#define BASE_WIN_SCOPED_VARIANT_H_

#include <windows.h>
#include <oleauto.h>

namespace base {

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&variant_); }
  // A VT_BSTR copy of |text|.
  explicit ScopedVariant(const wchar_t* text) {
    VariantInit(&variant_);
    V_VT(&variant_) = VT_BSTR;
    V_BSTR(&variant_) = SysAllocString(text);
  }
  // A VT_UNKNOWN holding its own reference to |unknown|.
  explicit ScopedVariant(IUnknown* unknown) {
    VariantInit(&variant_);
    V_VT(&variant_) = VT_UNKNOWN;
    V_UNKNOWN(&variant_) = unknown;
    if (unknown) unknown->AddRef();
  }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { VariantClear(&variant_); }

  const VARIANT& Get() const { return variant_; }
  // The address of the held VARIANT for a COM out-parameter; clears what was held first.
  VARIANT* Receive() {
    VariantClear(&variant_);
    return &variant_;
  }

 private:
  VARIANT variant_;
};

}  // namespace base

#endif  // BASE_WIN_SCOPED_VARIANT_H_
