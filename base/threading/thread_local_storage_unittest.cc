#include "base/threading/thread_local_storage.h"

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"
#include "base/threading/thread_local_boolean.h"

namespace base {
namespace {

// Records which values were destroyed on which thread, in order.
struct Destruction {
  void* value;
  DWORD thread_id;
};
std::vector<Destruction>* g_destructions = nullptr;

void RecordDestruction(void* value) {
  g_destructions->push_back(Destruction{value, GetCurrentThreadId()});
}

TlsSlot* g_chained_slot = nullptr;
int g_chained_value = 0;

// Sets another slot while being destroyed, which needs a further pass.
void SetChainedSlot(void* value) {
  RecordDestruction(value);
  g_chained_slot->Set(&g_chained_value);
}

// Runs |body| on a fresh thread made with CreateThread and waits for the thread's end
// (which includes its TLS callbacks).
template <typename Body>
DWORD RunOnThread(Body body) {
  struct Start {
    static DWORD WINAPI Run(void* param) {
      (*static_cast<Body*>(param))();
      return 0;
    }
  };
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &Start::Run, &body, 0, &id);
  EXPECT_TRUE(thread);
  if (!thread) return 0;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return id;
}

class TlsSlotTest : public testing::Test {
 protected:
  void SetUp() override { g_destructions = &destructions_; }
  void TearDown() override { g_destructions = nullptr; }
  std::vector<Destruction> destructions_;
};

TEST_F(TlsSlotTest, ValuesAndBooleansArePerThread) {
  TlsSlot slot;
  slot.Initialize(nullptr);
  ThreadLocalBoolean flag;
  flag.Set(true);
  bool flag_elsewhere = true;
  int mine = 1, theirs = 2;
  SetLastError(ERROR_FILE_NOT_FOUND);
  slot.Set(&mine);
  EXPECT_EQ(&mine, slot.Get());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << "kept by Get and Set";
  void* seen_before_set = &mine;
  void* seen_after_set = nullptr;
  RunOnThread([&] {
    seen_before_set = slot.Get();
    slot.Set(&theirs);
    seen_after_set = slot.Get();
    flag_elsewhere = flag.Get();
  });
  EXPECT_FALSE(flag_elsewhere);
  EXPECT_TRUE(flag.Get());
  EXPECT_EQ(nullptr, seen_before_set);
  EXPECT_EQ(&theirs, seen_after_set);
  EXPECT_EQ(&mine, slot.Get());
  slot.Free();
}

TEST_F(TlsSlotTest, DestructorRunsOnceAtThreadEndOnThatThread) {
  TlsSlot slot;
  slot.Initialize(&RecordDestruction);
  int value = 0;
  const DWORD id = RunOnThread([&] { slot.Set(&value); });
  RunOnThread([&] { slot.Set(nullptr); });  // null values are not destroyed
  RunOnThread([] {});                       // nor are threads that never touched a slot
  ASSERT_EQ(1u, destructions_.size());
  EXPECT_EQ(&value, destructions_[0].value);
  EXPECT_EQ(id, destructions_[0].thread_id);
  slot.Free();
}

TEST_F(TlsSlotTest, DestructorSettingAnotherSlotCausesAFurtherPass) {
  // Entries are handed out in ascending order: the chained slot's entry comes before the
  // first one's, so the first pass has already gone by it when the destructor sets it.
  TlsSlot chained, first;
  chained.Initialize(&RecordDestruction);
  first.Initialize(&SetChainedSlot);
  g_chained_slot = &chained;
  int value = 0;
  RunOnThread([&] { first.Set(&value); });
  ASSERT_EQ(2u, destructions_.size());
  EXPECT_EQ(&value, destructions_[0].value);
  EXPECT_EQ(&g_chained_value, destructions_[1].value);
  g_chained_slot = nullptr;
  chained.Free();
  first.Free();
}

TEST_F(TlsSlotTest, FreedSlotsDoNotDestroyOrLeakValuesIntoNewSlots) {
  TlsSlot old_slot;
  old_slot.Initialize(&RecordDestruction);
  int stale = 0;
  old_slot.Set(&stale);
  HANDLE freed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE set = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    old_slot.Set(&stale);
    SetEvent(set);
    WaitForSingleObject(freed, INFINITE);
  });
  WaitForSingleObject(set, INFINITE);
  old_slot.Free();
  SetEvent(freed);
  holder.join();
  CloseHandle(freed);
  CloseHandle(set);
  EXPECT_TRUE(destructions_.empty()) << "a freed slot's destructor ran at thread end";

  // Entries are handed out round-robin, so within 256 assignments one new slot reuses the
  // old entry; none of them may see the stale value.
  for (int i = 0; i < 256; ++i) {
    TlsSlot fresh;
    fresh.Initialize(nullptr);
    EXPECT_EQ(nullptr, fresh.Get()) << "assignment " << i;
    fresh.Free();
  }
}

TEST_F(TlsSlotTest, LazySlotIsCreatedOnceAndUsable) {
  static std::atomic<uintptr_t> word{0};
  TlsSlot* slot = GetLazyTlsSlot(&word);
  ASSERT_TRUE(slot->initialized());
  EXPECT_EQ(slot, GetLazyTlsSlot(&word));
  slot->Set(&word);
  EXPECT_EQ(&word, slot->Get());
}

TEST(TlsSlotDeathTest, SlotBeyondTheTwoHundredFiftySixthStopsTheProcess) {
  EXPECT_DEATH(
      {
        for (int i = 0; i < 300; ++i) (new TlsSlot)->Initialize(nullptr);
      },
      "thread-local slots are in use");
}

TEST(TlsSlotDeathTest, UnassignedSlotStopsTheProcessInsteadOfIndexingOutside) {
  EXPECT_DEATH(
      {
        TlsSlot slot;
        slot.Set(&slot);
      },
      "used before Initialize");
  EXPECT_DEATH(
      {
        TlsSlot slot;
        slot.Initialize(nullptr);
        slot.Free();
        slot.Get();
      },
      "used before Initialize");
}

TEST(TlsSlotInDll, DllDestroysValuesOfEndingThreadsAndOfTheUnloadingThread) {
  HMODULE dll = LoadLibraryW(TestExeSibling(L"thread_local_storage_test_dll.dll").c_str());
  ASSERT_TRUE(dll) << GetLastError();
  auto initialize = reinterpret_cast<void (*)(LONG*)>(
      reinterpret_cast<void*>(GetProcAddress(dll, "TlsTestDllInitialize")));
  auto set = reinterpret_cast<void (*)(void*)>(
      reinterpret_cast<void*>(GetProcAddress(dll, "TlsTestDllSet")));
  ASSERT_TRUE(initialize && set);
  LONG destroyed = 0;
  initialize(&destroyed);
  int value = 0;
  RunOnThread([&] { set(&value); });
  EXPECT_EQ(1, destroyed);
  set(&value);  // this thread's value goes when the DLL detaches
  FreeLibrary(dll);
  EXPECT_EQ(2, destroyed);
}

}  // namespace
}  // namespace base
