// Crashes a running process the way a real fault would, for the crash benchmark
// (bench/crash_roles.sh): a thread started in it at address 0x8 faults at once
// (execute access violation), and the process's own unhandled-exception filter (the
// product's crash client) is what handles it. Run under Wine, in the target's prefix:
//   crash_inject.exe <pid>                     crashes process <pid>
//   crash_inject.exe <image> <fragment>        crashes the one process of that image name
//                                              whose command line holds <fragment>
//                                              (crash reporters never count)
//   crash_inject.exe --list                    pid, image and command line of each process
//   crash_inject.exe --hold <event name>...    creates these events and waits (at most ten
//                                              minutes), for a role that needs them to
//                                              exist; prints its own pid first
// Exit status: 0 the thread was started, 2 no such process, 3 more than one, 4 it could
// not be opened or the thread not started.
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "base/win/scoped_handle.h"

namespace {

struct Process {
  DWORD pid;
  std::wstring image;
  std::wstring command_line;
};

// Read out of the process's own parameters block: the only source Wine and Windows
// both give for another process.
std::wstring CommandLineOf(DWORD pid) {
  const base::ScopedHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process.IsValid()) return std::wstring();
  std::wstring text;
  PROCESS_BASIC_INFORMATION basic = {};
  PEB peb = {};
  RTL_USER_PROCESS_PARAMETERS parameters = {};
  if (NtQueryInformationProcess(process.Get(), ProcessBasicInformation, &basic, sizeof(basic),
                                nullptr) == 0 &&
      ReadProcessMemory(process.Get(), basic.PebBaseAddress, &peb, sizeof(peb), nullptr) &&
      ReadProcessMemory(process.Get(), peb.ProcessParameters, &parameters, sizeof(parameters),
                        nullptr)) {
    text.resize(parameters.CommandLine.Length / sizeof(wchar_t));
    if (!ReadProcessMemory(process.Get(), parameters.CommandLine.Buffer, &text[0],
                           parameters.CommandLine.Length, nullptr))
      text.clear();
  }
  return text;
}

std::vector<Process> ListProcesses() {
  std::vector<Process> processes;
  const base::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return processes;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    processes.push_back({entry.th32ProcessID, entry.szExeFile, CommandLineOf(entry.th32ProcessID)});
  }
  return processes;
}

int Crash(DWORD pid) {
  const base::ScopedHandle process(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                               FALSE, pid));
  if (!process.IsValid()) {
    fwprintf(stderr, L"crash_inject: cannot open process %lu: error %lu\n", pid, GetLastError());
    return 4;
  }
  // A start address no module maps: the new thread faults on its first instruction.
  const base::ScopedHandle thread(CreateRemoteThread(
      process.Get(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<uintptr_t>(8)),
      nullptr, 0, nullptr));
  if (!thread.IsValid()) {
    fwprintf(stderr, L"crash_inject: no thread in process %lu: error %lu\n", pid,
             GetLastError());
    return 4;
  }
  wprintf(L"crashed %lu\n", pid);
  return 0;
}

int Hold(int count, wchar_t** names) {
  std::vector<base::ScopedHandle> events;
  for (int i = 0; i < count; ++i) {
    base::ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, names[i]));
    if (!event.IsValid()) {
      fwprintf(stderr, L"crash_inject: cannot create %ls: error %lu\n", names[i], GetLastError());
      return 4;
    }
    events.push_back(std::move(event));
  }
  wprintf(L"%lu\n", GetCurrentProcessId());
  fflush(stdout);
  Sleep(10 * 60 * 1000);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"--hold") return Hold(argc - 2, argv + 2);
  if (argc == 2 && std::wstring(argv[1]) == L"--list") {
    for (const Process& process : ListProcesses())
      wprintf(L"%lu %ls %ls\n", process.pid, process.image.c_str(), process.command_line.c_str());
    return 0;
  }
  if (argc == 2) return Crash(wcstoul(argv[1], nullptr, 10));
  if (argc != 3) {
    fwprintf(stderr, L"usage: crash_inject.exe <pid> | <image> <fragment> | --list | "
                     L"--hold <event name>...\n");
    return 1;
  }
  std::vector<DWORD> found;
  for (const Process& process : ListProcesses()) {
    if (_wcsicmp(process.image.c_str(), argv[1]) != 0) continue;
    if (process.command_line.find(argv[2]) == std::wstring::npos) continue;
    if (process.command_line.find(L"crash-reporter-parent-id") != std::wstring::npos) continue;
    if (process.pid == GetCurrentProcessId()) continue;
    found.push_back(process.pid);
  }
  if (found.empty()) {
    fwprintf(stderr, L"crash_inject: no %ls with \"%ls\"\n", argv[1], argv[2]);
    return 2;
  }
  if (found.size() > 1) {
    fwprintf(stderr, L"crash_inject: %zu processes %ls with \"%ls\"\n", found.size(), argv[1],
             argv[2]);
    return 3;
  }
  return Crash(found[0]);
}
