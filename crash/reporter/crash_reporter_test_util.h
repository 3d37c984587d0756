// Shared pieces of the crash client's tests: environment variables set for one scope,
// the stand-in reporter process and a small minidump reader.
#ifndef CRASH_REPORTER_CRASH_REPORTER_TEST_UTIL_H_
#define CRASH_REPORTER_CRASH_REPORTER_TEST_UTIL_H_

#include <windows.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace crash_reporter {

// Sets |name| to |value| (null: unsets it) and puts the old state back on destruction.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const char* value);
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
  ~ScopedEnvironmentVariable();

 private:
  std::string name_;
  bool was_set_;
  std::string old_value_;
};

// crash_reporter_test_helper.exe serving one client: started through the client's own
// launch code, ended by the destructor when it is still running.
class TestReporter {
 public:
  // |mode| as the helper takes it; its report goes to |report|.
  TestReporter(const std::string& mode, const base::FilePath& report);
  TestReporter(const TestReporter&) = delete;
  TestReporter& operator=(const TestReporter&) = delete;
  ~TestReporter();

  uint32_t pid() const { return pid_; }
  // Waits for the helper to end and returns its exit code (-1 on failure).
  int WaitForExit();

 private:
  uint32_t pid_ = 0;
  HANDLE process_ = nullptr;
};

// The lines of the helper's report as "key" -> "value" (entry:<name> for entries).
std::map<std::string, std::string> ReadReport(const base::FilePath& report);

// What the tests check of a minidump file.
struct MinidumpFacts {
  bool valid = false;  // "MDMP" signature and a stream directory inside the file
  bool has_exception = false;
  uint32_t exception_thread_id = 0;
  uint32_t exception_code = 0;
  uint64_t exception_address = 0;
  uint32_t memory_ranges = 0;  // of the memory list
  // User streams by type.
  std::map<uint32_t, std::string> streams;
};
MinidumpFacts ReadMinidump(const base::FilePath& path);

// The functions this program's image lists with their unwind records. Under Wine a dump
// holding a memory range for each of them was read out of the process one record at a
// time, long enough on a loaded machine for a crashed client to stop waiting for it.
size_t OwnFunctionCount();

// A crash of this process laid out as a client's registration names it: the dump writer
// reads the thread id and the exception pointers through these addresses.
struct OwnCrash {
  explicit OwnCrash(DWORD code);
  OwnCrash(const OwnCrash&) = delete;
  OwnCrash& operator=(const OwnCrash&) = delete;

  uint64_t thread_id_address() const { return reinterpret_cast<uintptr_t>(&thread_id); }
  uint64_t pointers_address_address() const {
    return reinterpret_cast<uintptr_t>(&pointers_address);
  }
  uint64_t record_address() const { return reinterpret_cast<uintptr_t>(&record); }

  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {};
  uint64_t pointers_address = 0;
  uint32_t thread_id = 0;
};

// The *.dmp files in |folder|.
std::vector<base::FilePath> FindDumps(const base::FilePath& folder);

// Adds a failure when a crash reporter crashed: the crash statistics in |stats_folder|
// count "crash_reporter", or a reporter left its own dump (kept with the logs) in the
// temporary folder since |since|; tells what each such dump holds.
void ExpectNoReporterCrash(const base::FilePath& stats_folder, const FILETIME& since);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_REPORTER_TEST_UTIL_H_
