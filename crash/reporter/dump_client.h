// A crashed client as the writer of its dump sees it: the process handle the dump is
// written from, its memory and whether it still runs. Tests fake the client's state.
#ifndef CRASH_REPORTER_DUMP_CLIENT_H_
#define CRASH_REPORTER_DUMP_CLIENT_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

namespace crash_reporter {

class DumpClient {
 public:
  // The handle MiniDumpWriteDump writes from (PROCESS_QUERY_INFORMATION, PROCESS_VM_READ
  // and SYNCHRONIZE).
  virtual HANDLE process() const = 0;
  // Reads exactly |size| bytes at |address| of the client.
  [[nodiscard]] virtual bool Read(uint64_t address, void* buffer, size_t size) const = 0;
  // Whether the client has ended, or cannot be watched.
  [[nodiscard]] virtual bool Ended() const = 0;

 protected:
  ~DumpClient() = default;
};

// The system's view of the client through |process| (not owned).
class ProcessDumpClient : public DumpClient {
 public:
  explicit ProcessDumpClient(HANDLE process) : process_(process) {}

  HANDLE process() const override { return process_; }
  bool Read(uint64_t address, void* buffer, size_t size) const override;
  bool Ended() const override;

 private:
  const HANDLE process_;
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_DUMP_CLIENT_H_
