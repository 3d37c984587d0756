#include "crash/reporter/minidump_file_writer.h"

#include "base/logging.h"
#include "base/native_library.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/moduleless_symbols.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {

namespace {

typedef BOOL(WINAPI* MiniDumpWriteDumpFunction)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                 PMINIDUMP_EXCEPTION_INFORMATION,
                                                 PMINIDUMP_USER_STREAM_INFORMATION,
                                                 PMINIDUMP_CALLBACK_INFORMATION);

// Unloaded modules and indirectly referenced memory first, a normal dump second.
constexpr MINIDUMP_TYPE kDumpTypes[] = {
    static_cast<MINIDUMP_TYPE>(MiniDumpWithUnloadedModules | MiniDumpWithIndirectlyReferencedMemory),
    MiniDumpNormal};
constexpr DWORD kInvalidArgument = 0x80070057;

[[nodiscard]] bool Truncate(HANDLE file) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// dbghelp stays loaded once the process has written a dump: under Wine a dump written
// after dbghelp was unloaded and loaded again fails with "access denied".
HMODULE GetDbghelp() {
  static const HMODULE dbghelp = base::LoadSystemLibrary(L"dbghelp.dll");
  return dbghelp;
}

// Holds a client's dump at the system's first callback, once; adds nothing to the dump.
struct PauseInWrite {
  DumpWritePauses* pauses;
  uint32_t pid;
  bool held;
};

BOOL CALLBACK PauseAtFirstCallback(void* context, const PMINIDUMP_CALLBACK_INPUT input,
                                   PMINIDUMP_CALLBACK_OUTPUT output) {
  PauseInWrite* pause = static_cast<PauseInWrite*>(context);
  if (!pause->held) {
    pause->held = true;
    pause->pauses->WhileWriting(pause->pid);
  }
  return AnswerDumpCallback(*input, output);
}

// Deletes a dump that is not good, or keeps it aside where no upload takes it.
void DiscardDump(const std::wstring& path, bool keep) {
  if (!keep || !MoveFileExW(path.c_str(), FailedDumpPath(path).c_str(), MOVEFILE_REPLACE_EXISTING))
    DeleteFileW(path.c_str());
}

// The code of the exception record that the client's EXCEPTION_POINTERS at |pointers|
// name; false when it cannot be read or is 0 (the client's handling has moved on).
[[nodiscard]] bool ReadClientExceptionCode(const DumpClient& client, uint64_t pointers,
                                           DWORD* code) {
  EXCEPTION_POINTERS client_pointers = {};
  *code = 0;
  return client.Read(pointers, &client_pointers, sizeof(client_pointers)) &&
         client.Read(reinterpret_cast<uintptr_t>(client_pointers.ExceptionRecord), code,
                     sizeof(*code)) &&
         *code != 0;
}

}  // namespace

BOOL AnswerDumpCallback(const MINIDUMP_CALLBACK_INPUT& input, MINIDUMP_CALLBACK_OUTPUT* output) {
  switch (input.CallbackType) {
    case CancelCallback:
      output->CheckCancel = FALSE;
      output->Cancel = FALSE;
      return TRUE;
    case ModuleCallback:
    case ThreadCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback:
      return TRUE;
    default:
      return FALSE;
  }
}

std::wstring FailedDumpPath(const std::wstring& path) { return path + L".failed"; }

bool ReadProcessBytes(HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return address && ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer,
                                      size, &read) &&
         read == size;
}

bool WriteOwnMinidump(HANDLE process, uint32_t pid, const CrashInfoBlock& block, HANDLE file,
                      uint64_t size_limit, DumpWritePauses* pauses) {
  const HMODULE dbghelp = GetDbghelp();
  const MiniDumpWriteDumpFunction write_dump =
      dbghelp ? reinterpret_cast<MiniDumpWriteDumpFunction>(
                    reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")))
              : nullptr;
  if (!write_dump) return false;

  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = block.thread_id;
  exception.ExceptionPointers =
      reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<uintptr_t>(block.exception_pointers));
  exception.ClientPointers = TRUE;  // addresses in the crashed process

  std::string version =
      installer::GetBuildVersion() + " " + base::IntToString(installer::GetBuildUbn());
  AssertionInfo assertion = block.assertion;
  MINIDUMP_USER_STREAM streams[2] = {};
  streams[0].Type = kBuildVersionStreamType;
  streams[0].BufferSize = static_cast<ULONG>(version.size());
  streams[0].Buffer = &version[0];
  streams[1].Type = kAssertionStreamType;
  streams[1].BufferSize = sizeof(assertion);
  streams[1].Buffer = &assertion;
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {};
  user_streams.UserStreamArray = streams;
  user_streams.UserStreamCount = block.assertion.type == kAssertionInvalidParameter ? 2 : 1;
  PauseInWrite pause = {pauses, pid, false};
  MINIDUMP_CALLBACK_INFORMATION callback = {&PauseAtFirstCallback, &pause};

  const ModulelessSymbols symbols(dbghelp, process);
  for (MINIDUMP_TYPE type : kDumpTypes) {
    if (write_dump(process, pid, file, type, block.exception_pointers ? &exception : nullptr,
                   &user_streams, pauses ? &callback : nullptr)) {
      LARGE_INTEGER size = {};
      if (!GetFileSizeEx(file, &size)) return false;
      if (static_cast<uint64_t>(size.QuadPart) <= size_limit) return true;
      LOG(WARNING) << "Minidump of " << size.QuadPart << " bytes is over the limit of "
                   << size_limit;
    } else if (GetLastError() != kInvalidArgument) {
      PLOG(ERROR) << "MiniDumpWriteDump";
      return false;
    }
    if (!Truncate(file)) return false;
  }
  return false;
}

bool WriteMinidumpFile(HANDLE process, uint32_t pid, const CrashInfoBlock& block,
                       const std::wstring& path, uint64_t size_limit, bool keep_failed,
                       DumpWritePauses* pauses, const CloseDumpFile& close_file) {
  base::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot create the minidump " << path;
    return false;
  }
  bool written = WriteOwnMinidump(process, pid, block, file.Get(), size_limit, pauses);
  // The system may fail the file's last writes only at its close.
  if (!(close_file ? close_file(&file) : file.CloseChecked())) {
    PLOG(ERROR) << "Cannot close the minidump " << path;
    written = false;
  }
  if (!written) DiscardDump(path, keep_failed);
  return written;
}

bool WriteClientMinidump(const DumpClient& client, uint32_t pid, uint64_t thread_id_address,
                         uint64_t exception_pointers_address, uint64_t assertion_address,
                         const std::wstring& path, uint64_t size_limit, bool keep_failed,
                         DumpWritePauses* pauses, const CloseDumpFile& close_file) {
  CrashInfoBlock block = {};
  if (!client.Read(exception_pointers_address, &block.exception_pointers,
                   sizeof(block.exception_pointers)) ||
      !client.Read(thread_id_address, &block.thread_id, sizeof(block.thread_id))) {
    return false;
  }
  if (assertion_address &&
      !client.Read(assertion_address, &block.assertion, sizeof(block.assertion))) {
    return false;
  }
  DWORD code = 0;
  const bool record_read =
      !block.exception_pointers || ReadClientExceptionCode(client, block.exception_pointers, &code);
  if (pauses) pauses->BeforeDumpFile(pid);
  if (!WriteMinidumpFile(client.process(), pid, block, path, size_limit, keep_failed, pauses,
                         close_file)) {
    return false;
  }
  if (!record_read) {
    LOG(ERROR) << "Cannot read the exception record of process " << pid;
    DiscardDump(path, keep_failed);
    return false;
  }
  // The client waits for its dump a bounded time: one that gave up may have ended or gone
  // on while the dump was written, which then holds nothing of its crash.
  DWORD code_after = 0;
  if (client.Ended() ||
      (block.exception_pointers &&
       (!ReadClientExceptionCode(client, block.exception_pointers, &code_after) ||
        code_after != code))) {
    LOG(ERROR) << "Process " << pid << " stopped waiting while its dump was written";
    DiscardDump(path, keep_failed);
    return false;
  }
  return true;
}

}  // namespace crash_reporter
