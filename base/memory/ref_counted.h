// Thread-safe reference counting: RefCountedThreadSafe<T> as a base class and
// scoped_refptr<T> as the owning pointer.
//
//   class Job : public base::RefCountedThreadSafe<Job> {
//    private:
//     friend class base::RefCountedThreadSafe<Job>;
//     ~Job();
//   };
//   base::scoped_refptr<Job> job = base::MakeRefCounted<Job>();
#ifndef BASE_MEMORY_REF_COUNTED_H_
#define BASE_MEMORY_REF_COUNTED_H_

#include <cstddef>
#include <utility>

#include "base/atomic_ref_count.h"

namespace base {

template <class T, typename Traits>
class RefCountedThreadSafe;

// The default destruction policy: delete at the last release.
template <typename T>
struct DefaultRefCountedThreadSafeTraits {
  static void Destruct(const T* object) {
    RefCountedThreadSafe<T, DefaultRefCountedThreadSafeTraits>::DeleteInternal(object);
  }
};

template <class T, typename Traits = DefaultRefCountedThreadSafeTraits<T>>
class RefCountedThreadSafe {
 public:
  RefCountedThreadSafe(const RefCountedThreadSafe&) = delete;
  RefCountedThreadSafe& operator=(const RefCountedThreadSafe&) = delete;

  void AddRef() const { ref_count_.Increment(); }
  void Release() const {
    if (ref_count_.Decrement())
      Traits::Destruct(static_cast<const T*>(this));
  }
  bool HasOneRef() const { return ref_count_.IsOne(); }

 protected:
  RefCountedThreadSafe() : ref_count_(0) {}
  ~RefCountedThreadSafe() = default;

 private:
  friend struct DefaultRefCountedThreadSafeTraits<T>;
  static void DeleteInternal(const T* object) { delete object; }

  mutable AtomicRefCount ref_count_;
};

// Holds one reference to a reference-counted object.
template <class T>
class scoped_refptr {
 public:
  constexpr scoped_refptr() : ptr_(nullptr) {}
  constexpr scoped_refptr(std::nullptr_t) : ptr_(nullptr) {}
  scoped_refptr(T* p) : ptr_(p) {
    if (ptr_)
      ptr_->AddRef();
  }
  scoped_refptr(const scoped_refptr& other) : scoped_refptr(other.ptr_) {}
  template <typename U>
  scoped_refptr(const scoped_refptr<U>& other) : scoped_refptr(other.get()) {}
  scoped_refptr(scoped_refptr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  template <typename U>
  scoped_refptr(scoped_refptr<U>&& other) noexcept : ptr_(other.release()) {}
  ~scoped_refptr() {
    if (ptr_)
      ptr_->Release();
  }

  scoped_refptr& operator=(scoped_refptr other) noexcept {
    swap(other);
    return *this;
  }

  T* get() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  void reset() { scoped_refptr().swap(*this); }
  // Gives up the reference without releasing it.
  T* release() {
    T* p = ptr_;
    ptr_ = nullptr;
    return p;
  }
  void swap(scoped_refptr& other) noexcept { std::swap(ptr_, other.ptr_); }

  template <typename U>
  bool operator==(const scoped_refptr<U>& other) const { return ptr_ == other.get(); }
  template <typename U>
  bool operator!=(const scoped_refptr<U>& other) const { return ptr_ != other.get(); }
  bool operator==(std::nullptr_t) const { return ptr_ == nullptr; }
  bool operator!=(std::nullptr_t) const { return ptr_ != nullptr; }

 private:
  T* ptr_;
};

template <typename T, typename... Args>
scoped_refptr<T> MakeRefCounted(Args&&... args) {
  return scoped_refptr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace base

#endif  // BASE_MEMORY_REF_COUNTED_H_
