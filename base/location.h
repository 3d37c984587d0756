// Location: the source site that posts a task, tracks a handle or takes a lock. All
// strings are static texts of the program, so a Location owns nothing.
#ifndef BASE_LOCATION_H_
#define BASE_LOCATION_H_

#include <cstdint>

namespace base {

class Location {
 public:
  constexpr Location()
      : function_name_(nullptr), file_name_(nullptr), line_(-1), program_counter_(nullptr) {}
  constexpr Location(const char* function_name, const char* file_name, int32_t line,
                     const void* program_counter)
      : function_name_(function_name),
        file_name_(file_name),
        line_(line),
        program_counter_(program_counter) {}

  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int32_t line() const { return line_; }
  const void* program_counter() const { return program_counter_; }

 private:
  const char* function_name_;
  const char* file_name_;
  int32_t line_;
  const void* program_counter_;
};

// The address at which the caller resumes after this call: a program counter inside the
// calling function.
const void* GetCallerAddress();

}  // namespace base

// The Location of the code that writes it.
#define FROM_HERE \
  ::base::Location(__func__, __FILE__, __LINE__, ::base::GetCallerAddress())

#endif  // BASE_LOCATION_H_
