#include "base/features/feature_states.h"

#include <gtest/gtest.h>

namespace base {
namespace {

// A reader that hands out a fixed list.
class FixedReader : public FeatureReader {
 public:
  explicit FixedReader(std::vector<FeatureState> states) : states_(std::move(states)) {}
  void Read(std::vector<FeatureState>* results) override {
    results->insert(results->end(), states_.begin(), states_.end());
  }

 private:
  std::vector<FeatureState> states_;
};

TEST(FeatureStatesTest, Precedence) {
  FeatureStates states;
  states.Declare("fixed-on", true, false);
  states.Declare("follows-readers", false, true);
  states.Declare("default-on", true, true);
  states.Declare("overridden", false, false);
  states.Declare("first-wins", true, true);
  states.Declare("first-wins", false, false);  // a later declaration does not count
  EXPECT_FALSE(states.loaded());

  FixedReader first({{"fixed-on", false}, {"follows-readers", true}, {"undeclared", true},
                     {"first-wins", false}});
  FixedReader second({{"follows-readers", false}, {"follows-readers", true}});
  states.ApplyReader(&first);
  states.ApplyReader(&second);
  EXPECT_TRUE(states.loaded());
  states.AddOverride("overridden", false);
  states.AddOverride("overridden", true);
  states.AddOverride("only-override", true);

  const struct {
    const char* name;
    bool enabled;
  } cases[] = {
      {"fixed-on", true},          // not overridable: readers are ignored
      {"follows-readers", true},   // the last reader result wins
      {"default-on", true},        // no reader result: the default
      {"overridden", true},        // newest override first
      {"first-wins", false},       // first declaration is overridable: reader decides
      {"undeclared", false},       // never declared: off whatever readers say
      {"only-override", true},     // an override names any feature
      {"Follows-Readers", false},  // names are case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(c.enabled, states.IsEnabled(c.name)) << c.name;
}

TEST(FeatureStatesTest, StatesListReaderResultsThenOverrides) {
  FeatureStates states;
  FixedReader reader({{"a", true}, {"b", false}, {"a", false}});
  states.ApplyReader(&reader);
  states.AddOverride("c", true);
  const std::vector<FeatureState> all = states.GetStates();
  ASSERT_EQ(4u, all.size());
  const char* const names[] = {"a", "b", "a", "c"};
  const bool enabled[] = {true, false, false, true};
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(names[i], all[i].name) << i;
    EXPECT_EQ(enabled[i], all[i].enabled) << i;
  }
}

}  // namespace
}  // namespace base
