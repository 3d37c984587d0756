#include "base/features/command_line_feature_reader.h"

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/logging.h"

namespace base {

CommandLineFeatureReader::CommandLineFeatureReader(const CommandLine& command_line)
    : command_line_(command_line) {}

CommandLineFeatureReader::~CommandLineFeatureReader() {}

void CommandLineFeatureReader::Read(std::vector<FeatureState>* results) {
  const StringPiece prefix(kFeatureSwitchPrefix);
  for (const auto& entry : command_line_.GetSwitches()) {
    const StringPiece switch_name(entry.first);
    if (!switch_name.starts_with(prefix)) continue;
    const std::string name = switch_name.substr(prefix.size()).as_string();
    // Values that are not plain ASCII count as empty, like the ASCII switch reader.
    const std::string value = command_line_.GetSwitchValueASCII(switch_name);
    if (value.empty() || value == "on") {
      results->push_back(FeatureState{name, true});
    } else if (value == "off") {
      results->push_back(FeatureState{name, false});
    } else {
      LOG(WARNING) << UnhandledFeatureValueMessage(switch_name, value);
    }
  }
}

std::string UnhandledFeatureValueMessage(StringPiece switch_name, StringPiece value) {
  return switch_name.as_string() + " has unhandled value: \"" + value.as_string() +
         "\" did you mean \"on\" or \"off\"? Using default setting.";
}

}  // namespace base
