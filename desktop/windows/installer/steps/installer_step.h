// InstallerStep: one unit of an installation, run by the Installer's step scheduler on
// the backend's main thread, and StepResult, what a run of it asks for next.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_H_

#include <stdint.h>

#include <string>

#include "base/result.h"

namespace installer {

class InstallationContext;

// [[nodiscard]]: a failure built and then dropped would report the step as done.
struct [[nodiscard]] StepResult {
  enum Status : uint32_t {
    STATUS_OK = 0,
    STATUS_FAIL = 1,
    // Run again a second later; fail the installation when the retries are used up.
    STATUS_RETRY_THEN_FAIL = 2,
    // Run again a second later; go on as if ok when the retries are used up.
    STATUS_RETRY_THEN_SKIP = 3,
  };

  // The default result is success.
  StepResult() = default;
  StepResult(uint32_t status, uint32_t code, std::wstring argument, std::string message)
      : status(status), code(code), argument(std::move(argument)), message(std::move(message)) {}

  uint32_t status = STATUS_OK;
  // An installer error code (installation_context.h), reported with a failure.
  uint32_t code = 0;
  // Detail of the failure, as a rule a path.
  std::wstring argument;
  std::string message;
};

// The result of a step that failed on `failure`. The scheduler logs and reports
// `message`, the system's fixed text; the reason, which it never sees, is logged here.
[[nodiscard]] StepResult FailedStep(uint32_t status, uint32_t code, std::wstring argument,
                      std::string message, const base::Failure& failure);

class InstallerStep {
 public:
  virtual ~InstallerStep() = default;
  // `attempt` is 0 on the first run and one more on each retry. Never throws.
  virtual StepResult Run(int32_t attempt) = 0;
};

// A step that works on the running installation it is made for; most steps need nothing
// else, and take this constructor with `using ContextStep::ContextStep`.
class ContextStep : public InstallerStep {
 public:
  // `context` outlives the step: the installation owns its steps.
  explicit ContextStep(InstallationContext* context) : context_(context) {}

 protected:
  InstallationContext* const context_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_H_
