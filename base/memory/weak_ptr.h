// Weak references: a WeakPtr<T> names an object without owning it and reads as null once
// the object's WeakPtrFactory (or WeakReferenceOwner) is destroyed or invalidated. A
// callback bound to a method through a WeakPtr does nothing after that.
//
// Validity is meaningful only on the sequence the object lives on: invalidate there, and
// test (or run weakly bound callbacks) there. Copies may travel to any thread.
#ifndef BASE_MEMORY_WEAK_PTR_H_
#define BASE_MEMORY_WEAK_PTR_H_

#include <atomic>
#include <cstddef>

#include "base/atomic_ref_count.h"

namespace base {

// Shared between an owner and its weak references; freed by its last holder.
class WeakReferenceFlag {
 public:
  WeakReferenceFlag() : ref_count_(1), valid_(true) {}
  WeakReferenceFlag(const WeakReferenceFlag&) = delete;
  WeakReferenceFlag& operator=(const WeakReferenceFlag&) = delete;

  void AddRef() const { ref_count_.Increment(); }
  void Release() const;
  bool HasOneRef() const { return ref_count_.IsOne(); }
  void Invalidate() { valid_.store(false, std::memory_order_release); }
  bool IsValid() const { return valid_.load(std::memory_order_acquire); }

 private:
  ~WeakReferenceFlag() = default;

  mutable AtomicRefCount ref_count_;
  std::atomic<bool> valid_;
};

// One counted reference to a flag; no flag reads as invalid.
class WeakReference {
 public:
  WeakReference() : flag_(nullptr) {}
  explicit WeakReference(WeakReferenceFlag* flag);  // takes a new reference
  WeakReference(const WeakReference& other);
  WeakReference(WeakReference&& other) noexcept;
  WeakReference& operator=(const WeakReference& other);
  WeakReference& operator=(WeakReference&& other) noexcept;
  ~WeakReference();

  bool IsValid() const { return flag_ && flag_->IsValid(); }
  void Reset();

 private:
  WeakReferenceFlag* flag_;
};

// Hands out weak references; invalidates them all when destroyed or invalidated.
class WeakReferenceOwner {
 public:
  WeakReferenceOwner() : flag_(nullptr) {}
  WeakReferenceOwner(const WeakReferenceOwner&) = delete;
  WeakReferenceOwner& operator=(const WeakReferenceOwner&) = delete;
  ~WeakReferenceOwner() { Invalidate(); }

  WeakReference GetRef() const;
  bool HasRefs() const { return flag_ && !flag_->HasOneRef(); }
  // References taken so far become invalid; later ones are valid again.
  void Invalidate();

 private:
  mutable WeakReferenceFlag* flag_;
};

template <typename T>
class WeakPtr {
 public:
  constexpr WeakPtr() : ptr_(nullptr) {}
  constexpr WeakPtr(std::nullptr_t) : ptr_(nullptr) {}
  WeakPtr(WeakReference ref, T* ptr) : ref_(static_cast<WeakReference&&>(ref)), ptr_(ptr) {}
  // From a WeakPtr to a derived class.
  template <typename U>
  WeakPtr(const WeakPtr<U>& other) : ref_(other.ref_), ptr_(other.ptr_) {}

  T* get() const { return ref_.IsValid() ? ptr_ : nullptr; }
  T& operator*() const { return *get(); }
  T* operator->() const { return get(); }
  explicit operator bool() const { return get() != nullptr; }
  void reset() {
    ref_.Reset();
    ptr_ = nullptr;
  }

 private:
  template <typename U>
  friend class WeakPtr;

  WeakReference ref_;
  T* ptr_;
};

// Declare it as the last member, so that weak pointers are invalidated before the other
// members are destroyed.
template <typename T>
class WeakPtrFactory {
 public:
  explicit WeakPtrFactory(T* ptr) : ptr_(ptr) {}
  WeakPtrFactory(const WeakPtrFactory&) = delete;
  WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

  WeakPtr<T> GetWeakPtr() const { return WeakPtr<T>(owner_.GetRef(), ptr_); }
  void InvalidateWeakPtrs() { owner_.Invalidate(); }
  bool HasWeakPtrs() const { return owner_.HasRefs(); }

 private:
  WeakReferenceOwner owner_;
  T* ptr_;
};

}  // namespace base

#endif  // BASE_MEMORY_WEAK_PTR_H_
