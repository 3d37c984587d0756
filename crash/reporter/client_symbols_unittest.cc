#include "crash/reporter/client_symbols.h"

#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/synchronization/lock.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_reporter_test_util.h"
#include "crash/reporter/dump_client.h"
#include "crash/reporter/minidump_file_writer.h"

namespace crash_reporter {
namespace {

constexpr DWORD kWaitMs = 60000;

// Records the calls; a preparation is seen through |prepared|.
class RecordingSymbolHandler : public SymbolHandler {
 public:
  explicit RecordingSymbolHandler(bool initialize_works)
      : initialize_works_(initialize_works), prepared_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool Initialize(HANDLE process) override {
    initialized.push_back(process);
    SetEvent(prepared_.Get());
    return initialize_works_;
  }
  bool Refresh(HANDLE process) override {
    refreshed.push_back(process);
    return true;
  }
  void Cleanup(HANDLE process) override { cleaned.push_back(process); }

  bool WaitPrepared() { return WaitForSingleObject(prepared_.Get(), kWaitMs) == WAIT_OBJECT_0; }

  // Written under the dbghelp lock or once the preparation was seen.
  std::vector<HANDLE> initialized, refreshed, cleaned;

 private:
  const bool initialize_works_;
  base::ScopedHandle prepared_;
};

// A process that never runs a line: the test's own EXE, started suspended.
struct SuspendedProcess {
  SuspendedProcess() {
    EXPECT_TRUE(base::StartTestHelper(L"crash_reporter_unittests.exe", L"--gtest_list_tests",
                                      CREATE_SUSPENDED, &process, &thread));
  }
  ~SuspendedProcess() { End(); }
  void End() {
    if (!process.IsValid()) return;
    TerminateProcess(process.Get(), 9);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), kWaitMs));
  }
  uint32_t pid() const { return GetProcessId(process.Get()); }

  base::ScopedHandle process, thread;
};

// dbghelp finds a process by the handle it was prepared with: the dump must be written
// from that very handle, refreshed, and the client's symbols go once it has ended.
TEST(ClientSymbolsTest, TheDumpIsWrittenFromTheHandlePreparedAtRegistration) {
  base::Lock dbghelp_lock;
  RecordingSymbolHandler handler(true);
  SuspendedProcess client;
  ASSERT_TRUE(client.process.IsValid());
  {
    ClientSymbols symbols(&dbghelp_lock, &handler);
    symbols.Add(client.pid(), client.process.Get());
    ASSERT_TRUE(handler.WaitPrepared());
    HANDLE for_dump = nullptr;
    {
      base::AutoLock hold(dbghelp_lock);
      for_dump = symbols.ForDump(client.pid());
      ASSERT_EQ(1u, handler.initialized.size());
      EXPECT_EQ(handler.initialized[0], for_dump);
      EXPECT_EQ(std::vector<HANDLE>{for_dump}, handler.refreshed);
      // Its own handle: the registration's may go while the symbols stay.
      EXPECT_NE(client.process.Get(), for_dump);
      EXPECT_EQ(nullptr, symbols.ForDump(client.pid() + 4));
    }
    // Still running: its symbols stay.
    symbols.Remove(client.pid());
    EXPECT_TRUE(handler.cleaned.empty());
    client.End();
    symbols.Remove(client.pid());
    EXPECT_EQ(std::vector<HANDLE>{for_dump}, handler.cleaned);
    base::AutoLock hold(dbghelp_lock);
    EXPECT_EQ(nullptr, symbols.ForDump(client.pid()));
  }
  EXPECT_EQ(1u, handler.cleaned.size());
}

TEST(ClientSymbolsTest, SymbolsThatCouldNotBePreparedAreLoadedByTheDump) {
  base::Lock dbghelp_lock;
  RecordingSymbolHandler handler(false);
  SuspendedProcess client;
  ASSERT_TRUE(client.process.IsValid());
  {
    ClientSymbols symbols(&dbghelp_lock, &handler);
    symbols.Add(client.pid(), client.process.Get());
    ASSERT_TRUE(handler.WaitPrepared());
    base::AutoLock hold(dbghelp_lock);
    EXPECT_EQ(nullptr, symbols.ForDump(client.pid()));
    EXPECT_TRUE(handler.refreshed.empty());
  }
  // Nothing was initialized, so nothing is cleaned up.
  EXPECT_TRUE(handler.cleaned.empty());
}

// dbghelp's own calls, in the order the reporter makes them: a client prepared at
// registration and refreshed at its crash is dumped whole from that handle.
using ClientSymbolsDumpTest = base::ScratchDirTest;

TEST_F(ClientSymbolsDumpTest, APreparedClientIsDumpedThroughDbghelp) {
  SymbolHandler* handler = SystemSymbolHandler();
  ASSERT_NE(nullptr, handler);
  base::ScopedHandle self(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE,
                                      FALSE, GetCurrentProcessId()));
  ASSERT_TRUE(self.IsValid());
  ASSERT_TRUE(handler->Initialize(self.Get()));
  EXPECT_TRUE(handler->Refresh(self.Get()));
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = 0xE0000018;
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  const uint64_t pointers_address = reinterpret_cast<uintptr_t>(&pointers);
  const uint32_t thread_id = GetCurrentThreadId();
  const base::FilePath path = Path(L"prepared.dmp");
  const ProcessDumpClient client(self.Get());
  EXPECT_TRUE(WriteClientMinidump(client, GetCurrentProcessId(),
                                  reinterpret_cast<uintptr_t>(&thread_id),
                                  reinterpret_cast<uintptr_t>(&pointers_address), 0, path.value(),
                                  kClientDumpSizeLimit, false));
  handler->Cleanup(self.Get());
  const MinidumpFacts facts = ReadMinidump(path);
  EXPECT_TRUE(facts.valid);
  ASSERT_TRUE(facts.has_exception);
  EXPECT_EQ(0xE0000018u, facts.exception_code);
}

}  // namespace
}  // namespace crash_reporter
