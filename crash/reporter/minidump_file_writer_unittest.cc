#include "crash/reporter/minidump_file_writer.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "crash/reporter/crash_reporter_test_util.h"
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

// This process plays the client: the writer reads its crash through the addresses.
TEST_F(MinidumpFileWriterTest, AClientDumpIsGoodOnlyWithItsExceptionRecord) {
  struct Case {
    const char* label;
    DWORD code;
    bool record_readable;
    bool keep_failed;
    bool written;
  };
  const Case cases[] = {
      {"readable record", 0xE0000017, true, false, true},
      {"zero record", 0, true, false, false},
      {"zero record, failures kept", 0, true, true, false},
      {"unreadable record", 0xE0000017, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = c.code;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {
        c.record_readable ? &record : reinterpret_cast<EXCEPTION_RECORD*>(16), &context};
    const uint64_t pointers_address = reinterpret_cast<uintptr_t>(&pointers);
    const uint32_t thread_id = GetCurrentThreadId();
    const base::FilePath path = Path(L"client.dmp");
    EXPECT_EQ(c.written,
              WriteClientMinidump(GetCurrentProcessId(), reinterpret_cast<uintptr_t>(&thread_id),
                                  reinterpret_cast<uintptr_t>(&pointers_address), 0, path.value(),
                                  kClientDumpSizeLimit, c.keep_failed));
    EXPECT_EQ(c.written, base::PathExists(path));
    if (c.written) {
      MinidumpFacts facts = ReadMinidump(path);
      EXPECT_TRUE(facts.has_exception);
      EXPECT_EQ(c.code, facts.exception_code);
    }
    const base::FilePath failed(FailedDumpPath(path.value()));
    EXPECT_EQ(c.keep_failed, base::PathExists(failed));
    (void)base::DeleteFile(path, false);
    (void)base::DeleteFile(failed, false);
  }
}

}  // namespace
}  // namespace crash_reporter
