#include "base/files/scratch_dir_test_util.h"

#include <windows.h>

#include <winioctl.h>

#include <string.h>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

// Runs a host command under Wine and waits until |path| exists (or no longer does).
[[nodiscard]] bool RunHostCommand(const std::string& command, const FilePath& path,
                                  bool should_exist) {
  return StartHostCommand(command) && WaitForPathExistence(path, should_exist, 60000);
}

std::string HostPath(const FilePath& path) {
  return UnixPath(path.DirName()) + "/" + path.BaseName().AsUTF8();
}

[[nodiscard]] bool MakeJunction(const FilePath& link, const FilePath& target, std::string* error) {
  if (!::CreateDirectoryW(link.value().c_str(), nullptr)) {
    *error = "cannot create the junction folder";
    return false;
  }
  HANDLE handle = CreateFileW(link.value().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "cannot open the junction folder";
    return false;
  }
  // REPARSE_DATA_BUFFER of a mount point: header, then substitute and print names.
  std::wstring substitute = L"\\??\\" + MakeAbsoluteFilePath(target).value();
  WORD substitute_bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  std::string buffer(8 + 8 + substitute_bytes + 2 * sizeof(wchar_t), '\0');
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  WORD data_length = static_cast<WORD>(buffer.size() - 8);
  WORD fields[4] = {0, substitute_bytes, static_cast<WORD>(substitute_bytes + 2), 0};
  memcpy(&buffer[0], &tag, 4);
  memcpy(&buffer[4], &data_length, 2);
  memcpy(&buffer[8], fields, sizeof(fields));
  memcpy(&buffer[16], substitute.data(), substitute_bytes);
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &buffer[0],
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  CloseHandle(handle);
  if (!ok) *error = "FSCTL_SET_REPARSE_POINT failed";
  return ok != FALSE;
}

// True when |command|'s program is a host program named by its Unix path.
bool NamesHostProgram(const std::string& command) {
  const size_t start = command.find_first_not_of(" \t\"");
  return RunningUnderWine() && start != std::string::npos && command[start] == '/';
}

}  // namespace

typedef char*(__cdecl* WineGetUnixFileName)(const wchar_t*);

std::string UnixPath(const FilePath& path) {
  auto get_unix_name = reinterpret_cast<WineGetUnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!get_unix_name) return std::string();
  char* name = get_unix_name(path.value().c_str());
  if (!name) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool StartHostCommand(const std::string& command) {
  std::wstring wide_command = UTF8ToWide(command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &wide_command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  // For a host program Wine reports success but leaves |process| holding whatever its
  // stack held: closing those values would close live handles of ours.
  if (NamesHostProgram(command)) return true;
  ScopedHandle process_handle(process.hProcess);
  ScopedHandle thread_handle(process.hThread);
  return true;
}

bool WaitForPathExistence(const FilePath& path, bool should_exist, DWORD timeout_ms) {
  ScopedFindChangeHandle change(FindFirstChangeNotificationW(
      path.DirName().value().c_str(), FALSE,
      FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_FILE_NAME));
  if (!change.IsValid()) return false;
  bool done = false;
  while (!(done = PathExists(path) == should_exist)) {
    if (WaitForSingleObject(change.Get(), timeout_ms) != WAIT_OBJECT_0 ||
        !FindNextChangeNotification(change.Get())) {
      break;
    }
  }
  return done;
}

ScratchDir::ScratchDir() {
  FilePath temp;
  FilePath file;
  // A unique name from a temporary file, which then becomes the folder.
  if (!GetTempDir(&temp) || !CreateTemporaryFileInDir(temp, &file)) return;
  ::DeleteFileW(file.value().c_str());
  FilePath folder = file.RemoveExtension();
  if (::CreateDirectoryW(folder.value().c_str(), nullptr)) path_ = folder;
}

ScratchDir::~ScratchDir() {
  if (!path_.empty()) DeleteFileBestEffort(path_, true);
}

bool MakeDirectoryLink(const FilePath& link, const FilePath& target, std::string* error) {
  if (!RunningUnderWine()) return MakeJunction(link, target, error);
  std::string command = "/bin/ln -s \"" + UnixPath(target) + "\" \"" + HostPath(link) + "\"";
  if (RunHostCommand(command, link, true)) return true;
  *error = "failed: " + command;
  return false;
}

bool RemoveDirectoryLink(const FilePath& link) {
  if (::RemoveDirectoryW(link.value().c_str())) return true;
  return RunningUnderWine() && RunHostCommand("/bin/rm \"" + HostPath(link) + "\"", link, false);
}

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool WriteTextFile(const FilePath& path, const std::string& text) {
  return WriteFile(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

FilePath ScratchDirTest::Write(const wchar_t* name, const std::string& text) {
  const FilePath path = Path(name);
  EXPECT_TRUE(WriteTextFile(path, text)) << path.AsUTF8();
  return path;
}

void ScratchDirTest::MakeTree(const std::vector<std::wstring>& entries) {
  for (const std::wstring& entry : entries) {
    const FilePath path = Path(entry.c_str());
    if (entry.back() == L'\\')
      EXPECT_TRUE(CreateDirectory(path)) << path.AsUTF8();
    else
      Write(entry.c_str(), path.BaseName().AsUTF8());
  }
}

}  // namespace base
