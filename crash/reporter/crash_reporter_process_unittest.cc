// The crash reporter end to end: installer-like processes (crash_host_test_helper.exe)
// start the real reporter through the real client start, crash, and the reporter writes,
// counts and uploads their dumps to the local crash collector.
#include "crash/reporter/crash_reporter_process.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_client.h"
#include "crash/reporter/crash_pipe_message.h"
#include "crash/reporter/crash_reporter_test_util.h"
#include "crash/reporter/crash_stats_store.h"
#include "crash/reporter/minidump_file_writer.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "testing/crash_collector/crash_collector_test_util.h"

namespace crash_reporter {
namespace {

using installer::testing::CollectedPart;
using installer::testing::CollectedRequest;
using installer::testing::CrashCollector;

constexpr wchar_t kHost[] = L"crash_host_test_helper.exe";
constexpr DWORD kProcessWaitMs = 60000;
constexpr int kReporterFailedExitCode = 3;
// How crash_client_test_helper.exe ends once its wait for its dump has run out: at once,
// or after going on.
constexpr DWORD kClientGaveUpExitCode = 26;
constexpr DWORD kClientWentOnExitCode = 27;

std::wstring Quoted(const base::FilePath& path) { return L"\"" + path.value() + L"\""; }

std::wstring UniqueName(const wchar_t* what) {
  static int counter = 0;
  return std::wstring(L"VelumCrashTest") + what + base::UintToString16(GetCurrentProcessId()) +
         L"_" + base::IntToString16(++counter);
}

DWORD WaitForExit(HANDLE process) {
  DWORD code = 0xFFFF;
  if (WaitForSingleObject(process, kProcessWaitMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process, &code)) {
    return 0xFFFF;
  }
  return code;
}

const CollectedPart* FindPart(const CollectedRequest& request, const std::string& name) {
  for (const CollectedPart& part : request.parts)
    if (part.name == name) return &part;
  return nullptr;
}

std::string Field(const CollectedRequest& request, const std::string& name) {
  const CollectedPart* part = FindPart(request, name);
  return part ? part->data : std::string("<absent>");
}

// The log every reporter started from this test's temporary folder appends to.
base::FilePath ReporterLog() {
  base::FilePath temp;
  EXPECT_TRUE(base::GetTempDir(&temp));
  return temp.Append(L"velum_crashreporter.log");
}

std::string ReadLog() {
  std::string text;
  return base::ReadFileToString(ReporterLog(), &text) ? text : std::string();
}

// The ERROR lines that process |pid| logged past the first |skip| bytes of |log|.
std::vector<std::string> ErrorLines(const std::string& log, size_t skip, const std::string& pid) {
  std::vector<std::string> lines;
  size_t start = std::min(skip, log.size());
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    if (line.compare(0, pid.size() + 2, "[" + pid + ":") == 0 &&
        line.find(":ERROR:") != std::string::npos) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

class CrashReporterProcessTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    // Strict: it reads a body by its Content-Length, as most servers do.
    ASSERT_TRUE(collector_.Start(/*strict=*/true)) << collector_.error();
    dumps_ = Path(L"dumps");
    url_.reset(new ScopedEnvironmentVariable(
        "VELUM_ALTERNATIVE_CRASH_SERVER_URL", collector_.Url("/submit").c_str()));
    // A Windows-form path: Wine hands the variable over as it is.
    log_dir_.reset(new ScopedEnvironmentVariable("VELUM_CRASH_LOG_DIR",
                                                 base::WideToUTF8(dumps_.value()).c_str()));
    crash_event_.Set(CreateEventW(nullptr, TRUE, FALSE, crash_event_name_.c_str()));
    ASSERT_TRUE(crash_event_.IsValid());
    GetSystemTimeAsFileTime(&start_);
  }
  void TearDown() override {
    EXPECT_TRUE(collector_.Stop());
    ExpectNoReporterCrash(dumps_, start_);
  }

  // An installer process that connects to a reporter (a new one, or |reporter_pid|),
  // reports ready and crashes on the crash event.
  struct Client {
    base::ScopedHandle process;
    base::FilePath info;
    std::map<std::string, std::string> facts;
  };
  void StartClient(const wchar_t* name, uint32_t reporter_pid, Client* client,
                   const std::wstring& crash_event_name = std::wstring(), bool crash = true) {
    const std::wstring ready_name = UniqueName(L"Ready");
    base::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    ASSERT_TRUE(ready.IsValid());
    client->info = Path(name);
    std::wstring arguments = std::wstring(crash ? L"--crash " : L"") + L"--info=" +
                             Quoted(client->info) + L" --ready-event=" +
                             ready_name + L" --crash-event=" +
                             (crash_event_name.empty() ? crash_event_name_ : crash_event_name);
    if (reporter_pid) arguments += L" --crash-reporter-pid=" + base::UintToString16(reporter_pid);
    base::ScopedHandle thread;
    ASSERT_TRUE(base::StartTestHelper(kHost, arguments, 0, &client->process, &thread));
    const HANDLE waits[] = {ready.Get(), client->process.Get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, kProcessWaitMs));
    client->facts = ReadReport(client->info);
  }

  // Starts a client with a reporter of its own and crashes it: the reporter, and the
  // first upload the collector got.
  void CrashClientAndCollect(Client* client, base::ScopedHandle* reporter,
                             CollectedRequest* request) {
    ASSERT_NO_FATAL_FAILURE(StartClient(L"client.txt", 0, client));
    ASSERT_NE("0", client->facts["reporter"]) << "the client found no reporter";
    *reporter = OpenReporter(*client);
    ASSERT_TRUE(reporter->IsValid());
    ASSERT_TRUE(SetEvent(crash_event_.Get()));
    EXPECT_NE(0u, WaitForExit(client->process.Get()));
    ASSERT_TRUE(collector_.WaitForRequest(1, request));
  }

  // A client asks for its dump while the reporter is held at |hold| ("before-file" or
  // "while-writing"); the client's wait runs out and it ends, or with |go_on| goes on;
  // only then does the reporter resume. Its dump must come out as a failed one.
  void ExpectFailedDumpPastTheWait(const char* hold, bool go_on, bool keep_logs) {
    const std::wstring name = UniqueName(L"Hold");
    const base::FilePath folder = Path(name.c_str());
    ScopedEnvironmentVariable log_dir("VELUM_CRASH_LOG_DIR",
                                      base::WideToUTF8(folder.value()).c_str());
    ScopedEnvironmentVariable keep("VELUM_CRASH_KEEP_LOGS", keep_logs ? "1" : nullptr);
    ScopedEnvironmentVariable held_at("VELUM_TEST_HOLD_DUMP",
                                      (std::string(hold) + ":" + base::WideToUTF8(name)).c_str());
    const wchar_t* const kEvents[] = {L"Held", L"Resume", L"Stopped", L"Proceed", L"WentOn"};
    base::ScopedHandle events[5];
    for (size_t i = 0; i < 5; ++i) {
      events[i].Set(CreateEventW(nullptr, TRUE, FALSE, (name + kEvents[i]).c_str()));
      ASSERT_TRUE(events[i].IsValid());
    }
    const HANDLE held = events[0].Get(), resume = events[1].Get(), stopped = events[2].Get(),
                 proceed = events[3].Get(), went_on = events[4].Get();
    const std::wstring parent_end = UniqueName(L"ParentEnd");
    base::ScopedHandle parent_event(CreateEventW(nullptr, TRUE, FALSE, parent_end.c_str()));
    ASSERT_TRUE(parent_event.IsValid());
    const size_t log_start = ReadLog().size();
    int arrived = 0;
    while (collector_.HasArrived(arrived + 1)) ++arrived;

    Client parent;
    ASSERT_NO_FATAL_FAILURE(StartClient(L"parent.txt", 0, &parent, parent_end, false));
    const std::string reporter_pid = parent.facts["reporter"];
    ASSERT_NE("0", reporter_pid);
    base::ScopedHandle reporter = OpenReporter(parent);
    ASSERT_TRUE(reporter.IsValid());
    base::ScopedHandle client, thread;
    ASSERT_TRUE(base::StartTestHelper(
        L"crash_client_test_helper.exe",
        std::wstring(go_on ? L"give-up-go-on " : L"give-up ") + Quoted(folder) + L" " +
            base::UTF8ToWide(reporter_pid) + L" " + name,
        0, &client, &thread));
    const std::string client_pid = base::Int64ToString(GetProcessId(client.Get()));

    // The reporter holds the dump, and the client has stopped waiting for it.
    for (HANDLE event : {held, stopped}) {
      const HANDLE waits[] = {event, client.Get()};
      ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, kProcessWaitMs));
    }
    ASSERT_TRUE(SetEvent(proceed));
    if (go_on) {
      const HANDLE waits[] = {went_on, client.Get()};
      ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, kProcessWaitMs));
    } else {
      EXPECT_EQ(kClientGaveUpExitCode, WaitForExit(client.Get()));
    }
    ASSERT_TRUE(SetEvent(resume));
    ASSERT_TRUE(SetEvent(parent_event.Get()));
    EXPECT_EQ(0u, WaitForExit(parent.process.Get()));
    // Once it has ended, every upload it queued is done.
    EXPECT_EQ(0u, WaitForExit(reporter.Get()));
    if (go_on) {
      EXPECT_EQ(kClientWentOnExitCode, WaitForExit(client.Get()));
    }

    EXPECT_FALSE(collector_.HasArrived(arrived + 1)) << "a failed dump was uploaded";
    EXPECT_TRUE(FindDumps(folder).empty());
    const base::FilePath failed =
        folder.Append(L"velum-crashlog-" + base::UTF8ToWide(reporter_pid) + L"-1.dmp.failed");
    EXPECT_EQ(keep_logs, base::PathExists(failed));
    base::ScopedHandle stats(CreateFileW(folder.Append(L"crash_stats.json").value().c_str(),
                                         GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    ASSERT_TRUE(stats.IsValid());
    CrashStatsStore::Counts counts;
    ASSERT_TRUE(CrashStatsStore::LoadCounts(stats.Get(), &counts));
    EXPECT_EQ(1u, counts["installer"]);
    const std::vector<std::string> errors = ErrorLines(ReadLog(), log_start, reporter_pid);
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(), [&](const std::string& line) {
      return line.find("Cannot write the dump of process " + client_pid) != std::string::npos;
    })) << "no failed dump logged; the reporter's errors:\n"
        << base::JoinString(errors, "\n");
  }

  base::ScopedHandle OpenReporter(const Client& client) {
    uint32_t pid = 0;
    EXPECT_TRUE(base::StringToUint(client.facts.at("reporter"), &pid));
    return base::ScopedHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
  }

  CrashCollector collector_;
  base::FilePath dumps_;
  std::unique_ptr<ScopedEnvironmentVariable> url_;
  std::unique_ptr<ScopedEnvironmentVariable> log_dir_;
  const std::wstring crash_event_name_ = UniqueName(L"Crash");
  base::ScopedHandle crash_event_;
  FILETIME start_ = {};
};

TEST_F(CrashReporterProcessTest, ClientCrashIsDumpedCountedAndUploaded) {
  ScopedEnvironmentVariable keep("VELUM_CRASH_KEEP_LOGS", nullptr);
  Client client;
  base::ScopedHandle reporter;
  CollectedRequest request;
  ASSERT_NO_FATAL_FAILURE(CrashClientAndCollect(&client, &reporter, &request));
  // The reporter ends once its parent has gone and the upload is done.
  EXPECT_EQ(0u, WaitForExit(reporter.Get()));

  EXPECT_EQ("POST", request.method);
  EXPECT_EQ("gzip", request.Header("Content-Encoding"));
  EXPECT_EQ("", request.error);
  EXPECT_EQ("VelumDesktop", Field(request, "prod"));
  EXPECT_EQ(installer::GetBuildVersion(), Field(request, "ver"));
  EXPECT_EQ(14u, Field(request, "BuildID").size());
  EXPECT_EQ("installer", Field(request, "ptype"));
  EXPECT_EQ(client.facts["pid"], Field(request, "pid"));
  EXPECT_EQ("<absent>", Field(request, "crash_guid"));
  EXPECT_EQ("<absent>", Field(request, "ptime"));
  int64_t startup = 0, crash = 0;
  ASSERT_TRUE(base::StringToInt64(Field(request, "StartupTime"), &startup));
  ASSERT_TRUE(base::StringToInt64(Field(request, "CrashTime"), &crash));
  EXPECT_GT(startup, 1500000000);
  EXPECT_GE(crash, startup);
  EXPECT_NE("<absent>", Field(request, "mem_physical_total"));

  const std::string dump_name =
      "velum-crashlog-" + client.facts["reporter"] + "-1.dmp";
  ASSERT_FALSE(request.parts.empty());
  const CollectedPart& dump = request.parts.back();
  EXPECT_EQ("upload_file_minidump", dump.name);
  EXPECT_EQ(dump_name, dump.file_name);
  EXPECT_EQ("application/octet-stream", dump.content_type);
  EXPECT_LE(dump.data.size(), kClientDumpSizeLimit);

  const base::FilePath copy = Write(L"uploaded.dmp", dump.data);
  MinidumpFacts facts = ReadMinidump(copy);
  EXPECT_TRUE(facts.valid);
  ASSERT_TRUE(facts.has_exception);
  EXPECT_EQ(client.facts["thread"], base::Int64ToString(facts.exception_thread_id));
  // Under load Wine's dbghelp now and then cannot read the record out of the crashed
  // process and writes it zeroed; a code that was read must be the right one.
  if (facts.exception_code != 0) {
    EXPECT_EQ(0xC0000005u, facts.exception_code);
  }
  EXPECT_EQ(installer::GetBuildVersion() + " " + base::IntToString(installer::GetBuildUbn()),
            facts.streams[kBuildVersionStreamType]);
  EXPECT_EQ(0u, facts.streams.count(kAssertionStreamType));

  // Uploaded dumps are not kept; the count stays beside them without a user data folder.
  EXPECT_TRUE(FindDumps(dumps_).empty());
  base::ScopedHandle stats(CreateFileW(dumps_.Append(L"crash_stats.json").value().c_str(),
                                       GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
  ASSERT_TRUE(stats.IsValid());
  CrashStatsStore::Counts counts;
  ASSERT_TRUE(CrashStatsStore::LoadCounts(stats.Get(), &counts));
  EXPECT_EQ(1u, counts["installer"]);
}

// A collector that has the report and then sends its answer's headers a byte every five
// seconds holds no reporter: the upload fails within its time-out, the reporter ends and
// the dump goes as after any failed upload.
TEST_F(CrashReporterProcessTest, ACollectorThatHoldsItsAnswerHoldsNoReporter) {
  ScopedEnvironmentVariable keep("VELUM_CRASH_KEEP_LOGS", nullptr);
  ScopedEnvironmentVariable url("VELUM_ALTERNATIVE_CRASH_SERVER_URL",
                                collector_.Url("/header_trickle/5").c_str());
  Client client;
  base::ScopedHandle reporter;
  CollectedRequest request;
  ASSERT_NO_FATAL_FAILURE(CrashClientAndCollect(&client, &reporter, &request));
  EXPECT_EQ("", request.error);
  EXPECT_EQ(0u, WaitForExit(reporter.Get()));
  EXPECT_TRUE(FindDumps(dumps_).empty());
}

// One after the other (under Wine a client read while another one's dump is being
// written has been seen to fail with "access denied").
TEST_F(CrashReporterProcessTest, TwoClientsOfOneReporterGetTheirOwnDumps) {
  ScopedEnvironmentVariable keep("VELUM_CRASH_KEEP_LOGS", "yes");
  const std::wstring second_crash_name = UniqueName(L"SecondCrash");
  base::ScopedHandle second_crash(CreateEventW(nullptr, TRUE, FALSE, second_crash_name.c_str()));
  ASSERT_TRUE(second_crash.IsValid());
  Client first, second;
  ASSERT_NO_FATAL_FAILURE(StartClient(L"first.txt", 0, &first));
  uint32_t reporter_pid = 0;
  ASSERT_TRUE(base::StringToUint(first.facts["reporter"], &reporter_pid));
  ASSERT_NE(0u, reporter_pid);
  ASSERT_NO_FATAL_FAILURE(StartClient(L"second.txt", reporter_pid, &second, second_crash_name));
  EXPECT_EQ(first.facts["reporter"], second.facts["reporter"]);
  base::ScopedHandle reporter = OpenReporter(first);
  ASSERT_TRUE(reporter.IsValid());

  // The joined client first: the reporter serves only while its parent lives.
  CollectedRequest requests[2];
  ASSERT_TRUE(SetEvent(second_crash.Get()));
  EXPECT_NE(0u, WaitForExit(second.process.Get()));
  ASSERT_TRUE(collector_.WaitForRequest(1, &requests[0]));
  ASSERT_TRUE(SetEvent(crash_event_.Get()));
  EXPECT_NE(0u, WaitForExit(first.process.Get()));
  ASSERT_TRUE(collector_.WaitForRequest(2, &requests[1]));
  EXPECT_EQ(0u, WaitForExit(reporter.Get()));

  std::map<std::string, std::string> pid_by_dump;
  for (const CollectedRequest& request : requests) {
    ASSERT_FALSE(request.parts.empty());
    pid_by_dump[request.parts.back().file_name] = Field(request, "pid");
  }
  const std::string prefix = "velum-crashlog-" + first.facts["reporter"];
  ASSERT_EQ(2u, pid_by_dump.size());
  EXPECT_EQ(1u, pid_by_dump.count(prefix + "-1.dmp"));
  EXPECT_EQ(1u, pid_by_dump.count(prefix + "-2.dmp"));
  std::set<std::string> pids;
  for (const auto& entry : pid_by_dump) pids.insert(entry.second);
  EXPECT_EQ((std::set<std::string>{first.facts["pid"], second.facts["pid"]}), pids);
  // Kept after the upload.
  EXPECT_EQ(2u, FindDumps(dumps_).size());
}

TEST_F(CrashReporterProcessTest, WithoutConsentTheReporterFailsAndTheClientGoesOn) {
  const base::FilePath user_data = Path(L"user data");
  ASSERT_TRUE(base::CreateDirectory(user_data));
  const std::string local_state = "{\"user_experience_metrics\":{\"reporting_enabled\":false}}";
  ASSERT_EQ(static_cast<int>(local_state.size()),
            base::WriteFile(user_data.Append(L"Local State"), local_state.data(),
                            static_cast<int>(local_state.size())));
  const std::wstring user_data_switch = L" --user-data-dir=" + Quoted(user_data);

  // The reporter alone: -1, and the parent's init event is never set.
  const std::wstring event_name = GetCrashReporterInitEventName(GetCurrentProcessId());
  base::ScopedHandle init_event(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(init_event.IsValid());
  EXPECT_EQ(kReporterFailedExitCode,
            base::RunTestHelper(kHost, L"--crash-reporter-parent-id=" +
                                           base::UintToString16(GetCurrentProcessId()) +
                                           user_data_switch));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(init_event.Get(), 0));

  // A client starting one goes on without crash reporting.
  const base::FilePath info = Path(L"client.txt");
  EXPECT_EQ(0, base::RunTestHelper(kHost, L"--info=" + Quoted(info) + user_data_switch));
  EXPECT_EQ("0", ReadReport(info)["reporter"]);
  EXPECT_FALSE(collector_.HasRequest(1));
}

// The shipped host in the reporter's role, serving a client that joins it.
TEST_F(CrashReporterProcessTest, TheInstallerHostServesAsTheReporter) {
  ScopedEnvironmentVariable keep("VELUM_CRASH_KEEP_LOGS", nullptr);
  const base::CommandLine host(base::FilePath(base::TestExeSibling(L"velum_installer.exe")));
  const uint32_t reporter_pid = internal::LaunchCrashReporter(host, kProcessWaitMs);
  ASSERT_NE(0u, reporter_pid);
  base::ScopedHandle reporter(
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, reporter_pid));
  ASSERT_TRUE(reporter.IsValid());
  Client client;
  ASSERT_NO_FATAL_FAILURE(StartClient(L"client.txt", reporter_pid, &client));
  EXPECT_EQ(base::Int64ToString(reporter_pid), client.facts["reporter"]);

  ASSERT_TRUE(SetEvent(crash_event_.Get()));
  EXPECT_NE(0u, WaitForExit(client.process.Get()));
  CollectedRequest request;
  ASSERT_TRUE(collector_.WaitForRequest(1, &request));
  EXPECT_EQ("installer", Field(request, "ptype"));
  EXPECT_EQ(client.facts["pid"], Field(request, "pid"));
  ASSERT_FALSE(request.parts.empty());
  EXPECT_EQ("velum-crashlog-" + client.facts["reporter"] + "-1.dmp",
            request.parts.back().file_name);
  MinidumpFacts facts = ReadMinidump(Write(L"uploaded.dmp", request.parts.back().data));
  EXPECT_TRUE(facts.valid);
  EXPECT_TRUE(facts.has_exception);
  EXPECT_EQ(1u, facts.streams.count(kBuildVersionStreamType));
  // Its parent, this test, lives on: the reporter would serve until the test ends.
  EXPECT_TRUE(TerminateProcess(reporter.Get(), 0));
}

// The reporter's shutdown: its parent and several clients end at once, the parent first,
// last or together with them. Pinned to two busy cores, about one reporter in 150 used to
// crash here (its pipe's cancelled connect completing into a server already gone).
TEST_F(CrashReporterProcessTest, EndsCleanlyWhenItsParentAndClientsEndTogether) {
  ScopedEnvironmentVariable keep("VELUM_CRASH_KEEP_LOGS", "yes");
  constexpr int kRounds = 30;
  constexpr int kClients = 3;
  enum Order { kParentFirst, kParentLast, kTogether };
  for (int round = 0; round < kRounds; ++round) {
    const Order order = static_cast<Order>(round % 3);
    const std::wstring parent_end = UniqueName(L"ParentEnd");
    const std::wstring clients_end = order == kTogether ? parent_end : UniqueName(L"ClientsEnd");
    base::ScopedHandle parent_event(CreateEventW(nullptr, TRUE, FALSE, parent_end.c_str()));
    base::ScopedHandle clients_event(CreateEventW(nullptr, TRUE, FALSE, clients_end.c_str()));
    ASSERT_TRUE(parent_event.IsValid() && clients_event.IsValid());
    Client parent;
    ASSERT_NO_FATAL_FAILURE(StartClient(L"parent.txt", 0, &parent, parent_end, false));
    uint32_t reporter_pid = 0;
    ASSERT_TRUE(base::StringToUint(parent.facts["reporter"], &reporter_pid));
    ASSERT_NE(0u, reporter_pid);
    base::ScopedHandle reporter = OpenReporter(parent);
    ASSERT_TRUE(reporter.IsValid());
    Client clients[kClients];
    for (Client& client : clients)
      ASSERT_NO_FATAL_FAILURE(StartClient(L"client.txt", reporter_pid, &client, clients_end, false));
    ASSERT_TRUE(SetEvent(order == kParentLast ? clients_event.Get() : parent_event.Get()));
    ASSERT_TRUE(SetEvent(order == kParentLast ? parent_event.Get() : clients_event.Get()));
    EXPECT_EQ(0u, WaitForExit(parent.process.Get()));
    for (Client& client : clients) EXPECT_EQ(0u, WaitForExit(client.process.Get()));
    EXPECT_EQ(0u, WaitForExit(reporter.Get())) << "round " << round;
  }
}

// The reporter held with the client's crash read but no dump file yet, past the client's
// wait: the dump is written once the client has ended.
TEST_F(CrashReporterProcessTest, ADumpHeldPastTheClientsWaitIsAFailedDump) {
  for (const bool keep_logs : {false, true}) {
    SCOPED_TRACE(keep_logs ? "logs kept" : "logs not kept");
    ExpectFailedDumpPastTheWait("before-file", false, keep_logs);
  }
}

// The reporter held with the dump file half written: the client that stopped waiting
// meanwhile has ended, or gone on with its exception record.
TEST_F(CrashReporterProcessTest, ADumpWhoseClientStoppedWaitingDuringTheWriteIsAFailedDump) {
  const struct {
    bool go_on;
    bool keep_logs;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.go_on ? "client went on" : "client ended") +
                 (c.keep_logs ? ", logs kept" : ""));
    ExpectFailedDumpPastTheWait("while-writing", c.go_on, c.keep_logs);
  }
}

using CrashReporterSetupTest = base::ScratchDirTest;

TEST_F(CrashReporterSetupTest, ConsentFollowsTheLocalStateFile) {
  const struct {
    const char* text;  // null: no file
    bool consent;
  } cases[] = {
      {nullptr, true},
      {"not json", true},
      {"[false]", true},
      {"{}", true},
      {"{\"user_experience_metrics\":{\"reporting_enabled\":\"no\"}}", true},
      {"{\"user_experience_metrics\":{\"reporting_enabled\":true}}", true},
      {"{\"user_experience_metrics\":{\"reporting_enabled\":false}}", false},
  };
  for (const auto& c : cases) {
    const base::FilePath path =
        c.text ? Write(L"Local State", c.text) : Path(L"missing");
    EXPECT_EQ(c.consent, ReadReportingConsent(path)) << (c.text ? c.text : "no file");
  }
  EXPECT_TRUE(ReadReportingConsent(base::FilePath()));
}

TEST_F(CrashReporterSetupTest, DumpFolderAndStatisticsFile) {
  base::FilePath temp;
  ASSERT_TRUE(base::GetTempDir(&temp));
  const base::FilePath blocker = Write(L"blocker", "a file");
  const base::FilePath dumps = Path(L"dumps");
  const struct {
    const char* log_dir;  // null: unset
    base::FilePath folder;
  } cases[] = {
      {nullptr, temp},
      {"", temp},
      {"dumps", dumps},
      {"blocker\\sub", temp},  // cannot be created
  };
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  for (const auto& c : cases) {
    std::string value;
    if (c.log_dir) value = *c.log_dir ? base::WideToUTF8(scratch_.path().value()) + "\\" + c.log_dir : "";
    ScopedEnvironmentVariable log_dir("VELUM_CRASH_LOG_DIR", c.log_dir ? value.c_str() : nullptr);
    ReporterPaths paths;
    ASSERT_TRUE(InitReporterPaths(command_line, &paths)) << value;
    EXPECT_EQ(c.folder.value(), paths.dump_folder.value()) << value;
    // No user data folder: the counts are kept beside the dumps.
    EXPECT_EQ(c.folder.Append(L"crash_stats.json").value(), paths.stats_file.value());
    EXPECT_TRUE(paths.preferences_file.empty());
  }

  const base::FilePath user_data = Path(L"user data");
  command_line.AppendSwitchPath("user-data-dir", user_data);
  ReporterPaths paths;
  ASSERT_TRUE(InitReporterPaths(command_line, &paths));
  EXPECT_TRUE(base::DirectoryExists(user_data));
  EXPECT_EQ(user_data.Append(L"crash_stats.json").value(), paths.stats_file.value());
  EXPECT_EQ(user_data.Append(L"Local State").value(), paths.preferences_file.value());
}

TEST(CrashReporterNamesTest, DumpNamesCarryTheReporterAndASequence) {
  const std::string pid = base::Int64ToString(GetCurrentProcessId());
  EXPECT_EQ("velum-crashlog-" + pid + "-1.dmp", MakeCrashLogName(1));
  EXPECT_EQ("velum-crashlog-" + pid + "-4294967295.dmp", MakeCrashLogName(4294967295u));
  const uint32_t first = NextDumpSequence();
  EXPECT_EQ(first + 1, NextDumpSequence());
}

}  // namespace
}  // namespace crash_reporter
