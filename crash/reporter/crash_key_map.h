// Turns a client's custom info, read out of a process that may be broken or hostile,
// back into crash keys: chunked keys are joined, malformed entries dropped.
#ifndef CRASH_REPORTER_CRASH_KEY_MAP_H_
#define CRASH_REPORTER_CRASH_KEY_MAP_H_

#include <stddef.h>

#include <map>
#include <string>

#include "crash/reporter/crash_pipe_message.h"

namespace crash_reporter {

class CrashKeyMap {
 public:
  typedef std::map<std::wstring, std::wstring> Map;

  CrashKeyMap();
  explicit CrashKeyMap(Map values);
  CrashKeyMap(CrashKeyMap&& other);
  CrashKeyMap& operator=(CrashKeyMap&& other);
  ~CrashKeyMap();

  // The value of |key|; empty when absent.
  std::wstring Get(const std::wstring& key) const;
  size_t size() const { return values_.size(); }
  // In key order.
  Map::const_iterator begin() const { return values_.begin(); }
  Map::const_iterator end() const { return values_.end(); }

 private:
  Map values_;
};

// Keeps entries whose name has 1 to 63 characters of [A-Za-z0-9._-] (and is not
// "unspecified-crash-key") and whose value ends within 64 characters. A name
// "<base>-<digits>" is chunk <digits> of <base>; the chunks of a base are joined in
// index order unless a plain key of that name came first. The first value of a name wins.
CrashKeyMap BuildCrashKeyMap(const CustomInfoEntry* entries, size_t count);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_KEY_MAP_H_
