// FeatureStates: the declared features with their defaults, what the readers said, and
// overrides, and the rule that decides whether a feature is on.
//
//   FeatureStates states;
//   states.Declare("fast-unpack", false, true);
//   CommandLineFeatureReader reader(*CommandLine::ForCurrentProcess());
//   states.ApplyReader(&reader);
//   if (states.IsEnabled("fast-unpack")) ...
#ifndef BASE_FEATURES_FEATURE_STATES_H_
#define BASE_FEATURES_FEATURE_STATES_H_

#include <memory>
#include <string>
#include <vector>

#include "base/features/feature_reader.h"
#include "base/strings/string_piece.h"

namespace base {

class FeatureStates {
 public:
  FeatureStates();
  ~FeatureStates();
  FeatureStates(const FeatureStates&) = delete;
  FeatureStates& operator=(const FeatureStates&) = delete;

  // The first declaration of a name is the one that counts. Readers can change only
  // overridable features.
  void Declare(StringPiece name, bool enabled_by_default, bool overridable);
  // Decides for any name, declared or not; the newest override wins.
  void AddOverride(StringPiece name, bool enabled);

  // The newest override of the name; else, for a declared feature, the last reader
  // result when it is overridable, else its default. Undeclared names are off.
  bool IsEnabled(StringPiece name) const;

  // Lets `reader` append its results; results of later readers win.
  void ApplyReader(FeatureReader* reader);
  bool loaded() const { return loaded_; }

  // Every reader result in order, then every override in order.
  std::vector<FeatureState> GetStates() const;

 private:
  struct Declaration {
    std::string name;
    bool enabled_by_default;
    bool overridable;
  };

  std::vector<Declaration> declared_;
  std::vector<FeatureState> reader_results_;
  std::vector<std::unique_ptr<FeatureState>> overrides_;
  bool loaded_;
};

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_STATES_H_
