#include "base/threading/thread_name_registry.h"

#include <gtest/gtest.h>

namespace base {
namespace {

// Ids and handles no real thread of the test has; the registry never touches them.
HANDLE FakeHandle(uintptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

TEST(ThreadNameRegistryTest, UnregisteredThreadNamingItselfIsTheMainThread) {
  ThreadNameRegistry* registry = ThreadNameRegistry::Instance();
  EXPECT_EQ(registry, ThreadNameRegistry::Instance());
  registry->SetName(0x7FFF0001, "installer main");
  EXPECT_STREQ("installer main", registry->GetName(0x7FFF0001));
  EXPECT_STREQ("", registry->GetName(0x7FFF0002));
}

TEST(ThreadNameRegistryTest, NamesFollowRegisteredHandles) {
  ThreadNameRegistry* registry = ThreadNameRegistry::Instance();
  const DWORD id = 0x7FFF0010;
  registry->RegisterThread(FakeHandle(0x1000), id);
  EXPECT_STREQ("", registry->GetName(id));
  registry->SetName(id, "Installer IPC thread");
  const char* name = registry->GetName(id);
  EXPECT_STREQ("Installer IPC thread", name);

  // The id is reused by a newer thread before the old one is removed.
  registry->RegisterThread(FakeHandle(0x2000), id);
  registry->SetName(id, "GsTaskThread");
  registry->RemoveName(FakeHandle(0x1000), id);
  EXPECT_STREQ("GsTaskThread", registry->GetName(id));
  // Interned names stay valid.
  EXPECT_STREQ("Installer IPC thread", name);

  registry->RemoveName(FakeHandle(0x2000), id);
  EXPECT_STREQ("", registry->GetName(id));
}

}  // namespace
}  // namespace base
