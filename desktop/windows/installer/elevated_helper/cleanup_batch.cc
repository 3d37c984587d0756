#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"

#include <windows.h>

#include <wchar.h>

#include <algorithm>
#include <functional>
#include <set>

#include "base/base_paths_win.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"
#include "desktop/windows/installer/service/held_tree.h"
#include "desktop/windows/installer/service/path_names.h"

namespace installer {

namespace {

// An uninstallation waits for three processes at most (itself, the front end, a second
// installer); bounds what a planted text can make us allocate and wait for.
const uint32_t kMaxProcessNumber = 3;

// The environment variable that hands cmd the batch's path: a command line's "%" cannot
// be escaped inside quotes, and Windows' cmd does not expand a variable's value again
// (Wine's does, as it does the value of %0: the batch runs from a copy without "%").
const wchar_t kBatchFileVariable[] = L"VELUM_CLEANUP_BATCH";

// A batch file is a few lines per locked file; anything larger is not ours.
const size_t kMaxBatchTextSize = 1 << 20;

// The last line of a batch, which deletes the file cmd runs.
const char kDeleteRunningBatch[] = "del %0\r\n";

// `path` as a quoted batch argument reads it: inside quotes, with delayed expansion off,
// only "%" is special and "%%" stands for it.
std::string QuotedBatchPath(const std::wstring& path) {
  std::string text = "\"";
  for (char c : base::WideToUTF8(GetBatchSafePath(path))) {
    if (c == '%') text += '%';
    text += c;
  }
  return text + "\"";
}

// The path of a line `command` "<path>", read as cmd reads it; false for a "%" that
// does not stand for itself.
[[nodiscard]] bool TakeQuotedPath(const std::string& line, const std::string& command,
                                  std::wstring* path) {
  const std::string prefix = command + " \"";
  if (line.size() <= prefix.size() || line.compare(0, prefix.size(), prefix) != 0 ||
      line.back() != '"') {
    return false;
  }
  std::string text;
  for (size_t i = prefix.size(); i + 1 < line.size(); ++i) {
    if (line[i] == '%' && line[++i] != '%') return false;
    text += line[i];
  }
  *path = base::UTF8ToWide(text);
  return true;
}

// A path that cmd takes as written inside quotes: "X:\" and plain names, without quotes,
// wildcards, streams or components that Windows would drop or resolve.
bool IsPlainPath(const std::wstring& path) {
  if (path.size() < 4 || !iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\') return false;
  for (size_t i = 2; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c < 32 || wcschr(L"\"*?/:<>|", c)) return false;
  }
  std::vector<std::wstring> components = base::SplitString(
      path.substr(3), L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  for (const std::wstring& component : components) {
    if (component.empty() || component.back() == L'.' || component.back() == L' ') return false;
  }
  return true;
}

// Deletions inside the install folder that reach nothing through a link.
base::Result<> CheckConfinedPath(const std::wstring& text, const base::FilePath& install_folder,
                                 bool folder_or_above) {
  const base::FilePath written(text);
  if (!IsPlainPath(text))
    return base::Failure{0, 0, "not a plain path: " + written.AsUTF8(), written};
  // Compared in long form: the writer names non-ASCII paths by their short names.
  const base::Result<base::FilePath> normalized = NormalizeGrantFolder(written);
  if (!normalized.ok()) return normalized.failure();
  const base::FilePath& path = normalized.value();
  if (folder_or_above && IsSameOrUnder(install_folder, path)) return {};
  base::FilePath link;
  if (!IsSameOrUnder(path, install_folder) || IsSameOrUnder(install_folder, path))
    return base::Failure{0, 0, "outside the install folder: " + path.AsUTF8(), path};
  if (FindReparsePoint(path, install_folder, &link))
    return base::Failure{0, 0, "through the link " + link.AsUTF8(), path};
  return {};
}

// The number of a "SET PID<n>_RUNNING=TRUE" line.
[[nodiscard]] bool TakeProcessNumber(const std::string& line, uint32_t* number) {
  static const char kSet[] = "SET PID";
  static const char kRunning[] = "_RUNNING=TRUE";
  const size_t start = sizeof(kSet) - 1;
  const size_t end = line.find('_', start);
  return line.compare(0, start, kSet) == 0 && end != std::string::npos &&
         line.compare(end, std::string::npos, kRunning) == 0 &&
         base::StringToUint(line.substr(start, end - start), number) && *number > 0;
}

}  // namespace

base::Result<CleanupBatch> ValidateCleanupBatchText(const std::string& text,
                                                    const base::FilePath& install_folder) {
  const base::Result<base::FilePath> normalized = NormalizeGrantFolder(install_folder);
  if (!normalized.ok()) return normalized.failure();
  const base::FilePath& folder = normalized.value();
  CleanupBatch batch;
  std::vector<uint32_t> names;  // the numbers of the waited-for processes
  std::vector<uint32_t> pids;
  static const char kTaskList[] = "TASKLIST /FI \"PID eq ";
  std::wstring path;
  for (std::string line :
       base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    uint32_t number = 0;
    if (TakeProcessNumber(line, &number)) {
      names.push_back(number);
    } else if (line.compare(0, sizeof(kTaskList) - 1, kTaskList) == 0 &&
               base::StringToUint(line.substr(sizeof(kTaskList) - 1,
                                              line.find('"', sizeof(kTaskList) - 1) -
                                                  (sizeof(kTaskList) - 1)),
                                  &number)) {
      pids.push_back(number);
    } else if (line != "del %0" && TakeQuotedPath(line, "del", &path)) {
      const base::Result<> confined = CheckConfinedPath(path, folder, false);
      if (!confined.ok()) return confined.failure();
      batch.failed_files.push_back(path);
    } else if (TakeQuotedPath(line, "rmdir", &path)) {
      const base::Result<> confined = CheckConfinedPath(path, folder, true);
      if (!confined.ok()) return confined.failure();
      batch.folders.push_back(path);
    }
    // Any other line must be one the writer writes: the text is rebuilt below.
  }
  bool numbered = !names.empty() && names.size() == pids.size() && names[0] == 1 &&
                  names.back() <= kMaxProcessNumber;
  for (size_t i = 1; numbered && i < names.size(); ++i) numbered = names[i] > names[i - 1];
  if (numbered) {
    batch.pids.assign(names.back(), 0);
    for (size_t i = 0; i < names.size(); ++i) batch.pids[names[i] - 1] = pids[i];
  }
  if (!numbered || BuildCleanupBatchText(batch) != text)
    return base::Failure{0, 0, "it holds more than the clean-up after an uninstallation", {}};
  return batch;
}

std::string BuildCleanupBatchText(const CleanupBatch& batch) {
  std::vector<std::string> lines;
  lines.push_back("chcp 65001>nul");
  std::vector<std::string> names;
  for (size_t i = 0; i < batch.pids.size(); ++i) {
    if (i > 0 && batch.pids[i] == 0) continue;
    const std::string name = "PID" + std::to_string(i + 1);
    names.push_back(name);
    lines.push_back("SET " + name + "_RUNNING=TRUE");
  }
  lines.push_back(":again");
  size_t index = 0;
  for (size_t i = 0; i < batch.pids.size(); ++i) {
    if (i > 0 && batch.pids[i] == 0) continue;
    const std::string& name = names[index++];
    lines.push_back("IF %" + name + "_RUNNING%==TRUE (");
    lines.push_back("TASKLIST /FI \"PID eq " + std::to_string(batch.pids[i]) +
                    "\" | FIND /c /i \".exe\"");
    lines.push_back("IF ERRORLEVEL 1 SET " + name + "_RUNNING=FALSE");
    lines.push_back(")");
  }
  lines.push_back("ping -n 2 127.0.0.1");
  for (const std::string& name : names)
    lines.push_back("IF %" + name + "_RUNNING%==TRUE GOTO :again");
  for (const std::wstring& path : batch.failed_files)
    lines.push_back("del " + QuotedBatchPath(path));
  // rmdir only removes an empty folder: children before their parents. Ordered as
  // written (a short name sorts apart from its long name), deeper first.
  std::set<std::pair<size_t, std::wstring>, std::greater<>> folders;
  for (const std::wstring& folder : batch.folders) {
    const std::wstring written = GetBatchSafePath(folder);
    folders.emplace(std::count(written.begin(), written.end(), L'\\'), written);
  }
  for (const auto& folder : folders)
    lines.push_back("rmdir " + QuotedBatchPath(folder.second));
  lines.push_back("del %0");
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::wstring BuildCleanupBatchCommand(const base::FilePath& interpreter) {
  // Without AutoRun commands (/d), which the user's own registry names, and without
  // delayed expansion (/v:off), which would make "!" special. cmd drops the outer quotes;
  // the console the installer may share with its caller is not the batch's to write to.
  return L"\"" + interpreter.value() + L"\" /d /v:off /c \"\"%" + kBatchFileVariable +
         L"%\" >nul 2>&1\"";
}

std::wstring BuildCleanupBatchEnvironment(const base::FilePath& batch_file) {
  const std::wstring name = std::wstring(kBatchFileVariable) + L"=";
  std::wstring environment;
  base::ScopedEnvironmentStrings strings(GetEnvironmentStringsW());
  for (const wchar_t* entry = strings.Get(); entry && *entry; entry += wcslen(entry) + 1) {
    if (_wcsnicmp(entry, name.c_str(), name.size()) == 0) continue;
    environment.append(entry);
    environment.push_back(L'\0');
  }
  environment.append(name + batch_file.value());
  environment.push_back(L'\0');
  return environment;  // c_str() adds the closing empty string
}

std::string BuildCleanupBatchCopyText(std::string text, const base::FilePath& batch_file) {
  if (base::EndsWith(text, kDeleteRunningBatch, base::CompareCase::SENSITIVE))
    text.resize(text.size() - (sizeof(kDeleteRunningBatch) - 1));
  if (!text.empty() && text.back() != '\n') text += "\r\n";
  return text + "del " + QuotedBatchPath(batch_file.value()) + "\r\n" + kDeleteRunningBatch;
}

base::Result<> WriteCleanupBatch(const HeldFile& folder, const std::string& text,
                                 HeldFile* written) {
  const base::FilePath path = folder.final_path().Append(kCleanupBatchFileName);
  HeldFile earlier;
  const base::Result<> held =
      HoldNameOrItsLink(folder, path, DELETE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &earlier);
  if (!held.ok() && !IsMissingPlace(held)) return held;
  // Gone as its handle closes: only this name, whatever else it is or leads to.
  if (held.ok() && !earlier.DeleteOnClose())
    return base::Failure{GetLastError(), 0, "the earlier batch cannot be removed", path};
  earlier = HeldFile();
  if (!written->CreateChildFile(folder, kCleanupBatchFileName, GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ))
    return base::Failure{GetLastError(), 0, "it cannot be made", path};
  DWORD done = 0;
  const bool wrote =
      WriteFile(written->handle(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  if (!wrote || done != text.size()) {
    const DWORD error = wrote ? ERROR_WRITE_FAULT : GetLastError();
    // Cut short, it is nobody's batch.
    if (!written->DeleteOnClose()) PLOG(WARNING) << "Could not remove " << path.AsUTF8();
    *written = HeldFile();
    return base::Failure{error, 0, "it cannot be written", path};
  }
  return {};
}

base::Result<std::string> ReadCleanupBatch(const HeldFile& file) {
  std::string text;
  char buffer[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.handle(), buffer, sizeof(buffer), &read, nullptr))
      return base::Failure{GetLastError(), 0, "it cannot be read", file.final_path()};
    if (read == 0) return text;
    text.append(buffer, read);
    if (text.size() > kMaxBatchTextSize)
      return base::Failure{0, 0, "it is larger than a clean-up batch", file.final_path()};
  }
}

base::Result<base::FilePath> CopyCleanupBatchToTemp(const base::FilePath& batch_file) {
  const base::FilePath install_folder = batch_file.DirName();
  HeldFile folder;
  HeldFile held;
  if (!folder.Open(install_folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, true))
    return base::Failure{GetLastError(), 0, "its folder cannot be opened", batch_file};
  const base::Result<> opened = HoldChild(folder, batch_file, GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, false, false, &held);
  if (!opened.ok()) return opened.failure();
  base::Result<std::string> read = ReadCleanupBatch(held);
  if (!read.ok()) return read.failure();
  std::string text = std::move(read).value();
  const base::Result<CleanupBatch> checked = ValidateCleanupBatchText(text, install_folder);
  if (!checked.ok()) return checked.failure();
  base::FilePath temp;
  if (!base::GetTempDir(&temp)) return base::Failure{GetLastError(), 0, "no Temp folder", {}};
  if (temp.value().find(L'%') != std::wstring::npos)
    return base::Failure{0, 0, "the Temp folder's path holds a %", temp};
  const base::FilePath copy =
      temp.Append(L"VelumCleanup-" + base::UTF8ToWide(base::GenerateGuid()) + L".bat");
  text = BuildCleanupBatchCopyText(std::move(text), batch_file);
  base::File file(copy, base::File::FLAG_CREATE | base::File::FLAG_WRITE);
  if (!file.IsValid() ||
      file.Write(0, text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
    const DWORD error = GetLastError();
    file.Close();
    if (file.created()) base::DeleteFileBestEffort(copy, false);
    return base::Failure{error, 0, "the copy cannot be written", copy};
  }
  return copy;
}

base::Process StartCleanupBatch(const base::FilePath& batch_file) {
  const base::Result<base::FilePath> copy = CopyCleanupBatchToTemp(batch_file);
  if (!copy.ok()) {
    LOG(WARNING) << "Not starting " << batch_file.AsUTF8() << ": " << copy.failure().text;
    return base::Process();
  }
  return StartBatchCopy(copy.value());
}

base::Process StartBatchCopy(const base::FilePath& copy) {
  base::FilePath system_folder;
  if (!base::PathRegistry::Get(base::DIR_SYSTEM, &system_folder)) return base::Process();
  const std::wstring environment = BuildCleanupBatchEnvironment(copy);
  base::LaunchOptions options;
  options.start_hidden = true;
  // Not the install folder, whose working folder could not be removed; cmd looks for
  // its tools in the working folder first.
  options.current_directory = system_folder;
  options.environment = environment.c_str();
  return base::LaunchProcess(BuildCleanupBatchCommand(system_folder.Append(L"cmd.exe")), options);
}

}  // namespace installer
