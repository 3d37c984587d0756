// A statistics tree of its own for tests of code that writes through StatsNode.
#ifndef DESKTOP_WINDOWS_INSTALLER_STATISTICS_STATS_NODE_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_STATISTICS_STATS_NODE_TEST_UTIL_H_

#include <string>

#include "base/synchronization/lock.h"
#include "base/values.h"
#include "desktop/windows/installer/statistics/stats_node.h"

namespace installer {
namespace testing {

struct TestStatsRecord {
  TestStatsRecord();

  // The tree as compact JSON (a failure fails the test).
  std::string Json();

  base::Dictionary tree;
  base::Lock lock;
  StatsNode root;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATISTICS_STATS_NODE_TEST_UTIL_H_
