// The process environment with UTF-8 names and values.
//
//   std::unique_ptr<base::Environment> env(base::Environment::Create());
//   std::string dir;
//   if (env->GetVar("VELUM_CRASH_LOG_DIR", &dir)) ...
#ifndef BASE_ENVIRONMENT_H_
#define BASE_ENVIRONMENT_H_

#include <functional>
#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class Environment {
 public:
  virtual ~Environment();

  // An accessor of the process environment, owned by the caller.
  static std::unique_ptr<Environment> Create();

  // True when |name| is set (an empty value counts); |value| may be null. An absent
  // name starting with an ASCII letter is tried once more with its case flipped.
  [[nodiscard]] virtual bool GetVar(StringPiece name, std::string* value) = 0;
  // GetVar without reading the value, with the same case retry.
  virtual bool HasVar(StringPiece name) = 0;
  // Whether the system accepted the change.
  [[nodiscard]] virtual bool SetVar(StringPiece name, const std::string& value) = 0;
  [[nodiscard]] virtual bool UnSetVar(StringPiece name) = 0;
};

namespace internal {

// One lookup of exactly |name|; |value| may be null.
typedef std::function<bool(StringPiece name, std::string* value)> VariableLookup;

// GetVar's lookup with its one retry of the case-flipped name, over any lookup.
[[nodiscard]] bool GetVarWithCaseRetry(StringPiece name, std::string* value,
                                       const VariableLookup& lookup);

}  // namespace internal

}  // namespace base

#endif  // BASE_ENVIRONMENT_H_
