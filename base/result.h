// Result<T> is what a fallible operation returns: its value, or the Failure that says why
// there is none. The type itself is [[nodiscard]], so a dropped result is a compile
// warning (an error under the project's flags) wherever it is returned, and the reason
// travels with the failure instead of beside it in an out-parameter.
//
//   base::Result<base::FilePath> Resolve(const base::FilePath& folder) {
//     if (folder.empty()) return base::Failure{ERROR_INVALID_NAME, 0, "no folder", folder};
//     return folder.Append(L"x");
//   }
//   base::Result<> Write(...);            // no value: success or a Failure
//
//   const auto resolved = Resolve(folder);
//   if (!resolved.ok()) return resolved.failure();   // passes the reason up
//   Use(resolved.value());
//
// A success never carries a reason, and a failure never a value.
#ifndef BASE_RESULT_H_
#define BASE_RESULT_H_

#include <windows.h>

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "base/files/file_path.h"
#include "base/logging.h"

namespace base {

// Why an operation failed: the Win32 error behind it (0 when no system call failed), a
// kind of the operation's own (which of its steps failed; 0 when it has none), a short text
// for the log, and the file or folder it failed on (empty when none).
struct Failure {
  DWORD error = 0;
  int kind = 0;
  std::string text;
  FilePath path;
};

// The failure as one log text: its own text, then the system's words for its Win32 error
// (or HRESULT) when there is one.
inline std::string DescribeFailure(const Failure& failure) {
  if (failure.error == 0) return failure.text;
  return failure.text + ": " + Win32ErrorToString(failure.error);
}

template <typename T = void>
class [[nodiscard]] Result {
 public:
  // From anything that converts to T ("text" for a std::string), as a return statement
  // gives it.
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U&&, T> &&
                                                    !std::is_same_v<std::decay_t<U>, Failure> &&
                                                    !std::is_same_v<std::decay_t<U>, Result>>>
  Result(U&& value) : value_(std::forward<U>(value)) {}  // NOLINT(google-explicit-constructor)
  Result(Failure failure) : failure_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return value_.has_value(); }

  const T& value() const& {
    CHECK(ok());
    return *value_;
  }
  T&& value() && {
    CHECK(ok());
    return std::move(*value_);
  }
  const Failure& failure() const {
    CHECK(!ok());
    return failure_;
  }

 private:
  std::optional<T> value_;
  Failure failure_;
};

// The result of an operation that has no value: success, or the Failure.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;  // success
  Result(Failure failure)  // NOLINT(google-explicit-constructor)
      : failed_(true), failure_(std::move(failure)) {}

  bool ok() const { return !failed_; }
  const Failure& failure() const {
    CHECK(!ok());
    return failure_;
  }

 private:
  bool failed_ = false;
  Failure failure_;
};

}  // namespace base

#endif  // BASE_RESULT_H_
