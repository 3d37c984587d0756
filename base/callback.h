// Callback<R(Args...)>: a reference-counted bound function. Copies share one bind state;
// the state and its bound values are freed when the last copy goes. Made by base::Bind
// (base/bind.h).
#ifndef BASE_CALLBACK_H_
#define BASE_CALLBACK_H_

#include <utility>

#include "base/atomic_ref_count.h"
#include "base/logging.h"

namespace base {

// The shared, type-erased part of every bound function.
class BindStateBase {
 public:
  // The real signature, R(*)(BindStateBase*, Args&&...), is restored by Callback::Run.
  using InvokeFunction = void (*)();
  using DestroyFunction = void (*)(const BindStateBase*);
  using CancellationTestFunction = bool (*)(const BindStateBase*);

  BindStateBase(const BindStateBase&) = delete;
  BindStateBase& operator=(const BindStateBase&) = delete;

  void AddRef() const { ref_count_.Increment(); }
  void Release() const {
    if (ref_count_.Decrement())
      destroy_(this);
  }
  bool IsCancelled() const { return is_cancelled_(this); }
  InvokeFunction invoke() const { return invoke_; }

 protected:
  // The count starts at 1: the creating Callback adopts that reference.
  BindStateBase(InvokeFunction invoke, DestroyFunction destroy);
  BindStateBase(InvokeFunction invoke, DestroyFunction destroy,
                CancellationTestFunction is_cancelled);
  ~BindStateBase() = default;

 private:
  mutable AtomicRefCount ref_count_;
  InvokeFunction invoke_;
  DestroyFunction destroy_;
  CancellationTestFunction is_cancelled_;
};

template <typename Signature>
class Callback;

template <typename R, typename... Args>
class Callback<R(Args...)> {
 public:
  using RunType = R(Args...);
  using InvokeFunction = R (*)(BindStateBase*, Args&&...);

  constexpr Callback() : state_(nullptr) {}
  // Adopts the state's first reference.
  explicit Callback(BindStateBase* state) : state_(state) {}
  Callback(const Callback& other) : state_(other.state_) {
    if (state_)
      state_->AddRef();
  }
  Callback(Callback&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  Callback& operator=(const Callback& other) {
    Callback(other).swap(*this);
    return *this;
  }
  Callback& operator=(Callback&& other) noexcept {
    Callback(std::move(other)).swap(*this);
    return *this;
  }
  ~Callback() { Reset(); }

  void Reset() {
    BindStateBase* state = state_;
    state_ = nullptr;
    if (state)
      state->Release();
  }
  bool is_null() const { return state_ == nullptr; }
  explicit operator bool() const { return state_ != nullptr; }
  // True when running would do nothing because a weakly bound receiver is gone.
  bool IsCancelled() const {
    CHECK(state_);
    return state_->IsCancelled();
  }
  // Two callbacks are equal when they share one bind state (or both are null).
  bool Equals(const Callback& other) const { return state_ == other.state_; }

  R Run(Args... args) const {
    CHECK(state_) << "running a null callback";
    // Hold a reference for the call: the bound function may destroy this callback (and
    // the object that owns it) while its bound values are still in use.
    StateReference keep(state_);
    InvokeFunction invoke = reinterpret_cast<InvokeFunction>(keep.state->invoke());
    return invoke(keep.state, std::forward<Args>(args)...);
  }

  void swap(Callback& other) noexcept { std::swap(state_, other.state_); }

 private:
  struct StateReference {
    explicit StateReference(BindStateBase* s) : state(s) { state->AddRef(); }
    ~StateReference() { state->Release(); }
    BindStateBase* state;
  };

  BindStateBase* state_;
};

using Closure = Callback<void()>;

}  // namespace base

#endif  // BASE_CALLBACK_H_
