#include "base/callback.h"

namespace base {

namespace {

bool NeverCancelled(const BindStateBase*) {
  return false;
}

}  // namespace

BindStateBase::BindStateBase(InvokeFunction invoke, DestroyFunction destroy)
    : BindStateBase(invoke, destroy, &NeverCancelled) {}

BindStateBase::BindStateBase(InvokeFunction invoke, DestroyFunction destroy,
                             CancellationTestFunction is_cancelled)
    : ref_count_(1), invoke_(invoke), destroy_(destroy), is_cancelled_(is_cancelled) {}

}  // namespace base
