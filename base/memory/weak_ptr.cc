#include "base/memory/weak_ptr.h"

#include <utility>

namespace base {

void WeakReferenceFlag::Release() const {
  if (ref_count_.Decrement())
    delete this;
}

WeakReference::WeakReference(WeakReferenceFlag* flag) : flag_(flag) {
  if (flag_)
    flag_->AddRef();
}

WeakReference::WeakReference(const WeakReference& other) : WeakReference(other.flag_) {}

WeakReference::WeakReference(WeakReference&& other) noexcept : flag_(other.flag_) {
  other.flag_ = nullptr;
}

WeakReference& WeakReference::operator=(const WeakReference& other) {
  WeakReference copy(other);
  std::swap(flag_, copy.flag_);
  return *this;
}

WeakReference& WeakReference::operator=(WeakReference&& other) noexcept {
  WeakReference taken(std::move(other));
  std::swap(flag_, taken.flag_);
  return *this;
}

WeakReference::~WeakReference() {
  Reset();
}

void WeakReference::Reset() {
  WeakReferenceFlag* flag = flag_;
  flag_ = nullptr;
  if (flag)
    flag->Release();
}

WeakReference WeakReferenceOwner::GetRef() const {
  // With no reference left outside, start a fresh flag: an invalidated or idle one may be
  // dropped without anyone noticing.
  if (!flag_ || flag_->HasOneRef()) {
    WeakReferenceFlag* old = flag_;
    flag_ = new WeakReferenceFlag();
    if (old)
      old->Release();
  }
  return WeakReference(flag_);
}

void WeakReferenceOwner::Invalidate() {
  if (!flag_)
    return;
  flag_->Invalidate();
  flag_->Release();
  flag_ = nullptr;
}

}  // namespace base
