// Starting the *_test_helper.exe programs that the build puts beside the test EXEs.
#ifndef BASE_TEST_TEST_HELPER_PROCESS_H_
#define BASE_TEST_TEST_HELPER_PROCESS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/win/scoped_handle.h"

namespace base {

// The full path of |file_name| in the folder of the running test EXE.
std::wstring TestExeSibling(const wchar_t* file_name);

// Starts |helper| (a file name beside the test EXE) with |arguments| after the quoted
// program; |creation_flags| as for CreateProcessW. Holds the process handle in |process|.
[[nodiscard]] bool StartTestHelper(const wchar_t* helper, const std::wstring& arguments,
                                   DWORD creation_flags, ScopedHandle* process,
                                   ScopedHandle* thread);

// Runs |helper| to its end and returns its exit code, or -1 when it could not be run.
int RunTestHelper(const wchar_t* helper, const std::wstring& arguments);

// From now on every process this one starts, and every process those start, counts as
// a descendant, also once its parent has ended: this process joins a job object of its
// own (once, for the rest of its life). False when it could not.
[[nodiscard]] bool TrackDescendantProcesses();

// The ids of the descendants counted so far that still run; false when descendants are
// not tracked or cannot be listed.
[[nodiscard]] bool GetRunningDescendantIds(std::vector<DWORD>* ids);

// Waits until every descendant counted so far has ended, for example a backend and the
// clean-up batch it left running. False when one still runs after |timeout_ms|, or
// when descendants are not tracked.
[[nodiscard]] bool WaitForDescendantProcesses(DWORD timeout_ms);

}  // namespace base

#endif  // BASE_TEST_TEST_HELPER_PROCESS_H_
