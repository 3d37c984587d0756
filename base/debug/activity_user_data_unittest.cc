#include "base/debug/activity_user_data.h"

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace base {
namespace debug {
namespace {

// The user-data field at |offset| of a record: its bytes as they lie in memory.
struct RawField {
  uint8_t type;
  uint8_t name_size;
  uint16_t value_size;
  uint16_t record_size;
};

RawField ReadField(const char* record, size_t offset) {
  RawField field;
  field.type = static_cast<uint8_t>(record[offset]);
  field.name_size = static_cast<uint8_t>(record[offset + 1]);
  std::memcpy(&field.value_size, record + offset + 2, 2);
  std::memcpy(&field.record_size, record + offset + 4, 2);
  return field;
}

TEST(ActivityUserDataTest, FieldsArePackedAsReadersExpect) {
  const struct {
    const char* name;
    size_t value_size;
    size_t record_size;
  } kCases[] = {
      {"a", 1, 8},           // the value fits in the name's padding
      {"ab", 1, 16},         // no padding left: the value gets its own 8 bytes
      {"abcdefghi", 1, 16},  // padding again
      {"a", 0, 8},
      {"a", 2, 16},
      {"abc", 8, 24},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    alignas(8) char record[256] = {};
    ActivityUserData data(record, sizeof(record));
    const char value[8] = {'v', 'w', 'x', 'y', 'z', '1', '2', '3'};
    data.Set(test.name, ActivityUserData::RAW_VALUE, value, test.value_size);
    data.SetInt("next", 42);

    RawField field = ReadField(record, sizeof(OwningProcess));
    EXPECT_EQ(ActivityUserData::RAW_VALUE, field.type);
    EXPECT_EQ(std::strlen(test.name), field.name_size);
    EXPECT_EQ(test.value_size, field.value_size);
    EXPECT_EQ(test.record_size, field.record_size);
    // The field after it starts right behind the record.
    EXPECT_EQ(ActivityUserData::SIGNED_VALUE,
              ReadField(record, sizeof(OwningProcess) + test.record_size).type);

    // Another reader of the memory finds both fields.
    ActivityUserData imported(record, sizeof(record));
    ActivityUserData::Snapshot snapshot;
    ASSERT_TRUE(imported.CreateSnapshot(&snapshot));
    EXPECT_EQ(std::string(value, test.value_size), snapshot[test.name].bytes);
    int64_t next = 0;
    ASSERT_EQ(8u, snapshot["next"].bytes.size());
    std::memcpy(&next, snapshot["next"].bytes.data(), 8);
    EXPECT_EQ(42, next);
    EXPECT_EQ(data.id(), imported.id());
  }
}

TEST(ActivityUserDataTest, NamesAndValuesAreCutAndSpaceIsRespected) {
  alignas(8) char record[1024] = {};
  ActivityUserData data(record, sizeof(record));
  const std::string long_name(300, 'n');
  data.SetBool(long_name, true);
  data.SetString("text", "first");
  data.SetString("text", "second-longer");   // overwritten in place
  data.SetInt("text", 7);                    // another type leaves the field alone
  data.SetString("huge", std::string(2000, 'h'));  // cut to the space left

  ActivityUserData::Snapshot snapshot;
  ASSERT_TRUE(data.CreateSnapshot(&snapshot));
  ASSERT_EQ(1u, snapshot.count(long_name.substr(0, 255)));
  EXPECT_EQ(ActivityUserData::BOOL_VALUE, snapshot[long_name.substr(0, 255)].type);
  EXPECT_EQ("second-l", snapshot["text"].bytes) << "the field keeps its first extent";
  const size_t huge = snapshot["huge"].bytes.size();
  EXPECT_GT(huge, 600u);
  EXPECT_LT(huge, 1024u);

  // The record is full: nothing more fits.
  data.SetInt("late", 1);
  snapshot.clear();
  ASSERT_TRUE(data.CreateSnapshot(&snapshot));
  EXPECT_EQ(0u, snapshot.count("late"));

  // Record sizes stay within their 16 bits, however large the block.
  std::unique_ptr<uint64_t[]> big(new uint64_t[70000 / 8]());
  ActivityUserData big_data(big.get(), 70000);
  big_data.Set(std::string(255, 'b'), ActivityUserData::RAW_VALUE, std::string(65528, 'x').data(),
               65528);
  ActivityUserData reread(big.get(), 70000);
  snapshot.clear();
  ASSERT_TRUE(reread.CreateSnapshot(&snapshot));
  ASSERT_EQ(1u, snapshot.size());
  EXPECT_GT(snapshot.begin()->second.bytes.size(), 65000u);
}

TEST(ActivityUserDataTest, ImportStopsAtABrokenField) {
  alignas(8) char record[128] = {};
  ActivityUserData data(record, sizeof(record));
  data.SetInt("one", 1);
  data.SetInt("two", 2);
  // The second field claims more than the record holds.
  const uint16_t too_big = 200;
  std::memcpy(record + sizeof(OwningProcess) + 24 + 4, &too_big, 2);
  ActivityUserData imported(record, sizeof(record));
  ActivityUserData::Snapshot snapshot;
  ASSERT_TRUE(imported.CreateSnapshot(&snapshot));
  EXPECT_EQ(1u, snapshot.size());
  EXPECT_EQ(1u, snapshot.count("one"));

  // A size written after the import is believed only as far as the field reaches.
  const uint16_t huge = 65535;
  std::memcpy(record + sizeof(OwningProcess) + 2, &huge, 2);
  snapshot.clear();
  ASSERT_TRUE(imported.CreateSnapshot(&snapshot));
  EXPECT_EQ(8u, snapshot["one"].bytes.size());
}

}  // namespace
}  // namespace debug
}  // namespace base
