// The feature states of the running process, and the "with-feature:" switches that carry
// them to the installer's other processes.
#ifndef BASE_FEATURES_FEATURE_REGISTRY_H_
#define BASE_FEATURES_FEATURE_REGISTRY_H_

#include <string>

#include "base/features/feature_states.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine;

// The switch prefix of a feature: "with-feature:" + name, valued "on" or "off".
extern const char kFeatureSwitchPrefix[];

class FeatureRegistry {
 public:
  // Created on first use by whichever thread comes first; lives until the process ends.
  static FeatureRegistry* GetInstance();

  // Filled on the main thread at start-up, before other threads ask; no lock.
  FeatureStates* GetFeatureStates() { return &states_; }

 private:
  FeatureRegistry();
  virtual ~FeatureRegistry();

  FeatureStates states_;
};

// Whether `name` is on in the process's feature states.
bool IsFeatureEnabled(StringPiece name);

// "with-feature:" + name.
std::string GetFeatureSwitchName(StringPiece feature_name);

// Appends one "with-feature:<name>=on|off" switch per entry of the process's states
// (reader results, then overrides), so a started process sees the same states.
void AppendFeatureSwitches(CommandLine* command_line);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_REGISTRY_H_
