#include "base/callback.h"

#include <algorithm>
#include <memory>
#include <string>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// A hand-made bind state that counts its destruction.
class CountingState : public BindStateBase {
 public:
  explicit CountingState(int* destroyed)
      : BindStateBase(reinterpret_cast<InvokeFunction>(&Invoke), &Destroy),
        destroyed_(destroyed) {}

  static int Invoke(BindStateBase*) { return 7; }
  static void Destroy(const BindStateBase* self) {
    const CountingState* state = static_cast<const CountingState*>(self);
    ++*state->destroyed_;
    delete state;
  }

 private:
  ~CountingState() = default;
  int* destroyed_;
};

TEST(CallbackTest, CopiesDestroyStateOnceInAnyOrder) {
  int orders[][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 3, 0, 2}, {2, 0, 3, 1}};
  for (auto& order : orders) {
    int destroyed = 0;
    std::unique_ptr<Callback<int()>> copies[4];
    copies[0].reset(new Callback<int()>(new CountingState(&destroyed)));
    for (int i = 1; i < 4; ++i)
      copies[i].reset(new Callback<int()>(*copies[0]));
    EXPECT_EQ(7, copies[3]->Run());
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(0, destroyed);
      copies[order[i]].reset();
    }
    EXPECT_EQ(1, destroyed);
  }
}

TEST(CallbackTest, MoveAssignAndResetReleaseOnlyTheirOwnState) {
  int first = 0, second = 0;
  Callback<int()> a(new CountingState(&first));
  Callback<int()> b(new CountingState(&second));
  Callback<int()> c = b;
  a = std::move(b);  // a's old state goes; b is left null
  EXPECT_EQ(1, first);
  EXPECT_TRUE(b.is_null());
  EXPECT_TRUE(a.Equals(c));
  a = a;  // self-assignment keeps the state
  a.Reset();
  EXPECT_EQ(0, second);
  c = Callback<int()>();
  EXPECT_EQ(1, second);
  EXPECT_FALSE(c);
}

class Counted : public RefCountedThreadSafe<Counted> {
 public:
  explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
  int value() const { return 42; }

 private:
  friend class RefCountedThreadSafe<Counted>;
  ~Counted() { --*alive_; }
  int* alive_;
};

int ReadValue(const scoped_refptr<Counted>& counted, int add) {
  return counted->value() + add;
}

TEST(CallbackTest, BoundArgumentsReleasedWithTheLastCopy) {
  int alive = 0;
  Callback<int(int)> cb = Bind(&ReadValue, MakeRefCounted<Counted>(&alive));
  Callback<int(int)> copy = cb;
  Callback<int()> method = Bind(&Counted::value, MakeRefCounted<Counted>(&alive));
  EXPECT_EQ(2, alive);
  EXPECT_EQ(43, cb.Run(1));
  cb.Reset();
  EXPECT_EQ(2, alive);
  EXPECT_EQ(44, copy.Run(2));
  copy.Reset();
  EXPECT_EQ(1, alive);
  method.Run();  // a scoped_refptr receiver keeps its object alive
  method.Reset();
  EXPECT_EQ(0, alive);
}

// An object that owns the callback which destroys it.
struct SelfDestructing {
  Closure closure;
};

void DeleteOwnerThenUse(SelfDestructing** owner, const scoped_refptr<Counted>& counted,
                        int* seen) {
  delete *owner;
  *owner = nullptr;
  *seen = counted->value();  // still bound: the run holds its own reference
}

TEST(CallbackTest, CallbackDestroyedByItsOwnRunFinishesSafely) {
  int alive = 0, seen = 0;
  SelfDestructing* owner = new SelfDestructing;
  owner->closure = Bind(&DeleteOwnerThenUse, &owner, MakeRefCounted<Counted>(&alive), &seen);
  owner->closure.Run();
  EXPECT_EQ(nullptr, owner);
  EXPECT_EQ(42, seen);
  EXPECT_EQ(0, alive);
}

struct Greeter {
  std::string Greet(const std::string& greeting, const std::string& name) const {
    return greeting + ", " + name + suffix;
  }
  std::string suffix = "!";
};

std::string Join3(int a, const std::string& b, char c) {
  return std::to_string(a) + b + c;
}

TEST(BindTest, PartialBindingOfFunctionsMethodsAndLambdas) {
  EXPECT_EQ("1x!", Bind(&Join3, 1, "x").Run('!'));
  EXPECT_EQ("2y?", Bind(&Join3, 2, std::string("y"), '?').Run());
  EXPECT_EQ("3z.", Bind(&Join3).Run(3, "z", '.'));

  Greeter greeter;
  Callback<std::string(const std::string&)> greet = Bind(&Greeter::Greet, &greeter, "Hello");
  greeter.suffix = "?";  // raw receivers are not copied
  EXPECT_EQ("Hello, Ann?", greet.Run("Ann"));

  int calls = 0;
  Callback<int(int)> twice = Bind([&calls](int base, int x) { ++calls; return base + 2 * x; }, 10);
  EXPECT_EQ(16, twice.Run(3));
  EXPECT_EQ(10, twice.Run(0));
  EXPECT_EQ(2, calls);
  EXPECT_FALSE(twice.IsCancelled());

  Callback<int(std::unique_ptr<int>)> take = Bind([](std::unique_ptr<int> p) { return *p + 1; });
  EXPECT_EQ(6, take.Run(std::make_unique<int>(5))) << "move-only run arguments are forwarded";
}

}  // namespace
}  // namespace base
