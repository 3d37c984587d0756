#include "crash/reporter/minidump_file_writer.h"

#include <dbghelp.h>

#include "base/logging.h"
#include "base/native_library.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
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

bool Truncate(HANDLE file) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// dbghelp stays loaded once the process has written a dump: under Wine a dump written
// after dbghelp was unloaded and loaded again fails with "access denied".
MiniDumpWriteDumpFunction GetMiniDumpWriteDump() {
  static const MiniDumpWriteDumpFunction function = []() -> MiniDumpWriteDumpFunction {
    HMODULE dbghelp = base::LoadSystemLibrary(L"dbghelp.dll");
    if (!dbghelp) return nullptr;
    return reinterpret_cast<MiniDumpWriteDumpFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  }();
  return function;
}

}  // namespace

bool ReadProcessBytes(HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return address && ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer,
                                      size, &read) &&
         read == size;
}

bool WriteOwnMinidump(HANDLE process, uint32_t pid, const CrashInfoBlock& block, HANDLE file,
                      uint64_t size_limit) {
  const MiniDumpWriteDumpFunction write_dump = GetMiniDumpWriteDump();
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

  for (MINIDUMP_TYPE type : kDumpTypes) {
    if (write_dump(process, pid, file, type,
                   block.exception_pointers ? &exception : nullptr, &user_streams, nullptr)) {
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
                       const std::wstring& path, uint64_t size_limit) {
  base::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot create the minidump " << path;
    return false;
  }
  bool written = WriteOwnMinidump(process, pid, block, file.Get(), size_limit);
  if (!file.Close()) written = false;
  if (!written) DeleteFileW(path.c_str());
  return written;
}

bool WriteClientMinidump(uint32_t pid, uint64_t thread_id_address,
                         uint64_t exception_pointers_address, uint64_t assertion_address,
                         const std::wstring& path, uint64_t size_limit) {
  base::ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process.IsValid()) return false;
  CrashInfoBlock block = {};
  if (!ReadProcessBytes(process.Get(), exception_pointers_address, &block.exception_pointers,
                        sizeof(block.exception_pointers)) ||
      !ReadProcessBytes(process.Get(), thread_id_address, &block.thread_id,
                        sizeof(block.thread_id))) {
    return false;
  }
  if (assertion_address &&
      !ReadProcessBytes(process.Get(), assertion_address, &block.assertion,
                        sizeof(block.assertion))) {
    return false;
  }
  return WriteMinidumpFile(process.Get(), pid, block, path, size_limit);
}

}  // namespace crash_reporter
