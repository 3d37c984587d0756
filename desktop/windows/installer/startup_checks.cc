#include "desktop/windows/installer/startup_checks.h"

#include <cstdlib>

namespace installer {

namespace {
const DWORD kSse2Feature = 10;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE
}  // namespace

void CheckProcessorSupportsSse2() {
  const internal::ProcessorCheckFunctions functions = {&IsProcessorFeaturePresent,
                                                       &MessageBoxW, &std::exit};
  internal::CheckProcessorSupportsSse2(functions);
}

namespace internal {

void CheckProcessorSupportsSse2(const ProcessorCheckFunctions& functions) {
  if (functions.is_processor_feature_present(kSse2Feature))
    return;
  functions.message_box(nullptr,
                        L"This program requires a computer that supports SSE2 instructions.",
                        L"Error", MB_OK);
  functions.exit(1);
}

}  // namespace internal

}  // namespace installer
