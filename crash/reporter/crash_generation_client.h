// The client end of the crash pipe: registers the process with a crash reporter and,
// on a crash, asks the reporter to write the dump.
//
//   CrashGenerationClient client(pipe_name, ScopedHandle(), 0, custom_info);
//   if (client.Register()) ... client.RequestDump(exception_pointers, nullptr);
#ifndef CRASH_REPORTER_CRASH_GENERATION_CLIENT_H_
#define CRASH_REPORTER_CRASH_GENERATION_CLIENT_H_

#include <windows.h>
#include <stdint.h>

#include <string>

#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_pipe_message.h"

namespace crash_reporter {

class CrashGenerationClient {
 public:
  // How long a dump request waits for the reporter.
  static constexpr DWORD kDumpWaitMs = 15000;

  // |pipe| when valid is used for the first registration instead of opening |pipe_name|.
  // Either way only the reporter that |pipe_name| is named after (GetCrashPipeName) is
  // trusted: its pipe's server process, and handles of the types a registration carries.
  CrashGenerationClient(const std::wstring& pipe_name, base::ScopedHandle pipe,
                        uint32_t dump_type, const CustomClientInfo& custom_info,
                        DWORD dump_wait_ms = kDumpWaitMs);
  CrashGenerationClient(const CrashGenerationClient&) = delete;
  CrashGenerationClient& operator=(const CrashGenerationClient&) = delete;
  ~CrashGenerationClient();

  // Performs the handshake once; true while the reporter's three handles are held.
  [[nodiscard]] bool Register();
  bool IsRegistered() const;
  uint32_t server_process_id() const { return server_process_id_; }

  // Asks the reporter for a dump of |exception_pointers| (with |assertion| when not null)
  // and waits up to the dump wait. True only when the reporter said the dump is done;
  // false when not registered, when the reporter died (its mutex abandoned) or on time-out.
  [[nodiscard]] bool RequestDump(EXCEPTION_POINTERS* exception_pointers,
                                 const AssertionInfo* assertion);

 private:
  [[nodiscard]] base::ScopedHandle Connect();
  // The register message: the addresses of the three fields below and the custom info.
  CrashPipeMessage MakeRegisterMessage() const;

  std::wstring pipe_name_;
  base::ScopedHandle pipe_;
  CustomClientInfo custom_info_;
  uint32_t dump_type_;
  const DWORD dump_wait_ms_;
  base::ScopedHandle dump_request_event_;
  base::ScopedHandle dump_done_event_;
  base::ScopedHandle server_alive_mutex_;
  uint32_t server_process_id_ = 0;
  // Read by the reporter through the addresses the register message carries.
  volatile uint32_t crashing_thread_id_ = 0;
  volatile uint64_t exception_pointers_ = 0;
  AssertionInfo assertion_info_;
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_GENERATION_CLIENT_H_
