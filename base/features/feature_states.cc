#include "base/features/feature_states.h"

namespace base {

FeatureStates::FeatureStates() : loaded_(false) {}

FeatureStates::~FeatureStates() {}

void FeatureStates::Declare(StringPiece name, bool enabled_by_default, bool overridable) {
  declared_.push_back(Declaration{name.as_string(), enabled_by_default, overridable});
}

void FeatureStates::AddOverride(StringPiece name, bool enabled) {
  overrides_.push_back(std::unique_ptr<FeatureState>(new FeatureState{name.as_string(), enabled}));
}

bool FeatureStates::IsEnabled(StringPiece name) const {
  for (auto it = overrides_.rbegin(); it != overrides_.rend(); ++it) {
    if (StringPiece((*it)->name) == name) return (*it)->enabled;
  }
  for (const Declaration& declaration : declared_) {
    if (StringPiece(declaration.name) != name) continue;
    if (declaration.overridable) {
      for (auto it = reader_results_.rbegin(); it != reader_results_.rend(); ++it) {
        if (StringPiece(it->name) == name) return it->enabled;
      }
    }
    return declaration.enabled_by_default;
  }
  return false;
}

void FeatureStates::ApplyReader(FeatureReader* reader) {
  loaded_ = true;
  reader->Read(&reader_results_);
}

std::vector<FeatureState> FeatureStates::GetStates() const {
  std::vector<FeatureState> states(reader_results_);
  for (const auto& override_state : overrides_) states.push_back(*override_state);
  return states;
}

}  // namespace base
