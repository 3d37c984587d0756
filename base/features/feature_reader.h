// A source of feature states (the command line, an experiment list).
#ifndef BASE_FEATURES_FEATURE_READER_H_
#define BASE_FEATURES_FEATURE_READER_H_

#include <string>
#include <vector>

namespace base {

struct FeatureState {
  std::string name;  // UTF-8, compared byte for byte
  bool enabled;
};

class FeatureReader {
 public:
  virtual ~FeatureReader() {}
  // Appends the states this source sets, in its own order.
  virtual void Read(std::vector<FeatureState>* results) = 0;
};

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_READER_H_
