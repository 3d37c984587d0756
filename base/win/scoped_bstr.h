// ScopedBstr: the owner of one BSTR.
#ifndef BASE_WIN_SCOPED_BSTR_H_
#define BASE_WIN_SCOPED_BSTR_H_

#include <windows.h>
#include <oleauto.h>

#include "base/win/scoped_generic.h"

namespace base {

class ScopedBstr : public ScopedGeneric<BSTR, BstrTraits> {
 public:
  ScopedBstr() = default;
  // A copy of |text|; null when |text| is null or the allocation fails.
  explicit ScopedBstr(const wchar_t* text) : ScopedGeneric(SysAllocString(text)) {}
};

}  // namespace base

#endif  // BASE_WIN_SCOPED_BSTR_H_
