#include "desktop/windows/installer/steps/installer_step.h"

#include <utility>

#include "base/logging.h"

namespace installer {

std::string DescribeFailure(const base::Failure& failure) {
  if (failure.error == 0) return failure.text;
  return failure.text + ": " + base::Win32ErrorToString(failure.error);
}

StepResult FailedStep(uint32_t status, uint32_t code, std::wstring argument,
                      std::string message, const base::Failure& failure) {
  LOG(ERROR) << DescribeFailure(failure);
  return StepResult(status, code, std::move(argument), std::move(message));
}

}  // namespace installer
