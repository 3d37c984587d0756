// The crash reporter's side of the crash pipe (crash_pipe_message.h). One connection at a
// time on an overlapped message-mode pipe: a client registers, gets three handles (its
// dump-request and dump-done events and the server-alive mutex) and acknowledges; later it
// signals its dump-request event, and the server reads the client's custom info and calls
// the dump callback before releasing it. Everything runs on system thread-pool waits.
//
// The pipe is open to low-integrity processes, so a message is untrusted: a registration
// must come from the process it names, a client that stalls the only pipe instance is
// dropped after kClientTimeoutMs, and what is read out of a client never goes further
// than the entries actually read.
//
//   CrashGenerationServer server(GetCrashPipeName(GetCurrentProcessId()), nullptr,
//                                nullptr, nullptr, &OnDump, context, &OnExit, context,
//                                nullptr, nullptr, false, std::wstring());
//   if (!server.Start()) ...
//   ...
//   server.Stop();  // on the thread that called Start
#ifndef CRASH_REPORTER_CRASH_GENERATION_SERVER_H_
#define CRASH_REPORTER_CRASH_GENERATION_SERVER_H_

#include <windows.h>

#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/synchronization/lock.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_pipe_message.h"
#include "crash/reporter/thread_pool_waits.h"

namespace crash_reporter {

class CrashGenerationServer;

// One registered client process, owned by the server.
class ClientInfo {
 public:
  ClientInfo(CrashGenerationServer* server, const CrashPipeMessage& registration);
  ~ClientInfo();
  ClientInfo(const ClientInfo&) = delete;
  ClientInfo& operator=(const ClientInfo&) = delete;

  // Opens the process and creates the two events; false when any of it fails.
  [[nodiscard]] bool Initialize();

  uint32_t process_id() const { return process_id_; }
  uint32_t dump_type() const { return dump_type_; }
  HANDLE process_handle() const { return process_.Get(); }
  uint64_t thread_id_address() const { return thread_id_address_; }
  uint64_t exception_pointers_address() const { return exception_pointers_address_; }
  uint64_t assertion_info_address() const { return assertion_info_address_; }
  // The process creation time, or the registration time when that cannot be read.
  FILETIME start_time() const { return start_time_; }
  // The entries read at the last dump request, "ptime" last; empty when the client
  // claimed more than kMaxCustomInfoEntries.
  CustomClientInfo custom_info() const;

 private:
  friend class CrashGenerationServer;

  // Reads the client's entries and appends "ptime"; only "ptime" when the read fails.
  void FetchCustomInfo();

  CrashGenerationServer* const server_;
  const uint32_t process_id_;
  const uint32_t dump_type_;
  const uint64_t thread_id_address_;
  const uint64_t exception_pointers_address_;
  const uint64_t assertion_info_address_;
  const uint64_t custom_info_address_;
  const uint64_t custom_info_count_;
  std::vector<CustomInfoEntry> custom_info_;
  size_t custom_info_used_ = 0;
  base::ScopedHandle process_;
  base::ScopedHandle dump_requested_;
  base::ScopedHandle dump_done_;
  HANDLE dump_request_wait_ = nullptr;
  HANDLE process_exit_wait_ = nullptr;
  FILETIME start_time_ = {};
};

// The callbacks run on thread-pool threads, the connect callback with the client list
// locked: none may call back into the server.
class CrashGenerationServer {
 public:
  typedef void (*ConnectCallback)(void* context, const ClientInfo* client);
  // |dump_path| is null: this server never writes dumps itself.
  typedef void (*DumpCallback)(void* context, const ClientInfo* client,
                               const std::wstring* dump_path);
  typedef void (*ExitCallback)(void* context, const ClientInfo* client);
  typedef void (*UploadRequestCallback)(void* context, uint32_t client_id);

  // The most custom-info entries a client may claim.
  static constexpr uint64_t kMaxCustomInfoEntries = 4096;
  // How long a connected client may leave a read or write of the handshake pending.
  static constexpr DWORD kClientTimeoutMs = 5000;
  // The rights the server holds on a client: duplicate the handles into it, read its
  // memory, dump it and watch it end.
  static constexpr DWORD kClientProcessAccess =
      PROCESS_DUP_HANDLE | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION | SYNCHRONIZE;

  enum State : int {
    kNotStarted = 0,
    kError = 1,
    kInitial = 2,
    kConnecting = 3,
    kConnected = 4,
    kReading = 5,
    kReadDone = 6,
    kWriting = 7,
    kWriteDone = 8,
    kReadingAck = 9,
    kDisconnecting = 10,
  };

  // |generate_dumps| must be false (Start refuses true): the dump callback writes them.
  CrashGenerationServer(const std::wstring& pipe_name, SECURITY_ATTRIBUTES* pipe_security,
                        ConnectCallback connect_callback, void* connect_context,
                        DumpCallback dump_callback, void* dump_context,
                        ExitCallback exit_callback, void* exit_context,
                        UploadRequestCallback upload_callback, void* upload_context,
                        bool generate_dumps, const std::wstring& dump_folder);
  ~CrashGenerationServer();
  CrashGenerationServer(const CrashGenerationServer&) = delete;
  CrashGenerationServer& operator=(const CrashGenerationServer&) = delete;

  // Creates the pipe and starts serving; false when it cannot.
  [[nodiscard]] bool Start();
  // Stops serving and forgets every client; call it on the thread that called Start (it
  // releases the server-alive mutex, which that thread owns). Clients waiting on the
  // mutex then fail their dump requests.
  void Stop();

  // Before Start: the waits to register through instead of the system's.
  void SetThreadPoolWaitsForTesting(ThreadPoolWaits* waits) { waits_ = waits; }
  // Before Start: |event| (not owned) is set whenever a client that ended has left the list.
  void SetClientRemovedEventForTesting(HANDLE event) { client_removed_event_ = event; }

  // Whether I/O of the pipe is still under way (writing into this object).
  bool HasPendingIoForTesting() const {
    return io_started_ && !HasOverlappedIoCompleted(&overlapped_);
  }
  State state() const { return static_cast<State>(state_.load()); }
  // The registered clients' process ids.
  std::vector<uint32_t> ClientIds();

 private:
  static void CALLBACK OnPipeConnected(void* context, BOOLEAN timed_out);
  static void CALLBACK OnDumpRequest(void* context, BOOLEAN timed_out);
  static void CALLBACK OnClientExited(void* context, BOOLEAN timed_out);
  static void CALLBACK OnStallCheck(void* context, BOOLEAN timer_fired);

  void HandleConnection();
  // Cancels a handshake read or write that has been pending for kClientTimeoutMs.
  void CheckForStall();
  void EnterState(State state);     // sets the state and signals the event
  void EnterStateQuiet(State state);  // the completing I/O signals
  // Reads a message into |message_|; the completion signals the machine in
  // |pending_state|.
  void StartRead(State pending_state);
  void HandleInitial();
  void HandleConnecting();
  void HandleConnected();
  void HandleReading();
  void HandleReadDone();
  void HandleWriting();
  void HandleWriteDone();
  void HandleReadingAck();
  void HandleDisconnecting();
  void HandleError();

  // Registers the client described in the receive buffer; false drops the connection.
  [[nodiscard]] bool RegisterClient();
  [[nodiscard]] bool ValidateRegistration(const CrashPipeMessage& message);
  [[nodiscard]] bool MakeReply(const ClientInfo& client, CrashPipeMessage* reply);
  // Sends |reply_| and starts watching |client|, taking it over; false leaves |client| to
  // the caller, with |reply_sent| telling whether the client may hold the reply's handles.
  [[nodiscard]] bool AddClient(std::unique_ptr<ClientInfo>* client, bool* reply_sent);
  // Cancels the I/O pending on |overlapped_|, if any, and returns once it has completed:
  // until then the system may write into |overlapped_| and the message buffers.
  void EndPendingIo();
  // Notes whether the overlapped call that returned |result| is under way or done (true),
  // or failed at once.
  bool StartedIo(BOOL result);
  void DeleteClient(std::unique_ptr<ClientInfo> client, bool wait_for_callbacks);
  void HandleDumpRequest(ClientInfo* client);
  void HandleClientExited(ClientInfo* client);
  // The entry of |clients_| holding |client|, or end(); under |lock_|.
  std::vector<std::unique_ptr<ClientInfo>>::iterator FindClient(const ClientInfo* client);

  ThreadPoolWaits* waits_ = ThreadPoolWaits::System();
  HANDLE client_removed_event_ = nullptr;
  base::Lock lock_;
  std::vector<std::unique_ptr<ClientInfo>> clients_;  // under |lock_|
  // Held while the machine runs a step and while the stall check looks at it.
  base::Lock machine_lock_;
  base::ScopedTimerQueueTimer stall_timer_;
  const std::wstring pipe_name_;
  SECURITY_ATTRIBUTES* const pipe_security_;
  base::ScopedHandle pipe_;
  HANDLE pipe_wait_ = nullptr;
  base::ScopedHandle server_alive_;
  ConnectCallback connect_callback_;
  void* connect_context_;
  DumpCallback dump_callback_;
  void* dump_context_;
  ExitCallback exit_callback_;
  void* exit_context_;
  UploadRequestCallback upload_callback_;
  void* upload_context_;
  const bool generate_dumps_;
  const std::wstring dump_folder_;
  std::atomic<int> state_{kNotStarted};
  std::atomic<bool> shutting_down_{false};
  OVERLAPPED overlapped_ = {};
  bool io_started_ = false;  // the last call on |overlapped_| did not fail at once
  base::ScopedHandle overlapped_event_;
  CrashPipeMessage message_ = {};
  CrashPipeMessage reply_ = {};
  ClientInfo* answered_client_ = nullptr;
  // When the machine last moved (under |machine_lock_|); a handshake read or write
  // pending longer than the time-out is cancelled.
  ULONGLONG last_transition_ = 0;
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_GENERATION_SERVER_H_
