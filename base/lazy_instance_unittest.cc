#include "base/lazy_instance.h"

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/at_exit.h"

namespace base {
namespace {

// Created by whichever thread wins; counts constructions and destructions.
struct Counted {
  static std::atomic<int> constructed;
  static std::atomic<int> destroyed;
  static HANDLE release_constructor;  // when set, construction waits for it
  Counted() {
    ++constructed;
    if (release_constructor) WaitForSingleObject(release_constructor, INFINITE);
  }
  ~Counted() { ++destroyed; }
  int value = 42;
};
std::atomic<int> Counted::constructed{0};
std::atomic<int> Counted::destroyed{0};
HANDLE Counted::release_constructor = nullptr;

TEST(LazyInstanceTest, RaceCreatesExactlyOnce) {
  Counted::constructed = 0;
  static LeakyLazyInstance<Counted> lazy;
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(release);
  Counted::release_constructor = release;

  constexpr int kThreads = 6;
  std::vector<Counted*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&seen, i] { seen[i] = lazy.Pointer(); });
  // The winner stays inside the constructor until the others have had a chance to race.
  while (Counted::constructed.load() == 0) SwitchToThread();
  SetEvent(release);
  for (std::thread& thread : threads) thread.join();
  Counted::release_constructor = nullptr;
  CloseHandle(release);

  EXPECT_EQ(1, Counted::constructed.load());
  for (Counted* pointer : seen) EXPECT_EQ(lazy.Pointer(), pointer);
  EXPECT_EQ(42, lazy.Get().value);
}

TEST(LazyInstanceTest, DestroyedByExitStackAndRecreatedAfterwards) {
  Counted::constructed = 0;
  Counted::destroyed = 0;
  static LazyInstance<Counted> lazy;
  {
    ExitCallbackStack exit_callbacks;
    lazy.Get();
    lazy.Get();
    EXPECT_EQ(1, Counted::constructed.load());
    EXPECT_EQ(0, Counted::destroyed.load());
  }
  EXPECT_EQ(1, Counted::destroyed.load());
  // A use after clean-up gets a fresh object rather than the destroyed one.
  ExitCallbackStack exit_callbacks;
  EXPECT_EQ(42, lazy.Get().value);
  EXPECT_EQ(2, Counted::constructed.load());
}

}  // namespace
}  // namespace base
