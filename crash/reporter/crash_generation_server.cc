#include "crash/reporter/crash_generation_server.h"

#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "base/logging.h"

namespace crash_reporter {

namespace {

constexpr DWORD kPipeBufferSize = 64;
constexpr int kStopPolls = 100;
constexpr DWORD kStopPollMs = 10;
constexpr DWORD kStallCheckMs = 1000;

uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void CopyText(const wchar_t* text, wchar_t* out, size_t capacity) {
  wcsncpy(out, text, capacity - 1);
  out[capacity - 1] = L'\0';
}

// Closes, inside |process|, handles already duplicated into it.
void CloseInClient(HANDLE process, const uint64_t* handles, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!handles[i]) continue;
    DuplicateHandle(process, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handles[i])),
                    nullptr, nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
  }
}

// Unregisters |wait|. Without a completion event UnregisterWaitEx answers ERROR_IO_PENDING
// while a callback of the wait runs (also the caller's own): the wait is gone all the
// same once that callback returns. Any other failure is logged.
void EndThreadPoolWait(ThreadPoolWaits* waits, HANDLE wait, HANDLE completion) {
  if (waits->Unregister(wait, completion)) return;
  if (!completion && GetLastError() == ERROR_IO_PENDING) return;
  PLOG(ERROR) << "UnregisterWaitEx";
}

}  // namespace

// ----------------------------------------------------------------------------- ClientInfo

ClientInfo::ClientInfo(CrashGenerationServer* server, const CrashPipeMessage& registration)
    : server_(server),
      process_id_(registration.id),
      dump_type_(registration.dump_type),
      thread_id_address_(registration.thread_id_address),
      exception_pointers_address_(registration.exception_pointers_address),
      assertion_info_address_(registration.assertion_info_address),
      custom_info_address_(registration.custom_info_entries_address),
      custom_info_count_(registration.custom_info_count) {}

ClientInfo::~ClientInfo() {
  process_.Close();
  dump_requested_.Close();
  dump_done_.Close();
}

bool ClientInfo::Initialize() {
  process_.Set(OpenProcess(CrashGenerationServer::kClientProcessAccess, FALSE, process_id_));
  if (!process_.IsValid()) {
    PLOG(ERROR) << "cannot open crash client " << process_id_;
    return false;
  }
  FILETIME creation = {}, exit = {}, kernel = {}, user = {};
  if (GetProcessTimes(process_.Get(), &creation, &exit, &kernel, &user))
    start_time_ = creation;
  else
    GetSystemTimeAsFileTime(&start_time_);
  dump_requested_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  dump_done_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return dump_requested_.IsValid() && dump_done_.IsValid();
}

CustomClientInfo ClientInfo::custom_info() const {
  return CustomClientInfo{custom_info_used_ ? custom_info_.data() : nullptr, custom_info_used_};
}

void ClientInfo::FetchCustomInfo() {
  custom_info_used_ = 0;
  if (custom_info_count_ > CrashGenerationServer::kMaxCustomInfoEntries) {
    LOG(ERROR) << "crash client " << process_id_ << " claims " << custom_info_count_
               << " custom-info entries";
    return;
  }
  const size_t count = static_cast<size_t>(custom_info_count_);
  if (custom_info_.empty()) custom_info_.resize(count + 1);
  // Zeroed each time: nothing of an earlier read or of the heap may travel as a key.
  memset(custom_info_.data(), 0, custom_info_.size() * sizeof(CustomInfoEntry));
  SIZE_T read = 0;
  const bool fetched =
      count > 0 &&
      ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(custom_info_address_),
                        custom_info_.data(), count * sizeof(CustomInfoEntry), &read) &&
      read == count * sizeof(CustomInfoEntry);
  if (fetched) {
    // The client's text is untrusted: every field ends inside its entry.
    for (size_t i = 0; i < count; ++i) {
      custom_info_[i].name[kCustomInfoTextLength - 1] = L'\0';
      custom_info_[i].value[kCustomInfoTextLength - 1] = L'\0';
    }
  } else {
    if (count > 0) PLOG(ERROR) << "cannot read the custom info of crash client " << process_id_;
    memset(custom_info_.data(), 0, custom_info_.size() * sizeof(CustomInfoEntry));
  }
  CustomInfoEntry& ptime = custom_info_[fetched ? count : 0];
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const uint64_t start = FileTimeValue(start_time_);
  const uint64_t current = FileTimeValue(now);
  const uint64_t age_ms = current > start ? (current - start) / 10000 : 0;
  CopyText(L"ptime", ptime.name, kCustomInfoTextLength);
  swprintf(ptime.value, kCustomInfoTextLength, L"%llu",
           static_cast<unsigned long long>(age_ms));
  custom_info_used_ = fetched ? count + 1 : 1;
}

// ------------------------------------------------------------------ CrashGenerationServer

CrashGenerationServer::CrashGenerationServer(
    const std::wstring& pipe_name, SECURITY_ATTRIBUTES* pipe_security,
    ConnectCallback connect_callback, void* connect_context, DumpCallback dump_callback,
    void* dump_context, ExitCallback exit_callback, void* exit_context,
    UploadRequestCallback upload_callback, void* upload_context, bool generate_dumps,
    const std::wstring& dump_folder)
    : pipe_name_(pipe_name),
      pipe_security_(pipe_security),
      connect_callback_(connect_callback),
      connect_context_(connect_context),
      dump_callback_(dump_callback),
      dump_context_(dump_context),
      exit_callback_(exit_callback),
      exit_context_(exit_context),
      upload_callback_(upload_callback),
      upload_context_(upload_context),
      generate_dumps_(generate_dumps),
      dump_folder_(dump_folder) {}

CrashGenerationServer::~CrashGenerationServer() { Stop(); }

bool CrashGenerationServer::Start() {
  if (state() != kNotStarted || generate_dumps_) return false;
  state_ = kInitial;
  server_alive_.Set(CreateMutexW(nullptr, TRUE, nullptr));
  overlapped_event_.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!server_alive_.IsValid() || !overlapped_event_.IsValid()) {
    PLOG(ERROR) << "cannot create the crash server's objects";
    state_ = kError;
    return false;
  }
  overlapped_.hEvent = overlapped_event_.Get();
  last_transition_ = GetTickCount64();
  if (!waits_->Register(&pipe_wait_, overlapped_event_.Get(), &OnPipeConnected, this,
                        WT_EXECUTEINWAITTHREAD)) {
    PLOG(ERROR) << "RegisterWaitForSingleObject";
    pipe_wait_ = nullptr;
    state_ = kError;
    return false;
  }
  pipe_.Set(CreateNamedPipeW(pipe_name_.c_str(),
                             PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE |
                                 FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, kPipeBufferSize,
                             kPipeBufferSize, 0, pipe_security_));
  if (!pipe_.IsValid()) {
    PLOG(ERROR) << "CreateNamedPipe";
    state_ = kError;
    return false;
  }
  HANDLE stall_timer = nullptr;
  if (!CreateTimerQueueTimer(&stall_timer, nullptr, &OnStallCheck, this, kStallCheckMs,
                             kStallCheckMs, WT_EXECUTEDEFAULT)) {
    PLOG(ERROR) << "CreateTimerQueueTimer";
    state_ = kError;
    return false;
  }
  stall_timer_.Reset(stall_timer);
  if (!SetEvent(overlapped_event_.Get())) {
    state_ = kError;
    return false;
  }
  return true;
}

void CrashGenerationServer::Stop() {
  if (state() == kNotStarted) return;
  {
    base::AutoLock hold(lock_);
    if (shutting_down_) return;
    shutting_down_ = true;
  }
  if (pipe_.IsValid()) {
    DisconnectNamedPipe(pipe_.Get());
    // A machine waiting for a connection has no I/O to fail: wake it.
    if (overlapped_event_.IsValid()) SetEvent(overlapped_event_.Get());
    for (int poll = 0; poll < kStopPolls && state() != kError; ++poll) Sleep(kStopPollMs);
  }
  // Waits for a stall check that is running.
  stall_timer_.Reset();
  HANDLE pipe_wait = nullptr;
  {
    base::AutoLock hold(lock_);
    std::swap(pipe_wait, pipe_wait_);
  }
  if (pipe_wait) EndThreadPoolWait(waits_, pipe_wait, INVALID_HANDLE_VALUE);
  // The machine has stopped; a connect may still be pending.
  EndPendingIo();
  pipe_.Close();
  std::vector<std::unique_ptr<ClientInfo>> clients;
  {
    base::AutoLock hold(lock_);
    clients.swap(clients_);
  }
  for (std::unique_ptr<ClientInfo>& client : clients) DeleteClient(std::move(client), true);
  if (server_alive_.IsValid()) {
    ReleaseMutex(server_alive_.Get());
    server_alive_.Close();
  }
  overlapped_event_.Close();
}

std::vector<uint32_t> CrashGenerationServer::ClientIds() {
  base::AutoLock hold(lock_);
  std::vector<uint32_t> ids;
  for (const std::unique_ptr<ClientInfo>& client : clients_) ids.push_back(client->process_id());
  return ids;
}

void CALLBACK CrashGenerationServer::OnPipeConnected(void* context, BOOLEAN) {
  CrashGenerationServer* server = static_cast<CrashGenerationServer*>(context);
  base::AutoLock hold(server->machine_lock_);
  server->HandleConnection();
}

bool CrashGenerationServer::StartedIo(BOOL result) {
  io_started_ = result || GetLastError() == ERROR_IO_PENDING;
  return io_started_;
}

void CrashGenerationServer::EndPendingIo() {
  // A call that failed at once may leave the record marked pending: nothing would end it.
  if (!io_started_ || !pipe_.IsValid()) return;
  if (!HasOverlappedIoCompleted(&overlapped_) && !CancelIoEx(pipe_.Get(), &overlapped_) &&
      GetLastError() != ERROR_NOT_FOUND) {
    PLOG(ERROR) << "CancelIoEx";
  }
  // The event may also be set for the machine: only the record says the I/O is over.
  while (!HasOverlappedIoCompleted(&overlapped_)) {
    if (WaitForSingleObject(overlapped_event_.Get(), INFINITE) != WAIT_OBJECT_0) {
      PLOG(ERROR) << "cannot wait for the crash pipe's cancelled I/O";
      return;
    }
    ResetEvent(overlapped_event_.Get());
  }
  io_started_ = false;
}

void CrashGenerationServer::EnterState(State state) {
  EnterStateQuiet(state);
  if (!SetEvent(overlapped_event_.Get())) {
    PLOG(ERROR) << "SetEvent";
    state_ = kError;
  }
}

void CrashGenerationServer::EnterStateQuiet(State state) {
  state_ = state;
  last_transition_ = GetTickCount64();
}

void CALLBACK CrashGenerationServer::OnStallCheck(void* context, BOOLEAN) {
  static_cast<CrashGenerationServer*>(context)->CheckForStall();
}

void CrashGenerationServer::CheckForStall() {
  // Under the machine's lock: the I/O in |overlapped_| is the one the state waits on.
  base::AutoLock hold(machine_lock_);
  const State current = state();
  if (current != kReading && current != kWriting && current != kReadingAck) return;
  if (GetTickCount64() - last_transition_ < kClientTimeoutMs) return;
  LOG(WARNING) << "crash pipe client stalled; dropping it";
  // The failed I/O signals the event and the machine disconnects the client.
  if (!CancelIoEx(pipe_.Get(), &overlapped_) && GetLastError() != ERROR_NOT_FOUND)
    PLOG(ERROR) << "CancelIoEx";
}

void CrashGenerationServer::HandleConnection() {
  if (shutting_down_) {
    state_ = kError;
    ResetEvent(overlapped_event_.Get());
    return;
  }
  switch (state()) {
    case kError: HandleError(); break;
    case kInitial: HandleInitial(); break;
    case kConnecting: HandleConnecting(); break;
    case kConnected: HandleConnected(); break;
    case kReading: HandleReading(); break;
    case kReadDone: HandleReadDone(); break;
    case kWriting: HandleWriting(); break;
    case kWriteDone: HandleWriteDone(); break;
    case kReadingAck: HandleReadingAck(); break;
    case kDisconnecting: HandleDisconnecting(); break;
    case kNotStarted: break;
  }
}

void CrashGenerationServer::HandleInitial() {
  if (!ResetEvent(overlapped_event_.Get())) {
    EnterState(kError);
    return;
  }
  const BOOL connected = ConnectNamedPipe(pipe_.Get(), &overlapped_);
  const DWORD error = GetLastError();
  StartedIo(connected);
  if (connected) {
    // An overlapped connect never completes at once.
    EnterState(kError);
    return;
  }
  switch (error) {
    case ERROR_PIPE_CONNECTED: EnterState(kConnected); break;
    case ERROR_IO_PENDING: EnterStateQuiet(kConnecting); break;
    default: EnterState(kError); break;
  }
}

void CrashGenerationServer::HandleConnecting() {
  DWORD transferred = 0;
  if (GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE))
    EnterState(kConnected);
  else if (GetLastError() != ERROR_IO_INCOMPLETE)
    EnterState(kDisconnecting);
}

void CrashGenerationServer::StartRead(State pending_state) {
  memset(&message_, 0, sizeof(message_));
  if (StartedIo(ReadFile(pipe_.Get(), &message_, sizeof(message_), nullptr, &overlapped_))) {
    EnterStateQuiet(pending_state);
  } else {
    EnterState(kDisconnecting);
  }
}

void CrashGenerationServer::HandleConnected() { StartRead(kReading); }

void CrashGenerationServer::HandleReading() {
  DWORD transferred = 0;
  if (GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) &&
      transferred == sizeof(message_)) {
    EnterState(kReadDone);
  } else {
    EnterState(kDisconnecting);
  }
}

void CrashGenerationServer::HandleReadDone() {
  if (RegisterClient())
    EnterStateQuiet(kWriting);
  else
    EnterState(kDisconnecting);
}

void CrashGenerationServer::HandleWriting() {
  DWORD transferred = 0;
  if (GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE))
    EnterState(kWriteDone);
  else
    EnterState(kDisconnecting);
}

// The acknowledgement lands in the receive buffer, unread.
void CrashGenerationServer::HandleWriteDone() { StartRead(kReadingAck); }

void CrashGenerationServer::HandleReadingAck() {
  DWORD transferred = 0;
  // The acknowledgement's content does not matter, only that it came.
  if (GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) && connect_callback_) {
    base::AutoLock hold(lock_);
    if (FindClient(answered_client_) != clients_.end())
      connect_callback_(connect_context_, answered_client_);
  }
  EnterState(kDisconnecting);
}

void CrashGenerationServer::HandleDisconnecting() {
  // A reply may still be on its way: |overlapped_| is reused only once it is done.
  EndPendingIo();
  const HANDLE event = overlapped_.hEvent;
  memset(&overlapped_, 0, sizeof(overlapped_));
  overlapped_.hEvent = event;
  answered_client_ = nullptr;
  if (!ResetEvent(overlapped_event_.Get()) || !DisconnectNamedPipe(pipe_.Get())) {
    PLOG(ERROR) << "cannot disconnect the crash pipe";
    EnterState(kError);
    return;
  }
  if (!shutting_down_) EnterState(kInitial);
}

void CrashGenerationServer::HandleError() {
  base::AutoLock hold(lock_);
  if (shutting_down_) return;
  // Serving ends; Stop is left the clients. This callback's own wait cannot be waited for.
  if (pipe_wait_) EndThreadPoolWait(waits_, pipe_wait_, nullptr);
  pipe_wait_ = nullptr;
  EndPendingIo();
  pipe_.Close();
  overlapped_event_.Close();
}

bool CrashGenerationServer::ValidateRegistration(const CrashPipeMessage& message) {
  if (message.tag != kCrashPipeRegister || message.id == 0 || !message.thread_id_address ||
      !message.exception_pointers_address || !message.assertion_info_address) {
    return false;
  }
  // A client names itself: any other process id would let it have another process opened,
  // handed handles and dumped.
  ULONG client_id = 0;
  if (!GetNamedPipeClientProcessId(pipe_.Get(), &client_id) || client_id != message.id) {
    LOG(ERROR) << "crash pipe client " << client_id << " registered as " << message.id;
    return false;
  }
  return true;
}

bool CrashGenerationServer::MakeReply(const ClientInfo& client, CrashPipeMessage* reply) {
  memset(reply, 0, sizeof(*reply));
  reply->tag = kCrashPipeRegisterResult;
  reply->id = GetCurrentProcessId();
  const struct {
    HANDLE handle;
    DWORD access;
    uint64_t* target;
  } duplicates[] = {
      {client.dump_requested_.Get(), EVENT_MODIFY_STATE, &reply->dump_request_event},
      {client.dump_done_.Get(), SYNCHRONIZE | EVENT_MODIFY_STATE, &reply->dump_done_event},
      {server_alive_.Get(), SYNCHRONIZE, &reply->server_alive_mutex},
  };
  uint64_t made[3] = {};
  for (size_t i = 0; i < 3; ++i) {
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), duplicates[i].handle, client.process_.Get(),
                         &duplicate, duplicates[i].access, FALSE, 0)) {
      PLOG(ERROR) << "cannot hand a handle to crash client " << client.process_id();
      CloseInClient(client.process_.Get(), made, i);
      return false;
    }
    made[i] = reinterpret_cast<uintptr_t>(duplicate);
    *duplicates[i].target = made[i];
  }
  return true;
}

bool CrashGenerationServer::RegisterClient() {
  const CrashPipeMessage& message = message_;
  if (message.tag == kCrashPipeUploadRequest) {
    if (upload_callback_) upload_callback_(upload_context_, message.id);
    return false;
  }
  if (!ValidateRegistration(message)) return false;
  std::unique_ptr<ClientInfo> client(new ClientInfo(this, message));
  if (!client->Initialize() || !MakeReply(*client, &reply_)) return false;
  bool reply_sent = false;
  if (AddClient(&client, &reply_sent)) return true;
  if (!reply_sent) {
    // The client never learns of the handles it was given.
    const uint64_t handed[] = {reply_.dump_request_event, reply_.dump_done_event,
                               reply_.server_alive_mutex};
    CloseInClient(client->process_.Get(), handed, 3);
  }
  // Otherwise they are the client's: closing them would let it signal whatever object
  // later gets their values. Its dump requests time out.
  return false;
}

bool CrashGenerationServer::AddClient(std::unique_ptr<ClientInfo>* owned, bool* reply_sent) {
  ClientInfo* client = owned->get();
  *reply_sent = false;
  if (!StartedIo(WriteFile(pipe_.Get(), &reply_, sizeof(reply_), nullptr, &overlapped_))) {
    PLOG(ERROR) << "cannot answer crash client " << client->process_id();
    return false;
  }
  *reply_sent = true;
  HANDLE dump_wait = nullptr;
  {
    base::AutoLock hold(lock_);
    if (shutting_down_) {
      // Stop takes over: it ends the write with the rest of the pipe's I/O.
      return false;
    }
    if (!waits_->Register(&client->dump_request_wait_, client->dump_requested_.Get(),
                          &OnDumpRequest, client,
                          WT_EXECUTEINWAITTHREAD | WT_EXECUTELONGFUNCTION)) {
      PLOG(ERROR) << "RegisterWaitForSingleObject";
      client->dump_request_wait_ = nullptr;
    } else if (!waits_->Register(&client->process_exit_wait_, client->process_.Get(),
                                 &OnClientExited, client, WT_EXECUTEONLYONCE)) {
      PLOG(ERROR) << "RegisterWaitForSingleObject";
      client->process_exit_wait_ = nullptr;
      std::swap(dump_wait, client->dump_request_wait_);
    } else {
      answered_client_ = client;
      clients_.push_back(std::move(*owned));
      return true;
    }
  }
  // The client may already have asked for a dump, served on another wait thread: the
  // record goes only once that callback has returned.
  if (dump_wait) EndThreadPoolWait(waits_, dump_wait, INVALID_HANDLE_VALUE);
  return false;
}

void CALLBACK CrashGenerationServer::OnDumpRequest(void* context, BOOLEAN) {
  ClientInfo* client = static_cast<ClientInfo*>(context);
  client->server_->HandleDumpRequest(client);
}

void CrashGenerationServer::HandleDumpRequest(ClientInfo* client) {
  client->FetchCustomInfo();
  if (dump_callback_) dump_callback_(dump_context_, client, nullptr);
  SetEvent(client->dump_done_.Get());
  ResetEvent(client->dump_requested_.Get());
}

void CALLBACK CrashGenerationServer::OnClientExited(void* context, BOOLEAN) {
  ClientInfo* client = static_cast<ClientInfo*>(context);
  client->server_->HandleClientExited(client);
}

void CrashGenerationServer::HandleClientExited(ClientInfo* client) {
  HANDLE dump_wait = nullptr;
  {
    base::AutoLock hold(lock_);
    std::swap(dump_wait, client->dump_request_wait_);
  }
  if (dump_wait) EndThreadPoolWait(waits_, dump_wait, INVALID_HANDLE_VALUE);
  if (exit_callback_) exit_callback_(exit_context_, client);
  std::unique_ptr<ClientInfo> owned;
  {
    base::AutoLock hold(lock_);
    // Stop owns the clients from now on.
    if (shutting_down_) return;
    const auto found = FindClient(client);
    if (found != clients_.end()) {
      owned = std::move(*found);
      clients_.erase(found);
      if (client_removed_event_) SetEvent(client_removed_event_);
    }
  }
  // This callback's own wait: unregistered without waiting for itself.
  EndThreadPoolWait(waits_, client->process_exit_wait_, nullptr);
  client->process_exit_wait_ = nullptr;
}

void CrashGenerationServer::DeleteClient(std::unique_ptr<ClientInfo> client,
                                         bool wait_for_callbacks) {
  const HANDLE completion = wait_for_callbacks ? INVALID_HANDLE_VALUE : nullptr;
  // The exit wait first: a running exit callback may still unregister the request wait.
  if (client->process_exit_wait_) EndThreadPoolWait(waits_, client->process_exit_wait_, completion);
  client->process_exit_wait_ = nullptr;
  HANDLE dump_wait = nullptr;
  {
    base::AutoLock hold(lock_);
    std::swap(dump_wait, client->dump_request_wait_);
  }
  if (dump_wait) EndThreadPoolWait(waits_, dump_wait, completion);
}

std::vector<std::unique_ptr<ClientInfo>>::iterator CrashGenerationServer::FindClient(
    const ClientInfo* client) {
  return std::find_if(clients_.begin(), clients_.end(),
                      [client](const std::unique_ptr<ClientInfo>& held) {
                        return held.get() == client;
                      });
}

}  // namespace crash_reporter
