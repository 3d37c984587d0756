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
    initialized_pids.push_back(GetProcessId(process));
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
  std::vector<uint32_t> initialized_pids;

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
      ClientSymbols::DumpTurn turn(&symbols);
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
    ClientSymbols::DumpTurn turn(&symbols);
    EXPECT_EQ(nullptr, symbols.ForDump(client.pid()));
  }
  EXPECT_EQ(1u, handler.cleaned.size());
}

// Holds the preparation of |held| until released; records the order of the calls.
class HoldingSymbolHandler : public RecordingSymbolHandler {
 public:
  explicit HoldingSymbolHandler(HANDLE held_process)
      : RecordingSymbolHandler(true),
        held_(held_process),
        entered_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool Initialize(HANDLE process) override {
    if (GetProcessId(process) == GetProcessId(held_)) {
      SetEvent(entered_.Get());
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(release_.Get(), kWaitMs));
    }
    return RecordingSymbolHandler::Initialize(process);
  }
  bool WaitEntered() { return WaitForSingleObject(entered_.Get(), kWaitMs) == WAIT_OBJECT_0; }
  void Release() { SetEvent(release_.Get()); }

 private:
  const HANDLE held_;
  base::ScopedHandle entered_, release_;
};

struct DumpThread {
  ClientSymbols* symbols;
  RecordingSymbolHandler* handler;
  uint32_t pid;
  size_t prepared_before = 99;
  HANDLE for_dump = reinterpret_cast<HANDLE>(1);
};

DWORD WINAPI RunDump(void* parameter) {
  DumpThread* dump = static_cast<DumpThread*>(parameter);
  ClientSymbols::DumpTurn turn(dump->symbols);
  dump->prepared_before = dump->handler->initialized.size();
  dump->for_dump = dump->symbols->ForDump(dump->pid);
  return 0;
}

// A crash waits only for the preparation under way, not for those queued behind it; the
// client it dumped unprepared is never prepared afterwards, another client still is.
TEST(ClientSymbolsTest, ACrashGoesBeforeQueuedPreparations) {
  base::Lock dbghelp_lock;
  SuspendedProcess first, crashed, other;
  ASSERT_TRUE(first.process.IsValid() && crashed.process.IsValid() && other.process.IsValid());
  HoldingSymbolHandler handler(first.process.Get());
  {
    ClientSymbols symbols(&dbghelp_lock, &handler);
    symbols.Add(first.pid(), first.process.Get());
    ASSERT_TRUE(handler.WaitEntered());
    symbols.Add(crashed.pid(), crashed.process.Get());
    symbols.Add(other.pid(), other.process.Get());
    DumpThread dump = {&symbols, &handler, crashed.pid()};
    base::ScopedHandle thread(CreateThread(nullptr, 0, &RunDump, &dump, 0, nullptr));
    ASSERT_TRUE(thread.IsValid());
    // The dump has asked for its turn (while the first preparation holds dbghelp).
    while (symbols.DumpsWaitingForTesting() == 0) SwitchToThread();
    handler.Release();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), kWaitMs));
    EXPECT_EQ(1u, dump.prepared_before);
    EXPECT_EQ(nullptr, dump.for_dump);
  }
  EXPECT_EQ((std::vector<uint32_t>{first.pid(), other.pid()}), handler.initialized_pids);
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
    ClientSymbols::DumpTurn turn(&symbols);
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
  const OwnCrash crash(0xE0000018);
  const base::FilePath path = Path(L"prepared.dmp");
  const ProcessDumpClient client(self.Get());
  EXPECT_TRUE(WriteClientMinidump(client, GetCurrentProcessId(), crash.thread_id_address(),
                                  crash.pointers_address_address(), 0, path.value(),
                                  kClientDumpSizeLimit, false));
  handler->Cleanup(self.Get());
  const MinidumpFacts facts = ReadMinidump(path);
  EXPECT_TRUE(facts.valid);
  ASSERT_TRUE(facts.has_exception);
  EXPECT_EQ(0xE0000018u, facts.exception_code);
}

}  // namespace
}  // namespace crash_reporter
