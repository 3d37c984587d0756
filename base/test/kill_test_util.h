// Kill tests of file writers: a helper process rewrites one file in a loop with complete
// "versions" and is killed at many moments; after each kill the file must hold one whole
// version. The kill moments come from a fixed seed; the outcome must not depend on them.
#ifndef BASE_TEST_KILL_TEST_UTIL_H_
#define BASE_TEST_KILL_TEST_UTIL_H_

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace base {

// Version |generation| (1 or more) of the rewritten file: plain letters, digits and
// colons (safe inside a JSON string), its number at both ends.
inline std::string KillTestContents(int generation) {
  const std::string number = std::to_string(generation);
  return number + ":" + std::string(4096, static_cast<char>('a' + generation % 26)) + ":" +
         number;
}

// The generation of |text| when it is one complete version, else -1.
int KillTestGeneration(const std::string& text);

// Starts |helper| (beside the test EXE) with the arguments "<folder> <event name>" once
// per folder, all at once. Each helper sets the named event after its first complete
// write and then keeps rewriting; after a delay drawn from |seed| it is killed, and
// |check| (folder) returns "" or what is wrong there. |rounds| rounds; the problems
// found, each prefixed with its round and folder.
std::vector<std::string> RunKillRounds(const wchar_t* helper,
                                       const std::vector<FilePath>& folders, int rounds,
                                       uint32_t seed,
                                       const std::function<std::string(const FilePath&)>& check);

// The names of the files in |folder|, sorted.
std::vector<std::wstring> FileNamesIn(const FilePath& folder);

}  // namespace base

#endif  // BASE_TEST_KILL_TEST_UTIL_H_
