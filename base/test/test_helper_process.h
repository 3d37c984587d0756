// Starting the *_test_helper.exe programs that the build puts beside the test EXEs.
#ifndef BASE_TEST_TEST_HELPER_PROCESS_H_
#define BASE_TEST_TEST_HELPER_PROCESS_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace base {

// The full path of |file_name| in the folder of the running test EXE.
std::wstring TestExeSibling(const wchar_t* file_name);

// Starts |helper| (a file name beside the test EXE) with |arguments| after the quoted
// program; |creation_flags| as for CreateProcessW. Holds the process handle in |process|.
bool StartTestHelper(const wchar_t* helper, const std::wstring& arguments,
                     DWORD creation_flags, ScopedHandle* process, ScopedHandle* thread);

// Runs |helper| to its end and returns its exit code, or -1 when it could not be run.
int RunTestHelper(const wchar_t* helper, const std::wstring& arguments);

}  // namespace base

#endif  // BASE_TEST_TEST_HELPER_PROCESS_H_
