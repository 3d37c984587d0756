#include "desktop/windows/installer/package_copy.h"

#include <windows.h>

#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/steps/component_steps.h"
#include "desktop/windows/installer/elevated_helper/held_file.h"

namespace installer {

namespace {

// A package's folders are a few levels deep; a deeper tree is not a package.
const int kMaxDepth = 16;
const DWORD kCopyChunk = 1 << 18;

// `path` with its short names spelt out, as the system names an open file.
base::FilePath LongForm(const base::FilePath& path) {
  std::vector<wchar_t> buffer(GetLongPathNameW(path.value().c_str(), nullptr, 0) + 1);
  const DWORD length = GetLongPathNameW(path.value().c_str(), buffer.data(),
                                        static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return path.StripTrailingSeparators();
  return base::FilePath(std::wstring(buffer.data(), length)).StripTrailingSeparators();
}

// Opens the folder `path` for reading, shared for reading only: while it is held nobody
// renames or deletes it. Refuses a link, and a name the system resolves elsewhere (a link
// on the way).
[[nodiscard]] bool HoldFolder(const base::FilePath& path, HeldFile* entry) {
  if (!entry->Open(path, GENERIC_READ, FILE_SHARE_READ, false)) {
    PLOG(ERROR) << "Cannot hold " << path.AsUTF8();
    return false;
  }
  if (entry->is_reparse_point() ||
      base::FilePath::CompareIgnoreCase(entry->final_path().value(), LongForm(path).value()) !=
          0) {
    LOG(ERROR) << "Refusing " << path.AsUTF8() << ": it is, or is reached through, a link to "
               << entry->final_path().AsUTF8();
    return false;
  }
  return true;
}

// Copies the held file's content, read through its handle, to the new file `target`.
[[nodiscard]] bool CopyHeldFile(const HeldFile& source, const base::FilePath& target) {
  base::ScopedHandle output(CreateFileW(target.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output.IsValid()) {
    PLOG(ERROR) << "Cannot create " << target.AsUTF8();
    return false;
  }
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source.handle(), buffer.data(), kCopyChunk, &read, nullptr)) {
      PLOG(ERROR) << "Cannot read " << source.final_path().AsUTF8();
      return false;
    }
    if (read == 0) return true;
    DWORD written = 0;
    if (!WriteFile(output.Get(), buffer.data(), read, &written, nullptr) || written != read) {
      PLOG(ERROR) << "Cannot write " << target.AsUTF8();
      return false;
    }
  }
}

// Copies what the held folder lists into the existing folder `target`.
[[nodiscard]] bool CopyHeldFolder(const HeldFile& folder, const base::FilePath& target, int depth) {
  if (depth > kMaxDepth) {
    LOG(ERROR) << "Refusing " << folder.final_path().AsUTF8() << ": too deep for a package";
    return false;
  }
  std::vector<HeldFile::Listed> listed;
  if (!folder.ListFolder(&listed)) {
    PLOG(ERROR) << "Cannot list " << folder.final_path().AsUTF8();
    return false;
  }
  for (const HeldFile::Listed& item : listed) {
    const std::wstring& name = item.name;
    // Shared for reading only: while it is held nobody writes, renames or deletes it.
    HeldFile entry;
    if (!entry.OpenChild(folder, name, GENERIC_READ, FILE_SHARE_READ)) {
      PLOG(ERROR) << "Cannot hold " << folder.final_path().Append(name).AsUTF8();
      return false;
    }
    // The listing's word too: a system that follows a link it was asked to open shows
    // the link only there.
    if (entry.is_reparse_point() || (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      LOG(ERROR) << "Refusing the link " << entry.final_path().AsUTF8();
      return false;
    }
    const base::FilePath copy = target.Append(name);
    if (!entry.is_directory()) {
      if (!CopyHeldFile(entry, copy)) return false;
      continue;
    }
    if (!CreateDirectoryW(copy.value().c_str(), nullptr)) {
      PLOG(ERROR) << "Cannot create " << copy.AsUTF8();
      return false;
    }
    if (!CopyHeldFolder(entry, copy, depth + 1)) return false;
  }
  return true;
}

// Copies the folder `source` into `destination` under its own name.
[[nodiscard]] bool CopyFolderInto(const base::FilePath& source, const base::FilePath& destination,
                                  base::FilePath* copy) {
  HeldFile folder;
  if (!HoldFolder(source, &folder)) return false;
  if (!folder.is_directory()) {
    LOG(ERROR) << "Not a folder: " << source.AsUTF8();
    return false;
  }
  *copy = destination.Append(folder.final_path().BaseName());
  if (!CreateDirectoryW(copy->value().c_str(), nullptr)) {
    PLOG(ERROR) << "Cannot create " << copy->AsUTF8();
    return false;
  }
  return CopyHeldFolder(folder, *copy, 0);
}

}  // namespace

bool CopyPackage(const base::FilePath& package, const std::wstring& components,
                 const base::FilePath& destination, base::FilePath* package_copy) {
  if (!CopyFolderInto(package, destination, package_copy)) return false;
  const base::FilePath beside = package.StripTrailingSeparators().DirName();
  for (const auto& component : SplitComponentList(components)) {
    const base::FilePath name(component.second);
    // Only a folder beside the package is one; a missing one is the components step's to
    // report.
    if (name.BaseName() != name || name.value() == L"." || name.value() == L".." ||
        GetFileAttributesW(beside.Append(name).value().c_str()) == INVALID_FILE_ATTRIBUTES ||
        base::PathExists(destination.Append(name))) {
      continue;
    }
    base::FilePath component_copy;
    if (!CopyFolderInto(beside.Append(name), destination, &component_copy)) return false;
  }
  return true;
}

}  // namespace installer
