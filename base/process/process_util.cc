#include "base/process/process_util.h"

#include <tlhelp32.h>

#include "base/win/scoped_handle.h"

namespace base {

uint32_t GetParentProcessId(HANDLE process) { return GetParentProcessId(GetProcessId(process)); }

uint32_t GetParentProcessId(uint32_t process_id) {
  if (process_id == 0) return 0;  // never match the idle process's entry
  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.Get(), &entry)) return 0;
  do {
    if (entry.th32ProcessID == process_id) return entry.th32ParentProcessID;
  } while (Process32NextW(snapshot.Get(), &entry));
  return 0;
}

Time ProcessCreationTime() {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return Time();
  return Time::FromFileTime(creation);
}

}  // namespace base
