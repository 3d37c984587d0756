#include "base/logging.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"

namespace base {
namespace {

struct Captured {
  int severity;
  std::string file;
  int line;
  size_t message_start;
  std::string text;
};
std::vector<Captured>* g_captured = nullptr;
bool g_handler_answer = true;

bool CapturingHandler(int severity, const char* file, int line, size_t message_start,
                      const std::string& text) {
  g_captured->push_back(Captured{severity, file, line, message_start, text});
  return g_handler_answer;
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string text;
  return ReadFileToString(FilePath(path), &text) ? text : "<missing>";
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

bool IsDigits(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return false;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    log_path_ = scratch_.path().value() + L"\\test.log";
    g_captured = &captured_;
    g_handler_answer = true;
    SetMinLogLevel(LOG_INFO);
    SetLogPrefixItems(false, false, true, false);
    SetLogMessageHandler(&CapturingHandler);
  }
  void TearDown() override {
    SetLogMessageHandler(nullptr);
    SetLogPrefixItems(false, false, true, false);
    SetMinLogLevel(LOG_INFO);
    CloseLogFile();
    LoggingSettings none;
    none.logging_dest = LOG_NONE;
    EXPECT_TRUE(InitLogging(none));
    g_captured = nullptr;
  }

  // Logs to |log_path_| from now on.
  void LogToFile(uint32_t old_file_mode) {
    LoggingSettings settings;
    settings.logging_dest = LOG_TO_FILE;
    settings.log_file = log_path_.c_str();
    settings.delete_old = old_file_mode;
    ASSERT_TRUE(InitLogging(settings));
  }

  ScratchDir scratch_;
  std::wstring log_path_;
  std::vector<Captured> captured_;
};

TEST_F(LoggingTest, PrefixItemsSwitchOnAndOff) {
  SetLogPrefixItems(false, false, false, false);
  const int line = __LINE__ + 1;
  LOG(WARNING) << "plain";
  ASSERT_EQ(1u, captured_.size());
  const std::string tail = "WARNING:logging_unittest.cc(" + std::to_string(line) + ")] plain\n";
  EXPECT_EQ("[" + tail, captured_[0].text);
  EXPECT_EQ("plain\n", captured_[0].text.substr(captured_[0].message_start));
  EXPECT_EQ(LOG_WARNING, captured_[0].severity);
  EXPECT_EQ(line, captured_[0].line);

  const std::string pid = std::to_string(GetCurrentProcessId()) + ":";
  const std::string tid = std::to_string(GetCurrentThreadId()) + ":";
  struct Case {
    bool process_id, thread_id, time_stamp, tick_count;
  } cases[] = {{true, false, false, false}, {false, true, false, false},
               {false, false, true, false}, {false, false, false, true},
               {true, true, true, true}};
  for (const Case& c : cases) {
    captured_.clear();
    SetLogPrefixItems(c.process_id, c.thread_id, c.time_stamp, c.tick_count);
    const DWORD ticks_before = GetTickCount();
    LOG(WARNING) << "plain";
    ASSERT_EQ(1u, captured_.size());
    const std::string& text = captured_[0].text;
    SCOPED_TRACE(text);
    ASSERT_EQ('[', text[0]);
    size_t at = 1;
    if (c.process_id) {
      EXPECT_EQ(pid, text.substr(at, pid.size()));
      at += pid.size();
    }
    if (c.thread_id) {
      EXPECT_EQ(tid, text.substr(at, tid.size()));
      at += tid.size();
    }
    if (c.time_stamp) {  // MMDD/HHMMSS.mmm:
      EXPECT_TRUE(IsDigits(text, at, 4) && text[at + 4] == '/' && IsDigits(text, at + 5, 6) &&
                  text[at + 11] == '.' && IsDigits(text, at + 12, 3) && text[at + 15] == ':');
      at += 16;
    }
    if (c.tick_count) {
      const size_t colon = text.find(':', at);
      ASSERT_NE(std::string::npos, colon);
      const unsigned long ticks = std::stoul(text.substr(at, colon - at));
      EXPECT_GE(ticks, ticks_before);  // did not come from before the line was made
      at = colon + 1;
    }
    const std::string site = "WARNING:logging_unittest.cc(";
    EXPECT_EQ(site, text.substr(at, site.size()));
    EXPECT_EQ(")] plain\n", text.substr(text.size() - 9));
  }
}

TEST_F(LoggingTest, SeverityNamesAndFileBaseName) {
  struct Case {
    LogSeverity severity;
    const char* expected;
  } cases[] = {{-3, "[VERBOSE3:c.cc(7)] x\n"}, {-1, "[VERBOSE1:c.cc(7)] x\n"},
               {LOG_INFO, "[INFO:c.cc(7)] x\n"}, {LOG_WARNING, "[WARNING:c.cc(7)] x\n"},
               {LOG_ERROR, "[ERROR:c.cc(7)] x\n"}, {5, "[UNKNOWN:c.cc(7)] x\n"}};
  SetLogPrefixItems(false, false, false, false);
  for (const Case& c : cases) {
    LogMessage(R"(C:\a/b\c.cc)", 7, c.severity).stream() << "x";
    ASSERT_FALSE(captured_.empty());
    EXPECT_EQ(c.expected, captured_.back().text);
  }
}

TEST_F(LoggingTest, ShouldLogFollowsLevelDestinationsAndHandler) {
  SetLogMessageHandler(nullptr);
  LoggingSettings none;
  none.logging_dest = LOG_NONE;
  ASSERT_TRUE(InitLogging(none));
  EXPECT_FALSE(ShouldLog(LOG_INFO));
  EXPECT_FALSE(ShouldLog(LOG_WARNING));
  EXPECT_TRUE(ShouldLog(LOG_ERROR));  // still reaches standard error
  EXPECT_TRUE(ShouldLog(LOG_FATAL));

  SetLogMessageHandler(&CapturingHandler);
  EXPECT_TRUE(ShouldLog(LOG_INFO));

  SetMinLogLevel(7);
  EXPECT_EQ(LOG_FATAL, GetMinLogLevel());
  EXPECT_FALSE(ShouldLog(LOG_ERROR));
  EXPECT_TRUE(ShouldLog(LOG_FATAL));

  SetMinLogLevel(-2);
  EXPECT_EQ(-2, GetMinLogLevel());
  EXPECT_TRUE(ShouldLog(-2));
  EXPECT_EQ(2, GetVerboseLevelForFile(__FILE__, sizeof(__FILE__)));
}

TEST_F(LoggingTest, OldFileModesAndLinesAHandlerTakes) {
  ASSERT_TRUE(WriteTextFile(FilePath(log_path_), "old line\n"));
  SetLogMessageHandler(nullptr);
  LogToFile(APPEND_TO_OLD_LOG_FILE);
  LOG(INFO) << "appended";
  std::vector<std::string> lines = SplitLines(ReadWholeFile(log_path_));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("old line", lines[0]);
  EXPECT_NE(std::string::npos, lines[1].find(":INFO:logging_unittest.cc("));
  EXPECT_NE(std::string::npos, lines[1].find(")] appended"));

  LogToFile(DELETE_OLD_LOG_FILE);
  SetLastError(ERROR_ACCESS_DENIED);
  LOG(INFO) << "fresh";
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  // A handler that takes a line keeps it from the file.
  SetLogMessageHandler(&CapturingHandler);
  LOG(INFO) << "taken";
  g_handler_answer = false;
  LOG(INFO) << "passed on";
  EXPECT_EQ(2u, captured_.size());
  lines = SplitLines(ReadWholeFile(log_path_));
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find(")] fresh"));
  EXPECT_NE(std::string::npos, lines[1].find(")] passed on"));
}

TEST_F(LoggingTest, UnopenablePathFallsBackToTheCurrentDirectory) {
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  const std::wstring scratch = scratch_.path().value();
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.c_str()));
  log_path_ = scratch + L"\\missing folder\\x.log";
  LogToFile(DELETE_OLD_LOG_FILE);
  SetLogMessageHandler(nullptr);
  LOG(INFO) << "fell back";
  CloseLogFile();
  SetCurrentDirectoryW(previous);
  EXPECT_NE(std::string::npos, ReadWholeFile(scratch + L"\\debug.log").find(")] fell back"));
}

TEST_F(LoggingTest, LinesFromSeveralThreadsArriveWhole) {
  if (RunningUnderWine()) {
    // Wine 8 does not append concurrent writes to one handle atomically.
    GTEST_SKIP() << "concurrent appends are not atomic under Wine";
  }
  SetLogMessageHandler(nullptr);
  LogToFile(DELETE_OLD_LOG_FILE);
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&payload, t] {
      for (int i = 0; i < kLines; ++i) LOG(INFO) << "thread " << t << " " << payload;
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = SplitLines(ReadWholeFile(log_path_));
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  for (const std::string& line : lines) {
    ASSERT_EQ('[', line[0]) << line;
    ASSERT_EQ(payload, line.substr(line.size() - payload.size())) << line;
  }
}

TEST_F(LoggingTest, PlogAppendsTheSystemErrorText) {
  SetLogPrefixItems(false, false, false, false);
  SetLastError(ERROR_ALREADY_EXISTS);
  PLOG(ERROR) << "create";
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  ASSERT_EQ(1u, captured_.size());
  const std::string& text = captured_[0].text;
  const std::string expected_end = " (0xB7)\n";
  ASSERT_GT(text.size(), expected_end.size());
  EXPECT_EQ(expected_end, text.substr(text.size() - expected_end.size()));
  EXPECT_EQ(0u, text.find("[ERROR:logging_unittest.cc("));
  EXPECT_NE(std::string::npos, text.find(")] create: "));
}

TEST(Win32ErrorToString, KnownAndUnknownCodes) {
  const std::string known = Win32ErrorToString(ERROR_ACCESS_DENIED);
  ASSERT_GT(known.size(), 8u);
  EXPECT_EQ(" (0x5)", known.substr(known.size() - 6));
  EXPECT_EQ(std::string::npos, known.find_first_of("\r\n"));
  EXPECT_NE(' ', known[0]);
  EXPECT_EQ(std::string::npos, known.find("  "));

  const std::string unknown = Win32ErrorToString(0x2BADBEEF);
  EXPECT_EQ(0u, unknown.find("Error (0x")) << unknown;
  const std::string unknown_end = ") while retrieving error. (0x2BADBEEF)";
  ASSERT_GT(unknown.size(), unknown_end.size());
  EXPECT_EQ(unknown_end, unknown.substr(unknown.size() - unknown_end.size()));
}

TEST_F(LoggingTest, WideTextIsWrittenAsUtf8) {
  SetLogPrefixItems(false, false, false, false);
  const wchar_t* none = nullptr;
  LOG(INFO) << L"caf\u00e9 " << std::wstring(L"\u20ac") << none << "|";
  ASSERT_EQ(1u, captured_.size());
  EXPECT_EQ("caf\xc3\xa9 \xe2\x82\xac|\n", captured_[0].text.substr(captured_[0].message_start));
}

TEST(LoggingDefaults, DefaultLogFileIsBesideTheMainExecutable) {
  wchar_t module[MAX_PATH];
  const std::wstring exe(module, GetModuleFileNameW(nullptr, module, MAX_PATH));
  EXPECT_EQ(exe.substr(0, exe.rfind(L'\\') + 1) + L"debug.log", DefaultLogFilePath());
}

// The statements below run in a fresh child process: the default settings are untouched.
TEST(LoggingDeathTest, WithoutInitLoggingLinesGoToDebugLogWithATimeStamp) {
  // A marker unique to this run finds our line among those of other test processes.
  const std::string marker = "default line " + std::to_string(GetTickCount64());
  EXPECT_EXIT(
      {
        const int line = __LINE__ + 1;
        LOG(INFO) << marker;
        const std::string log = ReadWholeFile(DefaultLogFilePath());
        const size_t at = log.find(marker);
        const size_t start = log.rfind('\n', at) == std::string::npos
                                 ? 0
                                 : log.rfind('\n', at) + 1;
        const std::string text = log.substr(start, at + marker.size() - start);
        const std::string tail = ":INFO:logging_unittest.cc(" + std::to_string(line) + ")] ";
        const bool stamped = text.size() > 17 && text[0] == '[' && IsDigits(text, 1, 4) &&
                             text[5] == '/' && IsDigits(text, 6, 6) && text[12] == '.' &&
                             IsDigits(text, 13, 3) && text.compare(16, tail.size(), tail) == 0;
        std::fprintf(stderr, "%s|%s\n", stamped ? "STAMPED" : "WRONG", text.c_str());
        std::fflush(stderr);
        ExitProcess(0);
      },
      testing::ExitedWithCode(0), "STAMPED\\|\\[");
}

TEST(LoggingDeathTest, FatalLineEndsTheProcess) {
  EXPECT_DEATH(
      {
        LoggingSettings none;
        none.logging_dest = LOG_NONE;
        EXPECT_TRUE(InitLogging(none));
        SetLogPrefixItems(false, false, false, false);
        LOG(FATAL) << "cannot go on";
      },
      "^\\[FATAL:logging_unittest.cc\\(\\d+\\)\\] cannot go on");
  EXPECT_DEATH(
      {
        LoggingSettings none;
        none.logging_dest = LOG_NONE;
        EXPECT_TRUE(InitLogging(none));
        const int zero = GetCurrentProcessId() == 0 ? 1 : 0;
        CHECK_EQ(zero, 1) << "values differ";
      },
      "FATAL:logging_unittest.cc\\(\\d+\\)\\] Check failed: \\(zero\\) == \\(1\\)\\. values differ");
}

// Sets the switches on the process command line and reports the levels of two files.
void ReportLevelsWithSwitches(const char* v, const char* vmodule) {
  CommandLine::Init();
  CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (v) command_line->AppendSwitchASCII("v", v);
  if (vmodule) command_line->AppendSwitchASCII("vmodule", vmodule);
  LoggingSettings none;
  none.logging_dest = LOG_NONE;
  if (!InitLogging(none)) std::fprintf(stderr, "no logging\n");
  std::fprintf(stderr, "levels %d %d\n", GetVerboseLevelForFile(__FILE__, sizeof(__FILE__)),
               GetVerboseLevelForFile("x\\other.cc", sizeof("x\\other.cc")));
  std::fflush(stderr);
  ExitProcess(0);
}

TEST(LoggingDeathTest, VerboseSwitchesFromTheCommandLine) {
  EXPECT_EXIT(ReportLevelsWithSwitches(nullptr, nullptr), testing::ExitedWithCode(0),
              "levels 0 0");
  EXPECT_EXIT(ReportLevelsWithSwitches("1", nullptr), testing::ExitedWithCode(0),
              "levels 1 1");
  EXPECT_EXIT(ReportLevelsWithSwitches(nullptr, "logging_unittest=3"),
              testing::ExitedWithCode(0), "levels 3 0");
  EXPECT_EXIT(ReportLevelsWithSwitches("2", "*/base/logging_*=4"), testing::ExitedWithCode(0),
              "levels 4 2");
}

TEST(LoggingDeathTest, ThirdVerboseConfigurationIsFatal) {
  EXPECT_DEATH(
      {
        CommandLine::Init();
        CommandLine::ForCurrentProcess()->AppendSwitchASCII("v", "1");
        LoggingSettings none;
        none.logging_dest = LOG_NONE;
        for (int i = 0; i < 3; ++i) (void)InitLogging(none);  // the third call dies
      },
      "verbose logging configured more than twice");
}

}  // namespace
}  // namespace base
