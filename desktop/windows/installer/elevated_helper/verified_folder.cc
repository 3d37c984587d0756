#include "desktop/windows/installer/elevated_helper/verified_folder.h"

#include <wctype.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/held_file.h"

namespace installer {

namespace {

// Folders copied for a run are a few levels deep; CopyFolderInto refuses deeper ones.
const int kMaxDepth = 16;

// The signer rule, the one place this file asks it.
base::Result<> HoldIfVerified(const base::FilePath& program, const base::FilePath& relative,
                              SignatureRule rule,
                              std::vector<HeldProgram>* held) {
  HeldProgram verified{relative, base::ScopedHandle()};
  if (!HoldVerifiedProgram(program, rule, &verified.hold))
    return base::Failure{0, 0, "a program file that does not pass the signer rule", program};
  held->push_back(std::move(verified));
  return base::Result<>();
}

// `relative`: the folder's path inside the folder checked.
base::Result<> HoldProgramsIn(const HeldFile& folder, const base::FilePath& relative,
                              SignatureRule rule, int depth,
                              std::vector<HeldProgram>* held) {
  if (depth > kMaxDepth) return base::Failure{0, 0, "too deep", folder.final_path()};
  std::vector<HeldFile::Listed> listed;
  if (!folder.ListFolder(&listed))
    return base::Failure{GetLastError(), 0, "cannot list", folder.final_path()};
  for (const HeldFile::Listed& item : listed) {
    // Shared for reading only: the content read is the content the rule checks.
    HeldFile entry;
    if (!entry.OpenChild(folder, item.name, GENERIC_READ, FILE_SHARE_READ))
      return base::Failure{GetLastError(), 0, "cannot hold", folder.final_path().Append(item.name)};
    if (entry.is_reparse_point() || (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return base::Failure{0, 0, "a link", entry.final_path()};
    const base::FilePath name =
        relative.empty() ? base::FilePath(item.name) : relative.Append(item.name);
    base::Result<> checked;
    if (entry.is_directory()) {
      checked = HoldProgramsIn(entry, name, rule, depth + 1, held);
    } else {
      const base::Result<bool> program = IsProgramImage(entry.handle(), entry.final_path());
      if (!program.ok()) return program.failure();
      if (program.value())
        checked = HoldIfVerified(entry.final_path(), name, rule, held);
    }
    if (!checked.ok()) return checked;
  }
  return base::Result<>();
}

bool IsDeviceName(const std::wstring& name) {
  // The system takes a device's name with any extension, and with spaces before it.
  std::wstring stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(towupper(c));
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (stem == device) return true;
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         ((stem[3] >= L'0' && stem[3] <= L'9') || stem[3] == 0xB9 || stem[3] == 0xB2 ||
          stem[3] == 0xB3);
}

}  // namespace

base::Result<bool> IsProgramImage(HANDLE file, const base::FilePath& path) {
  char magic[2] = {};
  DWORD read = 0;
  // From the start, wherever the handle's position is.
  OVERLAPPED at_start = {};
  if (!ReadFile(file, magic, sizeof(magic), &read, &at_start) && GetLastError() != ERROR_HANDLE_EOF)
    return base::Failure{GetLastError(), 0, "cannot read", path};
  return read == sizeof(magic) && magic[0] == 'M' && magic[1] == 'Z';
}

base::Result<> HoldVerifiedProgramFiles(const base::FilePath& folder,
                                        SignatureRule rule,
                                        std::vector<HeldProgram>* held) {
  held->clear();
  HeldFile root;
  base::Result<> result = base::Result<>();
  if (!root.Open(folder, GENERIC_READ, FILE_SHARE_READ, false)) {
    result = base::Failure{GetLastError(), 0, "cannot hold", folder};
  } else if (root.is_reparse_point() || !root.is_directory()) {
    result = base::Failure{0, 0, "not a folder", folder};
  } else {
    result = HoldProgramsIn(root, base::FilePath(), rule, 0, held);
  }
  if (!result.ok()) held->clear();
  return result;
}

bool IsHeldProgram(const std::vector<HeldProgram>& held, const base::FilePath& relative) {
  for (const HeldProgram& entry : held) {
    if (base::FilePath::CompareIgnoreCase(entry.relative.value(), relative.value()) == 0)
      return true;
  }
  return false;
}

bool IsPlainEntryName(const std::wstring& name) {
  if (name.empty() || name.size() > 255 || name == L"." || name == L".." ||
      name.back() == L'.' || name.back() == L' ')
    return false;
  for (wchar_t c : name) {
    if (c < 0x20 || wcschr(L"<>:\"/\\|?*", c)) return false;
  }
  return !IsDeviceName(name);
}

}  // namespace installer
