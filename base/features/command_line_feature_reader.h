// Feature states from the "with-feature:<name>" switches of a command line: no value or
// "on" turns the feature on, "off" turns it off; anything else is logged and ignored.
#ifndef BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
#define BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_

#include <string>
#include <vector>

#include "base/features/feature_reader.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine;

class CommandLineFeatureReader : public FeatureReader {
 public:
  // `command_line` is borrowed and must outlive the reader.
  explicit CommandLineFeatureReader(const CommandLine& command_line);
  ~CommandLineFeatureReader() override;

  void Read(std::vector<FeatureState>* results) override;

 private:
  const CommandLine& command_line_;
};

// The warning logged for a feature switch with a value other than "on" or "off".
std::string UnhandledFeatureValueMessage(StringPiece switch_name, StringPiece value);

}  // namespace base

#endif  // BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
