#include "desktop/windows/installer/statistics/stats_node_test_util.h"

#include <gtest/gtest.h>

#include "base/json/json_writer.h"

namespace installer {
namespace testing {

TestStatsRecord::TestStatsRecord() : root(&tree, &lock, base::TimeTicks::Now()) {}

std::string TestStatsRecord::Json() {
  std::string json;
  EXPECT_TRUE(base::JsonWriter::Write(tree, &json));
  return json;
}

}  // namespace testing
}  // namespace installer
