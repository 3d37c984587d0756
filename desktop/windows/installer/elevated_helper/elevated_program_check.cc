#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"

#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/win/scoped_generic.h"

namespace installer {

namespace {

// ntdll's NtAreMappedFilesTheSame: whether two views are of one file, whatever its name.
using AreMappedFilesTheSameFunction = LONG(WINAPI*)(void*, void*);

// The DOS form of an NT file name a mapping reports: "\??\X:\..." (as Wine gives it)
// or "\Device\<volume>\..." of a drive letter; empty when no drive names it.
base::FilePath DosPathOfNtName(const std::wstring& name) {
  const std::wstring kDosPrefix = L"\\??\\";
  if (name.compare(0, kDosPrefix.size(), kDosPrefix) == 0)
    return base::FilePath(name.substr(kDosPrefix.size()));
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t drive[] = {letter, L':', L'\0'};
    wchar_t device[MAX_PATH] = {};
    if (!QueryDosDeviceW(drive, device, MAX_PATH)) continue;
    const std::wstring prefix = std::wstring(device) + L"\\";
    if (name.compare(0, prefix.size(), prefix) == 0)
      return base::FilePath(std::wstring(drive) + L"\\" + name.substr(prefix.size()));
  }
  return base::FilePath();
}

// Whether the file `held` holds is the one the image at `image` is mapped from: a view
// of its first bytes and the image are of one file, as the memory manager says.
bool IsFileOfImage(const HeldFile& held, const void* image) {
  const auto same = reinterpret_cast<AreMappedFilesTheSameFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtAreMappedFilesTheSame")));
  LARGE_INTEGER size = {};
  if (!same || !GetFileSizeEx(held.handle(), &size) || size.QuadPart <= 0) return false;
  const base::ScopedHandle mapping(
      CreateFileMappingW(held.handle(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) return false;
  const SIZE_T length = static_cast<SIZE_T>(size.QuadPart < 4096 ? size.QuadPart : 4096);
  const base::ScopedMappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, length));
  return view.IsValid() && same(const_cast<void*>(image), view.Get()) == 0;
}

}  // namespace

base::FilePath RunningInstallerPath() {
  base::FilePath path;
  if (!base::PathRegistry::Get(base::FILE_EXE, &path)) path.clear();
  return path;
}

bool HoldVerifiedProgram(const base::FilePath& program, base::ScopedHandle* hold) {
  return HoldVerifiedProgram(program, ThisBuildSignatureRule(), hold);
}

bool HoldVerifiedProgram(const base::FilePath& program, SignatureRule rule,
                         base::ScopedHandle* hold) {
  return HoldVerifiedProgramAtFinalPath(program, rule, hold).ok();
}

base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(const base::FilePath& program,
                                                            base::ScopedHandle* hold) {
  return HoldVerifiedProgramAtFinalPath(program, ThisBuildSignatureRule(), hold);
}

base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(const base::FilePath& program,
                                                            SignatureRule rule,
                                                            base::ScopedHandle* hold) {
  // Readers only: starting the program still works, replacing it does not.
  hold->Set(CreateFileW(program.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hold->IsValid()) {
    const DWORD error = GetLastError();
    PLOG(ERROR) << "Not running " << program.AsUTF8() << ": it cannot be opened";
    return base::Failure{error, 0, "it cannot be opened", program};
  }
  // The held file, wherever links took the name: a folder on the name's way may be swapped
  // once the file is held, the held file cannot.
  base::Result<base::FilePath> final_path = base::GetFinalPathOfHandle(hold->Get());
  if (!final_path.ok()) {
    LOG(ERROR) << "Not running " << program.AsUTF8() << ": "
               << base::DescribeFailure(final_path.failure());
    hold->Close();
    return base::Failure{final_path.failure().error, 0, "its final path is unknown", program};
  }
  const base::Result<> verified = CheckHeldFileSignature(final_path.value(), rule);
  if (!verified.ok()) {
    hold->Close();
    return base::Failure{0, 0, verified.failure().text, program};
  }
  return final_path;
}

base::Result<> CheckHeldFileSignature(const base::FilePath& final_path, SignatureRule rule) {
  std::string error;
  if (AreSignaturesRequired(rule) && !VerifyFileSignature(final_path, &error)) {
    LOG(ERROR) << "Not taking " << final_path.AsUTF8() << ": its signature does not verify. "
               << error;
    return base::Failure{0, 0, "its signature does not verify", final_path};
  }
  return base::Result<>();
}

base::Result<> HoldOwnImage(HeldFile* image) {
  const void* own = GetModuleHandleW(nullptr);
  return internal::HoldMappedImageAt(own, internal::OwnImageNames(own), image);
}

namespace internal {

std::vector<base::FilePath> OwnImageNames(const void* image) {
  std::vector<base::FilePath> names;
  std::vector<wchar_t> buffer(32768);
  const DWORD length = K32GetMappedFileNameW(GetCurrentProcess(), const_cast<void*>(image),
                                             buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length > 0 && length < buffer.size()) {
    const std::wstring mapped(buffer.data(), length);
    const base::FilePath dos = DosPathOfNtName(mapped);
    if (!dos.empty()) names.push_back(dos);
    // Any volume, also one without a drive letter.
    names.emplace_back(L"\\\\?\\GLOBALROOT" + mapped);
  }
  const base::FilePath started = RunningInstallerPath();
  if (!started.empty()) names.push_back(started);
  return names;
}

base::Result<> HoldMappedImageAt(const void* image, const std::vector<base::FilePath>& names,
                                 HeldFile* held) {
  for (const base::FilePath& name : names) {
    // Shared for reading only: once held, it is neither written nor renamed.
    HeldFile candidate;
    if (!candidate.Open(name, GENERIC_READ, FILE_SHARE_READ, true) || candidate.is_directory())
      continue;
    if (IsFileOfImage(candidate, image)) {
      *held = std::move(candidate);
      return base::Result<>();
    }
    LOG(WARNING) << "Not this installer's own file: " << name.AsUTF8();
  }
  return base::Failure{0, 0, "this installer's own file is found at none of its names",
                       names.empty() ? base::FilePath() : names.back()};
}

}  // namespace internal

}  // namespace installer
