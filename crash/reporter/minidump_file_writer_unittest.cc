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

}  // namespace
}  // namespace crash_reporter
