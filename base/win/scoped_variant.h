// ScopedVariant: the owner of one VARIANT.
#ifndef BASE_WIN_SCOPED_VARIANT_H_
#define BASE_WIN_SCOPED_VARIANT_H_

#include <windows.h>
#include <oleauto.h>

#include "base/win/scoped_generic.h"

namespace base {

class ScopedVariant : public ScopedGeneric<VARIANT, VariantTraits> {
 public:
  ScopedVariant() = default;
  // A VT_BSTR copy of |text|.
  explicit ScopedVariant(const wchar_t* text) : ScopedGeneric(MakeBstr(text)) {}
  // A VT_UNKNOWN holding its own reference to |unknown|.
  explicit ScopedVariant(IUnknown* unknown) : ScopedGeneric(MakeUnknown(unknown)) {}

 private:
  static VARIANT MakeBstr(const wchar_t* text) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(text);
    return value;
  }
  static VARIANT MakeUnknown(IUnknown* unknown) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_UNKNOWN;
    V_UNKNOWN(&value) = unknown;
    if (unknown) unknown->AddRef();
    return value;
  }
};

}  // namespace base

#endif  // BASE_WIN_SCOPED_VARIANT_H_
