#include "crash/util/crash_keys.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace crash_reporter {
namespace {

// Every callback call, in order: "set URL-1=..." or "clear URL-3".
std::vector<std::string>* g_calls = nullptr;

void RecordSet(base::StringPiece key, base::StringPiece value) {
  g_calls->push_back("set " + key.as_string() + "=" + value.as_string());
}

void RecordClear(base::StringPiece key) { g_calls->push_back("clear " + key.as_string()); }

const CrashKey kKeys[] = {{"URL", 1008}, {"ptype", 63}, {"ab_tests", 252}};

class CrashKeysTest : public testing::Test {
 protected:
  void SetUp() override {
    g_calls = &calls_;
    SetCrashKeyCallbacks(&RecordSet, &RecordClear);
    ASSERT_EQ(16u + 1u + 4u, InitCrashKeys(kKeys, 3, 63));
  }
  void TearDown() override {
    InitCrashKeys(nullptr, 0, 0);
    SetCrashKeyCallbacks(nullptr, nullptr);
    g_calls = nullptr;
  }

  std::vector<std::string> calls_;
};

TEST_F(CrashKeysTest, LongValueSetsItsChunksAfterClearingTheStaleOnes) {
  SetCrashKey("URL", std::string(63, 'a') + std::string(37, 'b'));
  std::vector<std::string> expected;
  for (int i = 3; i <= 16; ++i) expected.push_back("clear URL-" + std::to_string(i));
  expected.push_back("set URL-1=" + std::string(63, 'a'));
  expected.push_back("set URL-2=" + std::string(37, 'b'));
  EXPECT_EQ(expected, calls_);
}

TEST_F(CrashKeysTest, ValueBeyondTheMaximumIsCutToTheLastSlot) {
  SetCrashKey("ab_tests", std::string(300, 'x'));
  ASSERT_EQ(4u, calls_.size());
  EXPECT_EQ("set ab_tests-4=" + std::string(63, 'x'), calls_.back());
}

TEST_F(CrashKeysTest, EmptyValueClearsEveryChunkAndSetsNone) {
  SetCrashKey("ab_tests", "");
  EXPECT_EQ((std::vector<std::string>{"clear ab_tests-1", "clear ab_tests-2",
                                      "clear ab_tests-3", "clear ab_tests-4"}),
            calls_);
}

TEST_F(CrashKeysTest, SingleSlotAndUndeclaredKeysPassAsTheyAre) {
  const std::string long_value(80, 'v');
  SetCrashKey("ptype", long_value);
  SetCrashKey("not_declared", long_value);
  EXPECT_EQ((std::vector<std::string>{"set ptype=" + long_value,
                                      "set not_declared=" + long_value}),
            calls_);
}

TEST_F(CrashKeysTest, NothingHappensWithoutCallbackOrRegistry) {
  SetCrashKeyCallbacks(nullptr, &RecordClear);
  SetCrashKey("URL", "x");
  SetCrashKeyCallbacks(&RecordSet, &RecordClear);
  InitCrashKeys(nullptr, 0, 0);
  SetCrashKey("URL", "x");
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(nullptr, LookupCrashKey("URL"));
}

TEST_F(CrashKeysTest, LaterInitReplacesTheRegistry) {
  const CrashKey other[] = {{"other", 126}};
  EXPECT_EQ(2u, InitCrashKeys(other, 1, 63));
  EXPECT_EQ(nullptr, LookupCrashKey("URL"));
  ASSERT_NE(nullptr, LookupCrashKey("other"));
  EXPECT_EQ(126u, LookupCrashKey("other")->max_length);
}

TEST(CrashKeyChunksTest, SplitsIntoFullPiecesAndAShorterLastOne) {
  const CrashKey key = {"k", 10};
  EXPECT_EQ((std::vector<std::string>{"abcd", "efgh", "ij"}),
            ChunkCrashKeyValue(key, "abcdefghijKLM", 4));
  EXPECT_TRUE(ChunkCrashKeyValue(key, "", 4).empty());
  EXPECT_EQ("URL-12", GetCrashKeyChunkName("URL", 12));
  EXPECT_EQ(16u, GetCrashKeyChunkCount(1008, 63));
  EXPECT_EQ(17u, GetCrashKeyChunkCount(1009, 63));
}

}  // namespace
}  // namespace crash_reporter
