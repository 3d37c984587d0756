#include "crash/reporter/crash_reporter_test_util.h"

#include <windows.h>
#include <dbghelp.h>
#include <string.h>

#include <memory>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/test/test_helper_process.h"
#include "crash/reporter/crash_client.h"
#include "crash/reporter/crash_stats_store.h"

namespace crash_reporter {

namespace {

// The test waits this long for the helper to come up: far beyond a start under load.
constexpr DWORD kHelperStartWaitMs = 60000;
constexpr uint32_t kMinidumpSignature = 0x504d444d;  // "MDMP"
constexpr uint32_t kExceptionStreamType = 6;

template <typename T>
[[nodiscard]] bool ReadAt(const std::string& file, uint64_t offset, T* value) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  memcpy(value, file.data() + offset, sizeof(T));
  return true;
}

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value)
    : name_(name) {
  std::unique_ptr<base::Environment> environment(base::Environment::Create());
  was_set_ = environment->GetVar(name_, &old_value_);
  if (value)
    EXPECT_TRUE(environment->SetVar(name_, value));
  else
    (void)environment->UnSetVar(name_);  // false only when it was not set: unset either way
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  std::unique_ptr<base::Environment> environment(base::Environment::Create());
  if (was_set_)
    EXPECT_TRUE(environment->SetVar(name_, old_value_));
  else
    (void)environment->UnSetVar(name_);  // false only when it was not set: unset either way
}

TestReporter::TestReporter(const std::string& mode, const base::FilePath& report) {
  base::CommandLine command_line(
      base::FilePath(base::TestExeSibling(L"crash_reporter_test_helper.exe")));
  command_line.AppendSwitchASCII("mode", mode);
  command_line.AppendSwitchPath("report", report);
  pid_ = internal::LaunchCrashReporter(command_line, kHelperStartWaitMs);
  if (pid_)
    process_ = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE,
                           pid_);
}

TestReporter::~TestReporter() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
  CloseHandle(process_);
}

int TestReporter::WaitForExit() {
  DWORD code = 0;
  if (!process_ || WaitForSingleObject(process_, kHelperStartWaitMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process_, &code)) {
    return -1;
  }
  return static_cast<int>(code);
}

std::map<std::string, std::string> ReadReport(const base::FilePath& report) {
  std::map<std::string, std::string> values;
  std::string text;
  if (!base::ReadFileToString(report, &text)) return values;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return values;
}

OwnCrash::OwnCrash(DWORD code) : thread_id(GetCurrentThreadId()) {
  record.ExceptionCode = code;
  pointers.ExceptionRecord = &record;
  pointers.ContextRecord = &context;
  pointers_address = reinterpret_cast<uintptr_t>(&pointers);
}

MinidumpFacts ReadMinidump(const base::FilePath& path) {
  MinidumpFacts facts;
  std::string file;
  if (!base::ReadFileToString(path, &file)) return facts;
  // The header: signature, version, stream count, directory offset.
  uint32_t signature = 0, stream_count = 0, directory = 0;
  if (!ReadAt(file, 0, &signature) || signature != kMinidumpSignature ||
      !ReadAt(file, 8, &stream_count) || !ReadAt(file, 12, &directory)) {
    return facts;
  }
  // Directory entries: type, data size, data offset.
  const uint64_t directory_end = directory + 12ull * stream_count;
  if (stream_count == 0 || directory_end > file.size()) return facts;
  facts.valid = true;
  for (uint32_t i = 0; i < stream_count; ++i) {
    uint32_t type = 0, size = 0, offset = 0;
    if (!ReadAt(file, directory + 12ull * i, &type) ||
        !ReadAt(file, directory + 12ull * i + 4, &size) ||
        !ReadAt(file, directory + 12ull * i + 8, &offset) ||
        static_cast<uint64_t>(offset) + size > file.size()) {
      facts.valid = false;
      continue;
    }
    if (type == kExceptionStreamType) {
      // Thread id, alignment, then the exception record starting with its code.
      facts.has_exception = ReadAt(file, offset, &facts.exception_thread_id) &&
                            ReadAt(file, offset + 8ull, &facts.exception_code) &&
                            ReadAt(file, offset + 24ull, &facts.exception_address);
    } else {
      if (type == MemoryListStream && !ReadAt(file, offset, &facts.memory_ranges))
        facts.valid = false;
      facts.streams[type] = file.substr(offset, size);
    }
  }
  return facts;
}

size_t OwnFunctionCount() {
  const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
  const IMAGE_NT_HEADERS* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  return headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION].Size /
         sizeof(RUNTIME_FUNCTION);
}

std::vector<base::FilePath> FindDumps(const base::FilePath& folder) {
  std::vector<base::FilePath> dumps;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(folder.Append(L"*.dmp").value().c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return dumps;
  do {
    dumps.push_back(folder.Append(data.cFileName));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return dumps;
}

void ExpectNoReporterCrash(const base::FilePath& stats_folder, const FILETIME& since) {
  base::FilePath stats = stats_folder.Append(L"crash_stats.json");
  HANDLE file = CreateFileW(stats.value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CrashStatsStore::Counts counts;
    EXPECT_TRUE(CrashStatsStore::LoadCounts(file, &counts)) << stats.value();
    CloseHandle(file);
    EXPECT_EQ(0u, counts["crash_reporter"]) << "a crash reporter crashed";
  }
  base::FilePath temp;
  if (!base::GetTempDir(&temp)) return;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(temp.Append(L"*-crashlog-*.dmp").value().c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (CompareFileTime(&data.ftLastWriteTime, &since) < 0) continue;
    const base::FilePath dump = temp.Append(data.cFileName);
    const MinidumpFacts facts = ReadMinidump(dump);
    ADD_FAILURE() << "a crash reporter left its dump " << dump.value() << ": exception 0x"
                  << std::hex << facts.exception_code << " at 0x" << facts.exception_address
                  << std::dec << " on thread " << facts.exception_thread_id;
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

}  // namespace crash_reporter
