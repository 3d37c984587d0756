#include "base/features/feature_registry.h"

#include <atomic>
#include <cstdint>

#include "base/command_line.h"
#include "base/lazy_instance.h"

namespace base {

const char kFeatureSwitchPrefix[] = "with-feature:";

namespace {

std::atomic<uintptr_t> g_registry_state{0};

}  // namespace

FeatureRegistry::FeatureRegistry() {}
FeatureRegistry::~FeatureRegistry() {}

// static
FeatureRegistry* FeatureRegistry::GetInstance() {
  return GetOrCreateLazyPointer<FeatureRegistry>(
      &g_registry_state, [] { return new FeatureRegistry; }, nullptr, nullptr);
}

bool IsFeatureEnabled(StringPiece name) {
  return FeatureRegistry::GetInstance()->GetFeatureStates()->IsEnabled(name);
}

std::string GetFeatureSwitchName(StringPiece feature_name) {
  return kFeatureSwitchPrefix + feature_name.as_string();
}

void AppendFeatureSwitches(CommandLine* command_line) {
  for (const FeatureState& state :
       FeatureRegistry::GetInstance()->GetFeatureStates()->GetStates()) {
    command_line->AppendSwitchASCII(GetFeatureSwitchName(state.name),
                                    state.enabled ? "on" : "off");
  }
}

}  // namespace base
