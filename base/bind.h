// Bind(functor, bound arguments...) makes a Callback of the arguments left unbound.
//
//   Bind(&Function, 1)                    plain function, first argument bound
//   Bind(&Class::Method, object, "x")     method on a raw pointer (caller keeps it alive)
//   Bind(&Class::Method, scoped_refptr)   the callback holds a reference to the object
//   Bind(&Class::Method, weak_ptr)        does nothing once the object is gone (void only)
//   Bind([](int a) { ... })               a lambda or other function object
//
// Bound values are copied into the callback, handed to the function as lvalues on every
// run, and destroyed with the last copy of the callback.
#ifndef BASE_BIND_H_
#define BASE_BIND_H_

#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "base/callback.h"
#include "base/memory/weak_ptr.h"

namespace base {

namespace bind_internal {

template <typename... T>
struct TypeList {};

// Drops the first N types of a list.
template <size_t N, typename List, typename = void>
struct DropTypes {
  using Type = List;
};
template <size_t N, typename First, typename... Rest>
struct DropTypes<N, TypeList<First, Rest...>, std::enable_if_t<(N > 0)>> {
  using Type = typename DropTypes<N - 1, TypeList<Rest...>>::Type;
};

template <typename R, typename List>
struct MakeCallbackType;
template <typename R, typename... Args>
struct MakeCallbackType<R, TypeList<Args...>> {
  using Type = Callback<R(Args...)>;
};

// Return type, parameters and kind of a functor.
template <typename F, typename = void>
struct FunctorTraits;
template <typename R, typename... P>
struct FunctorTraits<R (*)(P...)> {
  using Return = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = false;
};
template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...)> {
  using Return = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = true;
};
template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...) const> : FunctorTraits<R (C::*)(P...)> {};
// Lambdas and other function objects with one operator().
template <typename F>
struct FunctorTraits<F, std::void_t<decltype(&F::operator())>>
    : FunctorTraits<decltype(&F::operator())> {
  static constexpr bool kIsMethod = false;
};

template <typename T>
struct IsWeakPtr : std::false_type {};
template <typename T>
struct IsWeakPtr<WeakPtr<T>> : std::true_type {};

template <typename Functor, typename... Bound>
struct FirstIsWeakReceiver : std::false_type {};
template <typename Functor, typename First, typename... Rest>
struct FirstIsWeakReceiver<Functor, First, Rest...>
    : std::integral_constant<bool, FunctorTraits<Functor>::kIsMethod && IsWeakPtr<First>::value> {
};

template <typename Functor, typename... Bound>
class BindState : public BindStateBase {
 public:
  using FunctorType = Functor;
  static constexpr bool kIsWeakCall = FirstIsWeakReceiver<Functor, Bound...>::value;

  template <typename F, typename... B>
  BindState(InvokeFunction invoke, F&& functor, B&&... bound)
      : BindStateBase(invoke, &Destroy, &IsCancelled),
        functor_(std::forward<F>(functor)),
        bound_(std::forward<B>(bound)...) {}

  template <typename R, typename... Args>
  static R Invoke(BindStateBase* base, Args&&... args) {
    BindState* self = static_cast<BindState*>(base);
    if constexpr (kIsWeakCall) {
      static_assert(std::is_void_v<R>, "a weakly bound method must return void");
      if (!std::get<0>(self->bound_))
        return;
      self->Call(std::index_sequence_for<Bound...>(), std::forward<Args>(args)...);
    } else {
      return self->Call(std::index_sequence_for<Bound...>(), std::forward<Args>(args)...);
    }
  }

 private:
  ~BindState() = default;

  static void Destroy(const BindStateBase* base) { delete static_cast<const BindState*>(base); }
  static bool IsCancelled(const BindStateBase* base) {
    if constexpr (kIsWeakCall)
      return !std::get<0>(static_cast<const BindState*>(base)->bound_);
    return false;
  }

  template <size_t... I, typename... Args>
  decltype(auto) Call(std::index_sequence<I...>, Args&&... args) {
    if constexpr (kIsWeakCall) {
      // Methods through a WeakPtr take the object pointer the WeakPtr names.
      return CallWeak(std::index_sequence<I...>(), std::forward<Args>(args)...);
    } else {
      return std::invoke(functor_, std::get<I>(bound_)..., std::forward<Args>(args)...);
    }
  }
  template <size_t First, size_t... I, typename... Args>
  void CallWeak(std::index_sequence<First, I...>, Args&&... args) {
    std::invoke(functor_, std::get<0>(bound_).get(), std::get<I>(bound_)...,
                std::forward<Args>(args)...);
  }

  Functor functor_;
  std::tuple<Bound...> bound_;
};

// The type-erased pointer to State::Invoke for the callback's run-time arguments.
template <typename State, typename... Args>
BindStateBase::InvokeFunction InvokerFor(TypeList<Args...>) {
  using R = typename FunctorTraits<typename State::FunctorType>::Return;
  return reinterpret_cast<BindStateBase::InvokeFunction>(
      &State::template Invoke<R, Args...>);
}

}  // namespace bind_internal

template <typename Functor, typename... Bound>
auto Bind(Functor&& functor, Bound&&... bound) {
  using F = std::decay_t<Functor>;
  using Traits = bind_internal::FunctorTraits<F>;
  static_assert(!Traits::kIsMethod || sizeof...(Bound) > 0, "a method needs its receiver bound");
  // A method's receiver is bound in front of its parameters.
  constexpr size_t kBoundParams = sizeof...(Bound) - (Traits::kIsMethod ? 1 : 0);
  using Remaining =
      typename bind_internal::DropTypes<kBoundParams, typename Traits::Params>::Type;
  using CallbackType =
      typename bind_internal::MakeCallbackType<typename Traits::Return, Remaining>::Type;
  using State = bind_internal::BindState<F, std::decay_t<Bound>...>;
  return CallbackType(new State(bind_internal::InvokerFor<State>(Remaining()),
                                std::forward<Functor>(functor), std::forward<Bound>(bound)...));
}

}  // namespace base

#endif  // BASE_BIND_H_
