#include "desktop/windows/installer/steps/installer_step.h"

#include <utility>

#include "base/logging.h"

namespace installer {

StepResult FailedStep(uint32_t status, uint32_t code, std::wstring argument,
                      std::string message, const base::Failure& failure) {
  LOG(ERROR) << base::DescribeFailure(failure);
  return StepResult(status, code, std::move(argument), std::move(message));
}

}  // namespace installer
