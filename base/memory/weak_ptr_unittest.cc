#include "base/memory/weak_ptr.h"

#include <windows.h>

#include <memory>

#include "base/bind.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class Target {
 public:
  Target() : factory_(this) {}
  void Add(int n) { total += n; }
  WeakPtr<Target> AsWeakPtr() { return factory_.GetWeakPtr(); }

  int total = 0;

 private:
  WeakPtrFactory<Target> factory_;
};

DWORD WINAPI RunClosure(void* closure) {
  static_cast<Closure*>(closure)->Run();
  return 0;
}

TEST(WeakPtrTest, WeakBoundCallbackAfterTargetIsGoneDoesNothing) {
  auto target = std::make_unique<Target>();
  Callback<void(int)> add = Bind(&Target::Add, target->AsWeakPtr());
  add.Run(3);
  EXPECT_EQ(3, target->total);
  EXPECT_FALSE(add.IsCancelled());

  Closure late = Bind(&Target::Add, target->AsWeakPtr(), 5);
  target.reset();
  EXPECT_TRUE(add.IsCancelled());
  EXPECT_TRUE(late.IsCancelled());
  add.Run(1);  // must not touch the freed object

  // Run on another thread, as a posted task would be.
  HANDLE thread = CreateThread(nullptr, 0, &RunClosure, &late, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  CloseHandle(thread);
}

TEST(WeakPtrTest, ReadsNullOnceInvalidated) {
  int value = 1;
  WeakPtrFactory<int> factory(&value);
  WeakPtr<int> weak = factory.GetWeakPtr();
  WeakPtr<int> copy = weak;
  EXPECT_EQ(&value, copy.get());
  EXPECT_TRUE(factory.HasWeakPtrs());
  factory.InvalidateWeakPtrs();
  EXPECT_FALSE(weak);
  EXPECT_EQ(nullptr, copy.get());
  // Pointers taken after the invalidation work again.
  EXPECT_EQ(&value, factory.GetWeakPtr().get());
  EXPECT_FALSE(WeakPtr<int>());
}

TEST(WeakReferenceTest, FreshFlagAfterAllReferencesReleased) {
  auto owner = std::make_unique<WeakReferenceOwner>();
  EXPECT_FALSE(owner->HasRefs());
  WeakReference first = owner->GetRef();
  WeakReference second = owner->GetRef();
  EXPECT_TRUE(owner->HasRefs());
  first.Reset();
  second.Reset();
  EXPECT_FALSE(owner->HasRefs());
  EXPECT_FALSE(first.IsValid());

  WeakReference outstanding = owner->GetRef();
  WeakReference moved = std::move(outstanding);
  EXPECT_FALSE(outstanding.IsValid());
  EXPECT_TRUE(moved.IsValid());
  owner.reset();
  EXPECT_FALSE(moved.IsValid());
  WeakReference copy_after = moved;  // the flag outlives its owner
  EXPECT_FALSE(copy_after.IsValid());
}

}  // namespace
}  // namespace base
