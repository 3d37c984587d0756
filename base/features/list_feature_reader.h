// Feature states from a list of "<name>@<state>" strings (state 1 on, 2 off), as the
// installer preferences keep experiment states.
#ifndef BASE_FEATURES_LIST_FEATURE_READER_H_
#define BASE_FEATURES_LIST_FEATURE_READER_H_

#include <vector>

#include "base/features/feature_reader.h"
#include "base/strings/string_piece.h"

namespace base {

class List;

class ListFeatureReader : public FeatureReader {
 public:
  // `list` is borrowed and must outlive the reader.
  explicit ListFeatureReader(const List& list);
  ~ListFeatureReader() override;

  // Entries that are not strings or do not parse are skipped.
  void Read(std::vector<FeatureState>* results) override;

 private:
  const List& list_;
};

// Parses "<name>@<state>" with white space allowed around both parts; false for any
// other shape or a state other than 1 or 2.
[[nodiscard]] bool ParseFeatureListEntry(StringPiece text, FeatureState* state);

}  // namespace base

#endif  // BASE_FEATURES_LIST_FEATURE_READER_H_
