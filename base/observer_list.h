// ObserverList<T>: observers notified in registration order, safe against observers
// being added or removed, and against the list itself being destroyed, during a
// notification. Used on one thread.
//
//   observers_.Notify(&Observer::OnProgress, percent);
//   // or
//   ObserverList<Observer>::Iter it(&observers_);
//   while (Observer* observer = it.GetNext()) ...
#ifndef BASE_OBSERVER_LIST_H_
#define BASE_OBSERVER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

#include "base/memory/weak_ptr.h"

namespace base {

template <class ObserverType>
class ObserverList {
 public:
  enum NotificationType {
    // Observers added during a notification are notified too.
    NOTIFY_ALL = 0,
    // Only the observers present when the notification began.
    NOTIFY_EXISTING_ONLY = 1,
  };

  // One pass over the observers; create it on the stack.
  class Iter {
   public:
    explicit Iter(ObserverList* list)
        : list_ref_(list->weak_owner_.GetRef()),
          list_(list),
          index_(0),
          limit_(list->type_ == NOTIFY_EXISTING_ONLY ? list->observers_.size()
                                                     : std::numeric_limits<size_t>::max()) {
      ++list_->notify_depth_;
    }
    Iter(const Iter&) = delete;
    Iter& operator=(const Iter&) = delete;
    ~Iter() {
      if (list_ref_.IsValid() && --list_->notify_depth_ == 0)
        list_->Compact();
    }

    // The next observer still registered, or null at the end (or once the list is gone).
    ObserverType* GetNext() {
      if (!list_ref_.IsValid())
        return nullptr;
      const std::vector<ObserverType*>& observers = list_->observers_;
      size_t end = std::min(limit_, observers.size());
      while (index_ < end && !observers[index_])
        ++index_;
      return index_ < end ? observers[index_++] : nullptr;
    }

   private:
    WeakReference list_ref_;
    ObserverList* list_;
    size_t index_;
    size_t limit_;
  };

  explicit ObserverList(NotificationType type = NOTIFY_ALL) : notify_depth_(0), type_(type) {}
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  // Adding an observer twice has no effect.
  void AddObserver(ObserverType* observer) {
    if (observer && !HasObserver(observer))
      observers_.push_back(observer);
  }

  // While a notification runs the entry is only cleared, so that indexes stay put.
  void RemoveObserver(const ObserverType* observer) {
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (!observer || it == observers_.end())
      return;
    if (notify_depth_ > 0)
      *it = nullptr;
    else
      observers_.erase(it);
  }

  bool HasObserver(const ObserverType* observer) const {
    return observer &&
           std::find(observers_.begin(), observers_.end(), observer) != observers_.end();
  }

  bool HasObservers() const {
    return std::any_of(observers_.begin(), observers_.end(),
                       [](const ObserverType* o) { return o != nullptr; });
  }

  void Clear() {
    if (notify_depth_ > 0)
      std::fill(observers_.begin(), observers_.end(), nullptr);
    else
      observers_.clear();
  }

  // Calls (observer->*method)(args...) on each observer. An observer may destroy the list.
  template <typename Method, typename... Args>
  void Notify(Method method, const Args&... args) {
    Iter it(this);
    while (ObserverType* observer = it.GetNext())
      (observer->*method)(args...);
  }

 private:
  void Compact() {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr),
                     observers_.end());
  }

  WeakReferenceOwner weak_owner_;
  std::vector<ObserverType*> observers_;
  int notify_depth_;
  NotificationType type_;
};

}  // namespace base

#endif  // BASE_OBSERVER_LIST_H_
