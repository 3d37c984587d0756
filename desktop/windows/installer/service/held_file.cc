#include "desktop/windows/installer/service/held_file.h"

#include <string.h>
#include <winternl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_piece.h"

namespace installer {

namespace {

// "X:\..." as the system names the open file; false for anything else.
[[nodiscard]] bool ReadFinalPath(HANDLE handle, base::FilePath* path) {
  const base::Result<base::FilePath> final_path = base::GetFinalPathOfHandle(handle);
  if (!final_path.ok()) {
    SetLastError(final_path.failure().error);
    return false;
  }
  const std::wstring& text = final_path.value().value();
  // Network shares ("UNC\...") and device paths have no place in a grant.
  if (text.size() < 3 || !iswalpha(text[0]) || text[1] != L':' || text[2] != L'\\') {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  *path = final_path.value().StripTrailingSeparators();
  if (path->value().size() == 2) *path = base::FilePath(text.substr(0, 3));
  return true;
}

// FILE_ID_INFO and its class (Windows 8 and later), declared here as the headers give
// them only to programs that need Windows 8.
struct FileIdInfoRecord {
  ULONGLONG VolumeSerialNumber;
  BYTE FileId[16];
};
const FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// The 64-bit index the system gives a file within its volume.
uint64_t FileIndexOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

[[nodiscard]] bool ReadIdentity(HANDLE handle, FileIdentity* identity) {
  FileIdInfoRecord id_info = {};
  if (GetFileInformationByHandleEx(handle, kFileIdInfo, &id_info, sizeof(id_info))) {
    identity->volume = id_info.VolumeSerialNumber;
    static_assert(sizeof(identity->id) == sizeof(id_info.FileId), "a 128-bit file id");
    memcpy(identity->id, &id_info.FileId, sizeof(identity->id));
    return true;
  }
  // Systems without 128-bit ids give the 64-bit index, which the 128-bit id extends.
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return false;
  identity->volume = information.dwVolumeSerialNumber;
  const uint64_t index = FileIndexOf(information);
  memset(identity->id, 0, sizeof(identity->id));
  memcpy(identity->id, &index, sizeof(index));
  return true;
}

// NtOpenFile and the error its status means, from ntdll: only a handle-relative open
// names a file within a held folder.
using NtOpenFileFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, void*, IO_STATUS_BLOCK*, ULONG,
                                         ULONG);
using NtCreateFileFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, void*, IO_STATUS_BLOCK*,
                                           LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*,
                                           ULONG);
using NtStatusToErrorFunction = ULONG(WINAPI*)(LONG);
using NtSetInformationFileFunction = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
using NtQueryObjectFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
const int kFileRenameInformation = 10;
const int kObjectNameInformation = 1;
// A name's UNICODE_STRING holds at most 65,535 bytes.
const ULONG kMaxObjectNameSize = sizeof(UNICODE_STRING) + 0x10000;
const ULONG kObjCaseInsensitive = 0x40;
const ULONG kSynchronousIo = 0x20;         // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG kOpenForBackup = 0x4000;       // FILE_OPEN_FOR_BACKUP_INTENT
const ULONG kOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT
const ULONG kDirectoryFile = 0x1;          // FILE_DIRECTORY_FILE
const ULONG kNonDirectoryFile = 0x40;      // FILE_NON_DIRECTORY_FILE
const ULONG kCreate = 2;                   // FILE_CREATE
const ULONG kOpenIf = 3;                   // FILE_OPEN_IF

// The ntdll function `name`; null when the system has none.
template <typename Function>
Function NtFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// How OpenRelative reaches its name.
enum class Relative {
  kOpen,            // what is there
  kOpenOrMakeFolder,
  kMakeFile,        // a new file, never anything that is there
};

// `name` relative to the held `folder`, as `how` says. `created`, when given, says
// whether the call made it.
HANDLE OpenRelative(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                    Relative how = Relative::kOpen, bool* created = nullptr) {
  const auto open_file = NtFunction<NtOpenFileFunction>("NtOpenFile");
  const auto create_file = NtFunction<NtCreateFileFunction>("NtCreateFile");
  const auto to_error = NtFunction<NtStatusToErrorFunction>("RtlNtStatusToDosError");
  if (!open_file || !create_file || !to_error) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING object_name = {};
  object_name.Buffer = const_cast<wchar_t*>(name.c_str());
  object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = folder;
  attributes.ObjectName = &object_name;
  attributes.Attributes = kObjCaseInsensitive;
  IO_STATUS_BLOCK status_block = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const bool folder_wanted = how == Relative::kOpenOrMakeFolder;
  const LONG status =
      how == Relative::kOpen
          ? open_file(&handle, access | SYNCHRONIZE, &attributes, &status_block, share,
                      kSynchronousIo | kOpenForBackup | kOpenReparsePoint)
          : create_file(&handle, access | SYNCHRONIZE, &attributes, &status_block, nullptr,
                        FILE_ATTRIBUTE_NORMAL, share, folder_wanted ? kOpenIf : kCreate,
                        (folder_wanted ? kDirectoryFile : kNonDirectoryFile) | kSynchronousIo |
                            kOpenForBackup | kOpenReparsePoint,
                        nullptr, 0);
  if (status < 0) {
    SetLastError(to_error(status));
    return INVALID_HANDLE_VALUE;
  }
  const ULONG_PTR kFileCreated = 2;
  if (created) *created = status_block.Information == kFileCreated;
  return handle;
}

class SystemReader : public HeldFile::DirectoryReader {
 public:
  bool Read(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer,
            DWORD size) const override {
    return GetFileInformationByHandleEx(folder, kind, buffer, size) != FALSE;
  }
};

bool IsPlainName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:") == std::wstring::npos && name.size() <= 255;
}

// As IsAtNameIn, and no link either.
[[nodiscard]] bool IsNamedIn(const HeldFile& folder, const std::wstring& name,
                             const HeldFile& file, bool* named) {
  if (!IsAtNameIn(folder, name, file, named)) return false;
  *named = *named && !file.is_reparse_point();
  return true;
}

// Calls `take` with each name of `relative` ("a\\b\\c"), top first, and whether it is the
// last, until `take` gives false.
void ForEachName(const std::wstring& relative,
                 const std::function<bool(const std::wstring&, bool)>& take) {
  size_t start = relative.find_first_not_of(L'\\');
  while (start != std::wstring::npos) {
    const size_t end = relative.find(L'\\', start);
    const size_t next = end == std::wstring::npos ? end : relative.find_first_not_of(L'\\', end);
    if (!take(relative.substr(start, end == std::wstring::npos ? end : end - start),
              next == std::wstring::npos))
      return;
    start = next;
  }
}

}  // namespace

uint64_t FileIndexOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return 0;
  return FileIndexOf(information);
}

bool IsAtNameIn(const HeldFile& folder, const std::wstring& name, const HeldFile& file,
                bool* at_name) {
  std::wstring folder_path;
  std::wstring file_path;
  if (!folder.ReadDevicePath(&folder_path) || !file.ReadDevicePath(&file_path)) return false;
  // A drive root's path ends with its separator.
  if (folder_path.empty() || folder_path.back() != L'\\') folder_path += L'\\';
  *at_name = base::FilePath::CompareIgnoreCase(file_path, folder_path + name) == 0;
  return true;
}

base::Result<> RemoveHeldFolderIfEmpty(const HeldFile& held, const base::FilePath& path,
                                       const std::function<void()>& between) {
  bool empty = false;
  if (!held.IsEmptyFolder(&empty))
    return base::Failure{GetLastError(), 0, path.AsUTF8() + " cannot be listed", path};
  if (!empty) return base::Failure{ERROR_DIR_NOT_EMPTY, 0, path.AsUTF8() + " is not empty", path};
  if (between) between();
  if (!held.DeleteOnClose())
    return base::Failure{GetLastError(), 0, path.AsUTF8() + " cannot be removed", path};
  return {};
}

const HeldFile::DirectoryReader& HeldFile::SystemDirectoryReader() {
  static const SystemReader reader;
  return reader;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
  return volume == other.volume && memcmp(id, other.id, sizeof(id)) == 0;
}

bool HeldFile::Open(const base::FilePath& path, DWORD access, DWORD share, bool follow_links) {
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  handle_.Set(CreateFileW(path.value().c_str(), access, share, nullptr, OPEN_EXISTING, flags,
                          nullptr));
  return Identify();
}

bool HeldFile::Identify() {
  device_path_.clear();
  FILE_BASIC_INFO basic = {};
  if (!handle_.IsValid() || !ReadFinalPath(handle_.Get(), &final_path_) ||
      !ReadIdentity(handle_.Get(), &identity_) ||
      !GetFileInformationByHandleEx(handle_.Get(), FileBasicInfo, &basic, sizeof(basic))) {
    const DWORD error = GetLastError();
    handle_.Close();
    SetLastError(error);
    return false;
  }
  attributes_ = basic.FileAttributes;
  return true;
}

bool HeldFile::OpenChild(const HeldFile& folder, const std::wstring& name, DWORD access,
                         DWORD share) {
  if (!IsPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  handle_.Set(OpenRelative(folder.handle(), name, access, share));
  device_path_.clear();
  FILE_BASIC_INFO basic = {};
  if (!handle_.IsValid() ||
      !GetFileInformationByHandleEx(handle_.Get(), FileBasicInfo, &basic, sizeof(basic))) {
    const DWORD error = GetLastError();
    handle_.Close();
    SetLastError(error);
    return false;
  }
  final_path_ = folder.final_path().Append(name);
  identity_ = FileIdentity();
  attributes_ = basic.FileAttributes;
  return true;
}

bool HeldFile::Duplicate(HeldFile* copy) const {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle_.Get(), GetCurrentProcess(), &duplicate, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return false;
  copy->handle_.Set(duplicate);
  copy->final_path_ = final_path_;
  copy->device_path_ = device_path_;
  copy->identity_ = identity_;
  copy->attributes_ = attributes_;
  return true;
}

bool HeldFile::CreateChildFolder(const HeldFile& folder, const std::wstring& name,
                                 bool* created) {
  if (!IsPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  handle_.Set(OpenRelative(folder.handle(), name,
                           FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                               FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, Relative::kOpenOrMakeFolder,
                           created));
  return Identify();
}

bool HeldFile::CreateChildFile(const HeldFile& folder, const std::wstring& name, DWORD access,
                               DWORD share) {
  if (!IsPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  handle_.Set(OpenRelative(folder.handle(), name, access, share, Relative::kMakeFile));
  device_path_.clear();
  if (!handle_.IsValid()) return false;
  final_path_ = folder.final_path().Append(name);
  identity_ = FileIdentity();
  attributes_ = FILE_ATTRIBUTE_NORMAL;
  return true;
}

bool HeldFile::IsEmptyFolder(bool* empty, const DirectoryReader& reader) const {
  bool found = false;
  // The first entry decides: a folder the user names may list thousands.
  if (!VisitFolder(reader, [&found](Listed&&) {
        found = true;
        return false;
      })) {
    return false;
  }
  *empty = !found;
  return true;
}

bool HeldFile::ListFolder(std::vector<Listed>* entries, const DirectoryReader& reader) const {
  entries->clear();
  const bool complete = VisitFolder(reader, [entries](Listed&& entry) {
    entries->push_back(std::move(entry));
    return true;
  });
  if (!complete) entries->clear();
  return complete;
}

bool HeldFile::VisitFolder(const DirectoryReader& reader,
                           const std::function<bool(Listed&&)>& take) const {
  // Listed through the handle: the folder listed is the folder held.
  alignas(8) unsigned char buffer[4096];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!reader.Read(handle_.Get(), kind, buffer, sizeof(buffer))) {
      // Only the listing's own end is an end; whatever else stops it leaves names unseen.
      return GetLastError() == ERROR_NO_MORE_FILES;
    }
    kind = FileIdBothDirectoryInfo;
    for (size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L".." &&
          !take(Listed{std::move(name), entry->FileAttributes,
                       static_cast<uint64_t>(entry->FileId.QuadPart)}))
        return true;
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

bool HeldFile::ReadDevicePath(std::wstring* path) const {
  if (device_path_.empty()) {
    const auto query_object = NtFunction<NtQueryObjectFunction>("NtQueryObject");
    const auto to_error = NtFunction<NtStatusToErrorFunction>("RtlNtStatusToDosError");
    if (!query_object || !to_error) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return false;
    }
    // The object's own name, however long: Wine's GetFinalPathNameByHandleW stops at
    // MAX_PATH.
    std::vector<unsigned char> buffer(sizeof(UNICODE_STRING) + MAX_PATH * sizeof(wchar_t));
    for (;;) {
      ULONG needed = 0;
      const LONG status = query_object(handle_.Get(), kObjectNameInformation, buffer.data(),
                                       static_cast<ULONG>(buffer.size()), &needed);
      if (status >= 0) break;
      if (needed <= buffer.size() || needed > kMaxObjectNameSize) {
        SetLastError(to_error(status));
        return false;
      }
      buffer.resize(needed);
    }
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    device_path_.assign(name->Buffer, name->Length / sizeof(wchar_t));
    if (device_path_.empty()) {
      SetLastError(ERROR_FILE_INVALID);
      return false;
    }
  }
  *path = device_path_;
  return true;
}

bool HeldFile::DeleteOnClose() const {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition)) != FALSE;
}

bool HeldFile::MoveInto(const HeldFile& folder, const std::wstring& name) const {
  if (!IsPlainName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const auto set_information = NtFunction<NtSetInformationFileFunction>("NtSetInformationFile");
  const auto to_error = NtFunction<NtStatusToErrorFunction>("RtlNtStatusToDosError");
  if (!set_information || !to_error) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  // The name relative to the held folder, as the system takes it (SetFileInformationByHandle
  // may read a plain name against the working folder): no path is walked again.
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = folder.handle();
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  memcpy(rename->FileName, name.data(), rename->FileNameLength);
  IO_STATUS_BLOCK status_block = {};
  const LONG status = set_information(handle_.Get(), &status_block, rename,
                                      static_cast<ULONG>(buffer.size()), kFileRenameInformation);
  if (status < 0) {
    SetLastError(to_error(status));
    return false;
  }
  return true;
}

bool IsSameOrUnder(const base::FilePath& path, const base::FilePath& folder) {
  const std::wstring text = path.StripTrailingSeparators().value();
  const std::wstring top = folder.StripTrailingSeparators().value();
  if (top.empty() || text.size() < top.size()) return false;
  if (base::FilePath::CompareIgnoreCase(base::StringPiece16(text).substr(0, top.size()), top) != 0)
    return false;
  return text.size() == top.size() || text[top.size()] == L'\\' || top.back() == L'\\';
}

bool IsSamePath(const base::FilePath& a, const base::FilePath& b) {
  return IsSameOrUnder(a, b) && IsSameOrUnder(b, a);
}

bool IsBelow(const base::FilePath& path, const base::FilePath& folder) {
  return IsSameOrUnder(path, folder) && !IsSamePath(path, folder);
}

bool IsDriveRoot(const base::FilePath& path) { return path.DirName() == path; }

base::FilePath RebasePath(const base::FilePath& path, const base::FilePath& from,
                          const base::FilePath& to) {
  // A drive root keeps its separator: what follows it may start without one.
  std::wstring rest = path.value().substr(from.StripTrailingSeparators().value().size());
  rest.erase(0, rest.find_first_not_of(L'\\'));
  return rest.empty() ? to.StripTrailingSeparators() : to.Append(rest);
}

bool FindReparsePoint(const base::FilePath& path, const base::FilePath& stop,
                      base::FilePath* reparse_point) {
  for (base::FilePath current = path.StripTrailingSeparators();; current = current.DirName()) {
    if (!stop.empty() && IsSameOrUnder(stop, current)) return false;
    const DWORD attributes = GetFileAttributesW(current.value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      *reparse_point = current;
      return true;
    }
    if (IsDriveRoot(current)) return false;
  }
}

base::Result<> HoldPlace(const base::FilePath& path, const base::FilePath& expected,
                         DWORD access, DWORD share, bool folder, HeldFile* held) {
  if (!held->Open(path, access, share, false))
    return base::Failure{GetLastError(), 0, path.AsUTF8() + " cannot be held", path};
  if (held->is_reparse_point())
    return base::Failure{0, kHeldLink, "the link " + path.AsUTF8(), path};
  // Wine follows a link made on the host despite the flag: the final path tells.
  if (!IsSamePath(held->final_path(), expected)) {
    return base::Failure{0, kHeldLink, path.AsUTF8() + " is " + held->final_path().AsUTF8(),
                         path};
  }
  if (held->is_directory() != folder) {
    return base::Failure{0, kHeldOtherKind,
                         path.AsUTF8() + (folder ? " is no folder" : " is no file"), path};
  }
  return {};
}

base::Result<> HoldListed(const HeldFile& folder, const HeldFile::Listed& entry, DWORD access,
                          DWORD share, HeldFile* held) {
  const base::FilePath path = folder.final_path().Append(entry.name);
  if (entry.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    const bool link = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return base::Failure{0, link ? kHeldLink : kHeldOtherKind,
                         path.AsUTF8() + (link ? " is a link" : " is no file"), path};
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  bool named = false;
  if (!held->OpenChild(folder, entry.name, access, share) ||
      !GetFileInformationByHandle(held->handle(), &information) ||
      !IsNamedIn(folder, entry.name, *held, &named))
    return base::Failure{GetLastError(), 0, path.AsUTF8() + " cannot be held", path};
  // Wine lists and opens a host link as its target: only the final path tells.
  if (!named || FileIndexOf(information) != entry.file_id)
    return base::Failure{0, kHeldLink, path.AsUTF8() + " is no longer the file listed", path};
  if (held->is_directory())
    return base::Failure{0, kHeldOtherKind, path.AsUTF8() + " is no file", path};
  return {};
}

base::Result<> HoldChild(const HeldFile& parent, const base::FilePath& path, DWORD access,
                         DWORD share, bool folder, bool on_the_way, HeldFile* held) {
  bool named = false;
  if (!held->OpenChild(parent, path.BaseName().value(), access, share) ||
      !IsNamedIn(parent, path.BaseName().value(), *held, &named)) {
    DWORD error = GetLastError();
    // As the system says of a path whose folder is missing.
    if (on_the_way && error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
    *held = HeldFile();
    return base::Failure{error, 0, path.AsUTF8() + " cannot be held", path};
  }
  if (!named) return base::Failure{0, kHeldLink, "the link " + path.AsUTF8(), path};
  if (held->is_directory() != folder) {
    return base::Failure{0, kHeldOtherKind,
                         path.AsUTF8() + (folder ? " is no folder" : " is no file"), path};
  }
  return {};
}

bool IsMissingPlace(const base::Result<>& result) {
  return !result.ok() && (result.failure().error == ERROR_FILE_NOT_FOUND ||
                          result.failure().error == ERROR_PATH_NOT_FOUND);
}

base::Result<> HoldBelow(const HeldFile& top, const base::FilePath& top_path,
                         const base::FilePath& path, DWORD access, DWORD share, bool folder,
                         HeldWay* way) {
  way->folders.clear();
  way->place = HeldFile();
  const base::FilePath target = path.StripTrailingSeparators();
  if (!IsBelow(target, top_path))
    return base::Failure{0, 0, path.AsUTF8() + " is not below " + top_path.AsUTF8(), path};
  base::Result<> result;
  const HeldFile* parent = &top;
  base::FilePath named = top_path.StripTrailingSeparators();
  ForEachName(RebasePath(target, top_path, base::FilePath()).value(),
              [&](const std::wstring& name, bool last) {
                named = named.Append(name);
                HeldFile held;
                result = HoldChild(*parent, named, last ? access : kWayAccess,
                                   last ? share : kWayShare, last ? folder : true, !last, &held);
                if (!result.ok()) return false;
                if (last) {
                  way->place = std::move(held);
                } else {
                  way->folders.push_back(std::move(held));
                  parent = &way->folders.back();
                }
                return true;
              });
  return result;
}

base::Result<> HoldBelow(const base::FilePath& top, const base::FilePath& final_top,
                         const base::FilePath& path, DWORD access, DWORD share, bool folder,
                         HeldWay* way) {
  HeldFile held_top;
  if (!held_top.Open(top, kWayAccess, kWayShare, true))
    return base::Failure{GetLastError(), 0, top.AsUTF8() + " cannot be held", top};
  if (!IsSamePath(held_top.final_path(), final_top)) {
    return base::Failure{0, kHeldLink, top.AsUTF8() + " is " + held_top.final_path().AsUTF8(),
                         top};
  }
  const base::Result<> result = HoldBelow(held_top, top, path, access, share, folder, way);
  // Held with the rest of the way.
  way->folders.insert(way->folders.begin(), std::move(held_top));
  return result;
}

HeldFolders::HeldFolders(const base::FilePath& top) : top_(top.StripTrailingSeparators()) {}
HeldFolders::HeldFolders(const base::FilePath& top, const HeldFile& held_top)
    : top_(top.StripTrailingSeparators()), held_top_(&held_top) {}
HeldFolders::~HeldFolders() = default;

base::Result<> HeldFolders::Hold(const base::FilePath& folder, const HeldFile** held) {
  Folder* found = nullptr;
  const base::Result<> result = HoldFolder(folder, false, &found);
  if (result.ok()) *held = &found->held;
  return result;
}

base::Result<> HeldFolders::HoldFolder(const base::FilePath& folder, bool on_the_way,
                                       Folder** held) {
  const auto found = folders_.find(folder.value());
  if (found != folders_.end()) {
    *held = &found->second;
    return {};
  }
  if (!IsBelow(folder, top_)) {
    HeldFile opened;
    const bool top = held_top_ && IsSamePath(folder, top_);
    if (top ? !held_top_->Duplicate(&opened) : !opened.Open(folder, kWayAccess, kWayShare, true))
      return base::Failure{GetLastError(), 0, folder.AsUTF8() + " cannot be held", folder};
    Folder& made = folders_[folder.value()];
    made.held = std::move(opened);
    *held = &made;
    return {};
  }
  // Most often its folder is held already (a tree walked, the files of one folder).
  const auto held_parent = folders_.find(folder.DirName().value());
  if (held_parent != folders_.end()) {
    Folder* parent = &held_parent->second;
    return HoldBelowHeld(parent, folder.DirName().value(), folder.BaseName().value(), on_the_way,
                         held);
  }
  // Else from the top down: the folders held already first (each held with every folder
  // above it), then one at a time, each through the one above it.
  Folder* parent = nullptr;
  const base::Result<> result = HoldFolder(top_, false, &parent);
  if (!result.ok()) return result;
  return HoldBelowHeld(parent, top_.value(),
                       RebasePath(folder.StripTrailingSeparators(), top_, base::FilePath()).value(),
                       on_the_way, held);
}

base::Result<> HeldFolders::HoldBelowHeld(Folder* parent, std::wstring named,
                                          const std::wstring& relative, bool on_the_way,
                                          Folder** held) {
  base::Result<> result;
  bool looking = true;
  ForEachName(relative, [&](const std::wstring& name, bool last) {
    if (named.back() != L'\\') named += L'\\';
    named += name;
    if (looking) {
      const auto held_already = folders_.find(named);
      if (held_already != folders_.end()) {
        parent = &held_already->second;
        return true;
      }
      looking = false;
    }
    HeldFile child;
    result = HoldChild(parent->held, base::FilePath(named), kWayAccess, kWayShare, true,
                       on_the_way || !last, &child);
    if (!result.ok()) return false;
    Folder& made = folders_[named];
    made.held = std::move(child);
    parent = &made;
    return true;
  });
  if (result.ok()) *held = parent;
  return result;
}

base::Result<> HeldFolders::HoldFile(const base::FilePath& path, DWORD access, DWORD share,
                                     HeldFile* held, const std::function<void()>& between) {
  Folder* folder = nullptr;
  const base::Result<> result = HoldFolder(path.DirName(), true, &folder);
  if (!result.ok()) return result;
  if (!folder->listed) {
    std::vector<HeldFile::Listed> entries;
    if (!folder->held.ListFolder(&entries))
      return base::Failure{GetLastError(), 0, "its folder cannot be listed", path};
    for (HeldFile::Listed& entry : entries) {
      const std::wstring name = entry.name;
      folder->names.emplace(name, std::move(entry));
    }
    folder->listed = true;
  }
  const auto found = folder->names.find(path.BaseName().value());
  if (found == folder->names.end())
    return base::Failure{ERROR_FILE_NOT_FOUND, 0, path.AsUTF8() + " is missing", path};
  if (between) between();
  return HoldListed(folder->held, found->second, access, share, held);
}

void HeldFolders::Moved(const base::FilePath& path, const base::FilePath& to) {
  const auto folder = folders_.find(path.DirName().value());
  if (folder == folders_.end()) return;
  const auto found = folder->second.names.find(path.BaseName().value());
  if (found == folder->second.names.end()) return;
  HeldFile::Listed listed = std::move(found->second);
  folder->second.names.erase(found);
  const auto target = folders_.find(to.DirName().value());
  if (to.empty() || target == folders_.end() || !target->second.listed) return;
  listed.name = to.BaseName().value();
  target->second.names[listed.name] = std::move(listed);
}

base::Result<> HeldFolders::RemoveEmptyFolder(const base::FilePath& folder,
                                              const std::function<void()>& between) {
  if (!IsBelow(folder, top_))
    return base::Failure{0, 0, folder.AsUTF8() + " is not below " + top_.AsUTF8(), folder};
  Folder* parent = nullptr;
  base::Result<> result = HoldFolder(folder.DirName(), true, &parent);
  if (!result.ok()) return result;
  // Its own handle would keep it from going.
  folders_.erase(folder.value());
  HeldFile held;
  result = HoldChild(parent->held, folder, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                     kWayShare, true, false, &held);
  if (!result.ok()) return result;
  result = RemoveHeldFolderIfEmpty(held, folder, between);
  if (!result.ok()) return result;
  Moved(folder);
  return {};
}

void HeldFolders::Release() { folders_.clear(); }

}  // namespace installer
