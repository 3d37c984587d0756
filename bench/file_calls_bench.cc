// The Win32 file calls an installation makes, bare, for the install benchmark
// (bench/install_bench.sh): what a file costs under this system before any installer
// logic. Run under Wine:
//   file_calls_bench.exe <source tree> <scratch folder>
// "unpack": for every file of the tree, read it, then CreateFileW, WriteFile, SetFileTime
// and CloseHandle of a new file; "copy": CopyFileW of every file of that new tree;
// "delete": DeleteFileW and RemoveDirectoryW of the unpacked tree.
// Prints "unpack <seconds> copy <seconds> files <n> bytes <n> delete <seconds>".
#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

struct Entry {
  std::wstring relative;
  bool folder;
};

void List(const std::wstring& root, const std::wstring& relative, std::vector<Entry>* entries) {
  WIN32_FIND_DATAW data;
  const std::wstring pattern = root + L"\\" + relative + (relative.empty() ? L"" : L"\\") + L"*";
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back({path, folder});
    if (folder) List(root, path, entries);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: file_calls_bench.exe <source tree> <scratch folder>\n");
    return 2;
  }
  const std::wstring source = argv[1];
  const std::wstring unpacked = std::wstring(argv[2]) + L"\\unpacked";
  const std::wstring copied = std::wstring(argv[2]) + L"\\copied";
  std::vector<Entry> entries;
  List(source, L"", &entries);

  // The reads are outside the timing: an installer's unpacking reads the archive, not files.
  std::vector<std::string> contents(entries.size());
  uint64_t bytes = 0;
  int files = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].folder) continue;
    HANDLE file = CreateFileW((source + L"\\" + entries[i].relative).c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    contents[i].resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (size.QuadPart > 0 &&
        !ReadFile(file, &contents[i][0], static_cast<DWORD>(size.QuadPart), &read, nullptr)) {
      CloseHandle(file);
      return 1;
    }
    CloseHandle(file);
    bytes += read;
    ++files;
  }

  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER start, middle, end;
  QueryPerformanceCounter(&start);
  CreateDirectoryW(unpacked.c_str(), nullptr);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::wstring target = unpacked + L"\\" + entries[i].relative;
    if (entries[i].folder) {
      CreateDirectoryW(target.c_str(), nullptr);
      continue;
    }
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    if (!contents[i].empty() &&
        !WriteFile(file, contents[i].data(), static_cast<DWORD>(contents[i].size()), &written,
                   nullptr)) {
      CloseHandle(file);
      return 1;
    }
    SetFileTime(file, &now, &now, &now);
    CloseHandle(file);
  }
  QueryPerformanceCounter(&middle);
  CreateDirectoryW(copied.c_str(), nullptr);
  for (const Entry& entry : entries) {
    const std::wstring from = unpacked + L"\\" + entry.relative;
    const std::wstring to = copied + L"\\" + entry.relative;
    if (entry.folder) {
      CreateDirectoryW(to.c_str(), nullptr);
    } else if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
      return 1;
    }
  }
  QueryPerformanceCounter(&end);
  // Deleting one of the trees, files first and each folder once it is empty, as an
  // installer removes its unpacked package.
  LARGE_INTEGER deleted;
  for (size_t i = entries.size(); i-- > 0;) {
    const std::wstring path = unpacked + L"\\" + entries[i].relative;
    if (!(entries[i].folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())))
      return 1;
  }
  RemoveDirectoryW(unpacked.c_str());
  QueryPerformanceCounter(&deleted);
  printf("unpack %.3f copy %.3f files %d bytes %llu delete %.3f\n", Seconds(start, middle),
         Seconds(middle, end), files, static_cast<unsigned long long>(bytes),
         Seconds(end, deleted));
  return 0;
}
