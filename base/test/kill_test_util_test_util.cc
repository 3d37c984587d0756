#include "base/test/kill_test_util.h"

#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <random>

#include "base/files/file_enumerator.h"
#include "base/guid.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

// Generous bounds for a loaded machine: a helper that is not ready or not gone by then
// is a failure, never a hang.
const DWORD kStartTimeoutMs = 120 * 1000;
const DWORD kExitTimeoutMs = 60 * 1000;
// Kill delays after the first write, in milliseconds.
const int kMaxKillDelayMs = 40;

struct Child {
  ScopedHandle process;
  ScopedHandle thread;
  ScopedHandle ready;
};

}  // namespace

int KillTestGeneration(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon > 9) return -1;
  const int generation = atoi(text.substr(0, colon).c_str());
  if (generation < 1 || text != KillTestContents(generation)) return -1;
  return generation;
}

std::vector<std::string> RunKillRounds(
    const wchar_t* helper, const std::vector<FilePath>& folders, int rounds, uint32_t seed,
    const std::function<std::string(const FilePath&)>& check) {
  std::vector<std::string> problems;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay(0, kMaxKillDelayMs);
  for (int round = 0; round < rounds; ++round) {
    std::vector<Child> children(folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::wstring event_name = L"velum-kill-test-" + ASCIIToWide(GenerateGuid());
      children[i].ready.Set(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
      if (!children[i].ready.IsValid() ||
          !StartTestHelper(helper, L"\"" + folders[i].value() + L"\" " + event_name, 0,
                           &children[i].process, &children[i].thread)) {
        problems.push_back("round " + std::to_string(round) + ": cannot start the helper");
        return problems;
      }
    }
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::string where =
          "round " + std::to_string(round) + ", " + folders[i].AsUTF8() + ": ";
      HANDLE waits[2] = {children[i].ready.Get(), children[i].process.Get()};
      if (::WaitForMultipleObjects(2, waits, FALSE, kStartTimeoutMs) != WAIT_OBJECT_0) {
        problems.push_back(where + "the helper never wrote");
        ::TerminateProcess(children[i].process.Get(), 1);
        continue;
      }
      ::Sleep(static_cast<DWORD>(delay(random)));
      ::TerminateProcess(children[i].process.Get(), 9);
    }
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::string where =
          "round " + std::to_string(round) + ", " + folders[i].AsUTF8() + ": ";
      if (::WaitForSingleObject(children[i].process.Get(), kExitTimeoutMs) != WAIT_OBJECT_0) {
        problems.push_back(where + "the helper did not end");
        continue;
      }
      const std::string problem = check(folders[i]);
      if (!problem.empty()) problems.push_back(where + problem);
    }
  }
  return problems;
}

std::vector<std::wstring> FileNamesIn(const FilePath& folder) {
  std::vector<std::wstring> names;
  FileEnumerator entries(folder, false, FileEnumerator::FILES, L"*");
  for (FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next())
    names.push_back(entry.BaseName().value());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace base
