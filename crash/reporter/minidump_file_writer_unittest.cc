#include "crash/reporter/minidump_file_writer.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_reporter_test_util.h"
#include "crash/reporter/dump_client.h"
#include "crash/reporter/dump_write_pauses.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {
namespace {

using MinidumpFileWriterTest = base::ScratchDirTest;

TEST_F(MinidumpFileWriterTest, WritesTheVersionAndAssertionStreams) {
  CrashInfoBlock block = {};
  block.assertion.type = kAssertionInvalidParameter;
  block.assertion.line = 42;
  const base::FilePath path = Path(L"own.dmp");
  ASSERT_TRUE(WriteMinidumpFile(GetCurrentProcess(), GetCurrentProcessId(), block,
                                path.value(), kClientDumpSizeLimit));
  MinidumpFacts facts = ReadMinidump(path);
  EXPECT_TRUE(facts.valid);
  EXPECT_EQ(installer::GetBuildVersion() + " " + base::IntToString(installer::GetBuildUbn()),
            facts.streams[kBuildVersionStreamType]);
  ASSERT_EQ(sizeof(AssertionInfo), facts.streams[kAssertionStreamType].size());
  AssertionInfo assertion = {};
  memcpy(&assertion, facts.streams[kAssertionStreamType].data(), sizeof(assertion));
  EXPECT_EQ(42u, assertion.line);
}

TEST_F(MinidumpFileWriterTest, ADumpOverTheLimitIsDeleted) {
  const CrashInfoBlock block = {};
  const base::FilePath path = Path(L"large.dmp");
  EXPECT_FALSE(WriteMinidumpFile(GetCurrentProcess(), GetCurrentProcessId(), block,
                                 path.value(), 1000));
  EXPECT_FALSE(base::PathExists(path));
}

// The memory a dump carries is its threads', not a range for each function's unwind
// record; a second dump finds nothing left of the first.
TEST_F(MinidumpFileWriterTest, ADumpCarriesThreadMemoryNotEachFunctionsUnwindRecord) {
  const size_t functions = OwnFunctionCount();
  ASSERT_GT(functions, 1000u);
  const CrashInfoBlock block = {};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const base::FilePath path = Path(L"own.dmp");
    ASSERT_TRUE(WriteMinidumpFile(GetCurrentProcess(), GetCurrentProcessId(), block,
                                  path.value(), kClientDumpSizeLimit));
    const MinidumpFacts facts = ReadMinidump(path);
    ASSERT_TRUE(facts.valid);
    EXPECT_GT(facts.memory_ranges, 0u);
    EXPECT_LT(facts.memory_ranges, functions / 10);
    ASSERT_TRUE(base::DeleteFile(path, false));
  }
}

// This process plays the client; what the writer reads of it and whether it ended can be
// changed from the moment the system begins writing the dump, while the dump itself is
// written from the real process.
class PlantedClient : public DumpClient, public DumpWritePauses {
 public:
  enum Plant {
    kNothing,
    kZeroCode,            // the record holds no exception code
    kRecordUnreadable,    // from the start
    kRecordLostInWrite,   // unreadable once the write began
    kEndedInWrite,
    kCodeChangedInWrite,  // another exception
    kCloseFails,          // the dump file's last writes fail at its close
    kAssertionUnreadable,  // the assertion block it names
  };

  PlantedClient(HANDLE process, uint64_t record_address, Plant plant)
      : real_(process), record_address_(record_address), plant_(plant) {}

  HANDLE process() const override { return real_.process(); }
  bool Read(uint64_t address, void* buffer, size_t size) const override {
    if (plant_ == kAssertionUnreadable && size == sizeof(AssertionInfo)) return false;
    const bool record = address == record_address_;
    if (record && (plant_ == kRecordUnreadable || (plant_ == kRecordLostInWrite && writing_)))
      return false;
    if (!real_.Read(address, buffer, size)) return false;
    if (record && size == sizeof(DWORD)) {
      DWORD* code = static_cast<DWORD*>(buffer);
      if (plant_ == kZeroCode) *code = 0;
      if (plant_ == kCodeChangedInWrite && writing_) *code = 0xC0000005;
    }
    return true;
  }
  bool Ended() const override { return (plant_ == kEndedInWrite && writing_) || real_.Ended(); }

  void BeforeDumpFile(uint32_t) override {}
  void WhileWriting(uint32_t) override { writing_ = true; }
  bool writing() const { return writing_; }
  CloseDumpFile closer() const {
    if (plant_ != kCloseFails) return CloseDumpFile();
    return [](base::ScopedHandle* file) {
      (void)file->CloseChecked();
      SetLastError(ERROR_DISK_FULL);
      return false;
    };
  }

 private:
  const ProcessDumpClient real_;
  const uint64_t record_address_;
  const Plant plant_;
  bool writing_ = false;
};

// A dump is good only when the client's crash could be read before and was still the same
// after it was written, and its file closed cleanly; any other comes out failed, never for
// upload.
TEST_F(MinidumpFileWriterTest, AClientDumpIsGoodOnlyWithItsCrashUnchanged) {
  struct Case {
    const char* label;
    PlantedClient::Plant plant;
    bool keep_failed;
    bool written;
  };
  const Case cases[] = {
      {"crash as read", PlantedClient::kNothing, false, true},
      {"zero code", PlantedClient::kZeroCode, false, false},
      {"zero code, failures kept", PlantedClient::kZeroCode, true, false},
      {"unreadable record", PlantedClient::kRecordUnreadable, false, false},
      {"record lost during the write", PlantedClient::kRecordLostInWrite, false, false},
      {"client ended during the write", PlantedClient::kEndedInWrite, true, false},
      {"exception changed during the write", PlantedClient::kCodeChangedInWrite, false, false},
      {"close of the file failed", PlantedClient::kCloseFails, false, false},
      {"close of the file failed, failures kept", PlantedClient::kCloseFails, true, false},
      {"unreadable assertion block", PlantedClient::kAssertionUnreadable, false, false},
  };
  base::ScopedHandle self(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE,
                                      FALSE, GetCurrentProcessId()));
  ASSERT_TRUE(self.IsValid());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const OwnCrash crash(0xE0000017);
    const base::FilePath path = Path(L"client.dmp");
    PlantedClient client(self.Get(), crash.record_address(), c.plant);
    const bool named_assertion = c.plant == PlantedClient::kAssertionUnreadable;
    const AssertionInfo assertion = {};
    EXPECT_EQ(c.written,
              WriteClientMinidump(client, GetCurrentProcessId(), crash.thread_id_address(),
                                  crash.pointers_address_address(),
                                  named_assertion ? reinterpret_cast<uintptr_t>(&assertion) : 0,
                                  path.value(), kClientDumpSizeLimit, c.keep_failed, &client,
                                  client.closer()));
    // The system did write unless the client's block could not be read: only the checks
    // around it can fail the dump.
    EXPECT_NE(named_assertion, client.writing());
    EXPECT_EQ(c.written, base::PathExists(path));
    if (c.written) {
      MinidumpFacts facts = ReadMinidump(path);
      EXPECT_TRUE(facts.has_exception);
      EXPECT_EQ(0xE0000017u, facts.exception_code);
    }
    const base::FilePath failed(FailedDumpPath(path.value()));
    EXPECT_EQ(c.keep_failed, base::PathExists(failed));
    (void)base::DeleteFile(path, false);
    (void)base::DeleteFile(failed, false);
  }
}

}  // namespace
}  // namespace crash_reporter
