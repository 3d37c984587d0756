#include "desktop/windows/installer/package_copy.h"

#include <windows.h>

#include <wchar.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/carried_preferences.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/held_file.h"
#include "desktop/windows/installer/elevated_helper/long_path.h"
#include "desktop/windows/installer/elevated_helper/verified_folder.h"
#include "desktop/windows/installer/steps/component_steps.h"
#include "desktop/windows/installer/verification/downloaded_version_check.h"

namespace installer {

namespace {

// A package's folders are a few levels deep; a deeper tree is not a package.
const int kMaxDepth = 16;
const DWORD kCopyChunk = 1 << 18;
// The fetcher tries this many times; each try's download is named after it.
const int kDownloadTries = 6;

const wchar_t kFullPackageName[] = L"full_package.exe";
const wchar_t kArchiveName[] = L"full_package.7z";
const wchar_t kIncludePrefsName[] = L"installer_prefs_include.json";
const wchar_t kFilesListName[] = L"files_list";
// A package's list of files is far shorter; the fetcher adds its partner files to it.
const size_t kFilesListBound = 16 * 1024 * 1024;
const char kWelcomeUrlKey[] = "welcome-url";
const wchar_t kPrefDefaultOverridesName[] = L"pref_default_overrides";

// What the front end's fetchers add to the package folder, with the most of it that is
// carried over: data the user could have written, never run, never a reason to refuse.
struct FetcherOutput {
  const wchar_t* name;
  size_t bound;
};
const FetcherOutput kCopiedOutputs[] = {{L"server_tracking_data", 64 * 1024},
                                        {kPrefDefaultOverridesName, 1024 * 1024}};
const size_t kIncludePrefsBound = 64 * 1024;

// `path` with its short names spelt out, as the system names an open file.
base::FilePath LongForm(const base::FilePath& path) {
  const base::Result<base::FilePath> long_path = WithLongNames(path);
  return long_path.ok() ? long_path.value() : path.StripTrailingSeparators();
}

// Opens `path` for reading, shared for reading only: while it is held nobody writes,
// renames or deletes it. Refuses a link, and a name the system resolves elsewhere (a link
// on the way).
base::Result<> HoldEntry(const base::FilePath& path, HeldFile* entry) {
  if (!entry->Open(path, GENERIC_READ, FILE_SHARE_READ, false))
    return base::Failure{GetLastError(), 0, "it cannot be held", path};
  if (entry->is_reparse_point() ||
      base::FilePath::CompareIgnoreCase(entry->final_path().value(), LongForm(path).value()) !=
          0) {
    return base::Failure{0, 0, "it is, or is reached through, a link to " +
                                   entry->final_path().AsUTF8(),
                         path};
  }
  return base::Result<>();
}

// Copies the held file's content, read through its handle, to the new file `target`.
base::Result<> CopyHeldFile(const HeldFile& source, const base::FilePath& target,
                            internal::WriteChunk write = &::WriteFile) {
  base::ScopedHandle output(CreateFileW(target.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output.IsValid()) return base::Failure{GetLastError(), 0, "cannot create", target};
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source.handle(), buffer.data(), kCopyChunk, &read, nullptr))
      return base::Failure{GetLastError(), 0, "cannot read", source.final_path()};
    if (read == 0) return base::Result<>();
    DWORD written = 0;
    if (!write(output.Get(), buffer.data(), read, &written, nullptr))
      return base::Failure{GetLastError(), 0, "cannot write", target};
    if (written != read) return base::Failure{0, 0, "short write", target};
  }
}

// Copies what the held folder lists into the existing folder `target`.
base::Result<> CopyHeldFolder(const HeldFile& folder, const base::FilePath& target, int depth,
                              internal::WriteChunk write) {
  if (depth > kMaxDepth)
    return base::Failure{0, 0, "too deep for a package", folder.final_path()};
  std::vector<HeldFile::Listed> listed;
  if (!folder.ListFolder(&listed))
    return base::Failure{GetLastError(), 0, "cannot list", folder.final_path()};
  for (const HeldFile::Listed& item : listed) {
    const std::wstring& name = item.name;
    // Shared for reading only: while it is held nobody writes, renames or deletes it.
    HeldFile entry;
    if (!entry.OpenChild(folder, name, GENERIC_READ, FILE_SHARE_READ))
      return base::Failure{GetLastError(), 0, "cannot hold", folder.final_path().Append(name)};
    // The listing's word too: a system that follows a link it was asked to open shows
    // the link only there.
    if (entry.is_reparse_point() || (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return base::Failure{0, 0, "a link", entry.final_path()};
    const base::FilePath copy = target.Append(name);
    base::Result<> copied;
    if (!entry.is_directory()) {
      copied = CopyHeldFile(entry, copy, write);
    } else if (!CreateDirectoryW(copy.value().c_str(), nullptr)) {
      copied = base::Failure{GetLastError(), 0, "cannot create", copy};
    } else {
      copied = CopyHeldFolder(entry, copy, depth + 1, write);
    }
    if (!copied.ok()) return copied;
  }
  return base::Result<>();
}

// Reads the held file `name` of `folder` through its handle when it is a plain file of
// at most `bound` bytes; false (logged) otherwise.
bool ReadBoundedOutput(const HeldFile& folder, const std::wstring& name, size_t bound,
                       std::string* content) {
  HeldFile file;
  if (!file.OpenChild(folder, name, GENERIC_READ, FILE_SHARE_READ)) return false;
  // A system that follows a link it was asked to open itself shows it only by where the
  // handle leads.
  const base::Result<base::FilePath> reached = base::GetFinalPathOfHandle(file.handle());
  LARGE_INTEGER size = {};
  if (file.is_reparse_point() || file.is_directory() || !reached.ok() ||
      base::FilePath::CompareIgnoreCase(reached.value().value(), file.final_path().value()) != 0 ||
      !GetFileSizeEx(file.handle(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > bound) {
    LOG(WARNING) << "Not carrying over " << file.final_path().AsUTF8()
                 << ": not a file of at most " << bound << " bytes";
    return false;
  }
  content->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!content->empty() && (!ReadFile(file.handle(), &(*content)[0],
                                      static_cast<DWORD>(content->size()), &read, nullptr) ||
                            read != content->size())) {
    LOG(WARNING) << "Not carrying over " << file.final_path().AsUTF8() << ": unreadable";
    return false;
  }
  return true;
}

[[nodiscard]] bool WriteAll(const base::FilePath& path, const std::string& content) {
  return base::WriteFile(path, content.data(), static_cast<int>(content.size())) ==
         static_cast<int>(content.size());
}

// The welcome address the user's package folder's include file holds, put into the
// unpacked package's own include file (made when the package has none).
void CarryOverWelcomeUrl(const HeldFile& user_folder, const base::FilePath& package) {
  std::string text;
  if (!ReadBoundedOutput(user_folder, kIncludePrefsName, kIncludePrefsBound, &text)) return;
  const std::unique_ptr<base::Value> user_prefs = base::JsonReader::Read(text);
  const base::Dictionary* user_dictionary = nullptr;
  std::string welcome_url;
  if (!user_prefs || !user_prefs->GetAsDictionary(&user_dictionary) ||
      !user_dictionary->GetString(kWelcomeUrlKey, &welcome_url))
    return;
  // It becomes every account's default: a web page's address, never a file to open.
  if (!IsWebPageAddress(welcome_url)) {
    LOG(WARNING) << "Not carrying the welcome address over: not an http or https address";
    return;
  }
  const base::FilePath target = package.Append(kIncludePrefsName);
  std::string own_text;
  std::unique_ptr<base::Value> own_prefs;
  if (base::ReadFileToString(target, &own_text)) own_prefs = base::JsonReader::Read(own_text);
  base::Dictionary* own_dictionary = nullptr;
  if (!own_prefs || !own_prefs->GetAsDictionary(&own_dictionary)) {
    own_prefs.reset(new base::Dictionary);
    (void)own_prefs->GetAsDictionary(&own_dictionary);  // made as one just now
  }
  own_dictionary->SetString(kWelcomeUrlKey, welcome_url);
  std::string json;
  if (!base::JsonWriter::Write(*own_prefs, &json) || !WriteAll(target, json))
    LOG(WARNING) << "Could not carry the welcome address over to " << target.AsUTF8();
}

// The non-empty lines of a files list; either line break ends one.
std::set<std::string> ListedNames(const std::string& text) {
  std::set<std::string> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) names.insert(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// The names the user's package folder lists that the unpacked package does not: the
// partner files the fetcher added, which no signature covers and which therefore stay
// out. Counted for the statistics only; nothing is read from those files.
int CountPartnerFilesLeftOut(const HeldFile& user_folder, const base::FilePath& package) {
  std::string user_list;
  if (!ReadBoundedOutput(user_folder, kFilesListName, kFilesListBound, &user_list)) return 0;
  std::string own_list;
  if (!base::ReadFileToString(package.Append(kFilesListName), &own_list)) own_list.clear();
  const std::set<std::string> own = ListedNames(own_list);
  int left_out = 0;
  for (const std::string& name : ListedNames(user_list))
    if (own.count(name) == 0) ++left_out;
  return left_out;
}

// What the fetchers added to the user's package folder: carried over as data into
// `taken`'s folder, or, for partner files, counted as left out.
void CarryOverFetcherOutputs(const base::FilePath& user_package, ElevatedPackage* taken) {
  const base::FilePath& package = taken->folder;
  HeldFile folder;
  if (!HoldEntry(user_package, &folder).ok() || !folder.is_directory()) {
    LOG(WARNING) << "Carrying nothing over from " << user_package.AsUTF8();
    return;
  }
  CarryOverWelcomeUrl(folder, package);
  for (const FetcherOutput& output : kCopiedOutputs) {
    std::string content;
    if (!ReadBoundedOutput(folder, output.name, output.bound, &content)) continue;
    if (wcscmp(output.name, kPrefDefaultOverridesName) == 0) {
      // Defaults of every account: none of them may point at this machine's files.
      base::Result<std::string> carried = WithoutLocalFileValues(content);
      if (!carried.ok()) {
        LOG(WARNING) << "Not carrying the preference overrides over: "
                     << base::DescribeFailure(carried.failure());
        continue;
      }
      content = std::move(carried).value();
    }
    if (!WriteAll(package.Append(output.name), content))
      LOG(WARNING) << "Could not carry " << base::FilePath(output.name).AsUTF8() << " over";
  }
  taken->partner_files_left_out = CountPartnerFilesLeftOut(folder, package);
  if (taken->partner_files_left_out > 0) {
    LOG(WARNING) << "Leaving out " << taken->partner_files_left_out
                 << " partner file(s): no signature covers them";
  }
}

// Copies what the held full-package installer `source` holds to `copy` in the
// administrators' folder; the copy is removed when it cannot be made whole.
base::Result<> CopyCandidate(const HeldFile& source, const base::FilePath& copy) {
  if (source.is_directory()) return base::Failure{0, 0, "a folder", source.final_path()};
  const base::Result<> copied = CopyHeldFile(source, copy);
  if (!copied.ok()) base::DeleteFileBestEffort(copy, false);
  return copied;
}

// This installer's own file, when it carries a full package: read from the file its
// image is mapped from, never from whatever now sits at the name it was started with.
// False (the copy removed) when it cannot be held or carries none.
bool CopyOwnPackage(PackageUnpacker* unpacker, const base::FilePath& copy) {
  HeldFile own;
  const base::Result<> held = HoldOwnImage(&own);
  if (!held.ok()) {
    LOG(WARNING) << "Not taking this installer's own package: "
                 << base::DescribeFailure(held.failure());
    return false;
  }
  // Held without delete sharing, the file stays at its final path while it is read.
  if (!unpacker->CarriesPackage(own.final_path())) return false;
  LOG(INFO) << "Taking the package this installer carries, from " << own.final_path().AsUTF8();
  return CopyCandidate(own, copy).ok();
}

// Puts into `copy` the full-package installer to take the package from: this
// installer's own file, else the first download that carries a package.
base::Result<> CopyFullPackage(const base::FilePath& package, PackageUnpacker* unpacker,
                               const base::FilePath& copy) {
  if (CopyOwnPackage(unpacker, copy)) return base::Result<>();
  for (const base::FilePath& candidate : FullPackageCandidates(package)) {
    if (!unpacker->CarriesPackage(candidate)) continue;
    LOG(INFO) << "Taking the package from " << candidate.AsUTF8();
    HeldFile source;
    const base::Result<> held = HoldEntry(candidate, &source);
    if (!held.ok()) return held;
    return CopyCandidate(source, copy);
  }
  return base::Failure{0, 0, "no signed full-package installer carries it", package};
}

// Unpacks the full-package installer copied to `copy` into `package` once the copy,
// held, passed the signer rule `rule` and the version floor.
base::Result<> UnpackVerifiedCopy(const base::FilePath& copy, SignatureRule rule,
                                  PackageUnpacker* unpacker, const base::FilePath& destination,
                                  const base::FilePath& package) {
  // Held while it is checked and unpacked, though only administrators could change it.
  base::ScopedHandle hold;
  if (!HoldVerifiedProgram(copy, rule, &hold))
    return base::Failure{0, 0, "its signature does not pass the signer rule", copy};
  const base::Result<> recent = CheckVersionFloor(copy);
  if (!recent.ok()) return recent;
  if (!CreateDirectoryW(package.value().c_str(), nullptr))
    return base::Failure{GetLastError(), 0, "cannot create", package};
  const base::FilePath archive = destination.Append(kArchiveName);
  const base::Result<> unpacked = unpacker->Unpack(copy, archive, package);
  hold.Close();
  base::DeleteFileBestEffort(archive, false);
  return unpacked;
}

// The copy of the component folder `name` beside `package` in `destination`, in which
// every program file passed the signer rule and is held in `held`, the component's
// installer among them.
base::Result<base::FilePath> CopyVerifiedComponent(
    const base::FilePath& package, const std::pair<std::wstring, std::wstring>& component,
    SignatureRule rule, const base::FilePath& destination, std::vector<HeldProgram>* held) {
  const base::FilePath name(component.second);
  // The names become file and folder names here and in the install folder.
  if (!IsPlainEntryName(component.first) || !IsPlainEntryName(name.value()))
    return base::Failure{0, 0, "its name or folder is not a plain name", name};
  const base::FilePath source = package.StripTrailingSeparators().DirName().Append(name);
  // A missing one is the components step's to report.
  if (GetFileAttributesW(source.value().c_str()) == INVALID_FILE_ATTRIBUTES)
    return base::Failure{GetLastError(), 0, "no such folder beside the package", name};
  if (base::PathExists(destination.Append(name)))
    return base::Failure{0, 0, "a folder of its name is taken already", name};
  base::FilePath copy;
  base::Result<> result = CopyFolderInto(source, destination, &copy);
  // Its libraries and data lie beside the installer, which runs with them: all of the
  // folder is checked, on the copy only administrators can change.
  if (result.ok()) result = HoldVerifiedProgramFiles(copy, rule, held);
  if (result.ok() &&
      !IsHeldProgram(*held, GetComponentInstallerPath(copy, component.first).BaseName())) {
    held->clear();
    result = base::Failure{0, 0, "its installer is not a program file of the folder", copy};
  }
  if (result.ok()) return copy;
  if (!copy.empty() && !base::DeleteFile(copy, true))
    LOG(WARNING) << "Could not remove " << copy.AsUTF8();
  return result.failure();
}

// Copies the components `components` names beside `package` whose folders pass the
// signer rule, holding their program files in `held`; the value naming those copied.
std::wstring CopyComponents(const base::FilePath& package, const std::wstring& components,
                            SignatureRule rule, const base::FilePath& destination,
                            std::vector<HeldProgram>* held) {
  std::wstring copied;
  for (const auto& component : SplitComponentList(components)) {
    std::vector<HeldProgram> programs;
    const base::Result<base::FilePath> copy =
        CopyVerifiedComponent(package, component, rule, destination, &programs);
    // A component left out never fails the installation.
    if (!copy.ok()) {
      LOG(ERROR) << "Leaving out the component " << base::WideToUTF8(component.first) << ": "
                 << base::DescribeFailure(copy.failure()) << " ("
                 << copy.failure().path.AsUTF8() << ")";
      continue;
    }
    for (HeldProgram& program : programs) held->push_back(std::move(program));
    if (!copied.empty()) copied += L"|";
    copied += component.first + L":" + component.second;
  }
  return copied;
}

}  // namespace

std::vector<base::FilePath> FullPackageCandidates(const base::FilePath& package) {
  std::vector<base::FilePath> candidates;
  const std::wstring folder = package.StripTrailingSeparators().value();
  for (int try_number = kDownloadTries - 1; try_number >= 0; --try_number)
    candidates.emplace_back(folder + L"_" + std::to_wstring(try_number) + L".exe");
  return candidates;
}

base::Result<> TakeElevatedPackage(const base::FilePath& package, const std::wstring& components,
                                   SignatureRule rule, PackageUnpacker* unpacker,
                                   const base::FilePath& destination, ElevatedPackage* taken) {
  if (!unpacker) return base::Failure{0, 0, "nothing here can unpack a package", package};
  const base::FilePath copy = destination.Append(kFullPackageName);
  base::Result<> result = CopyFullPackage(package, unpacker, copy);
  if (!result.ok()) return result;
  taken->folder = destination.Append(package.StripTrailingSeparators().BaseName());
  result = UnpackVerifiedCopy(copy, rule, unpacker, destination, taken->folder);
  base::DeleteFileBestEffort(copy, false);
  if (!result.ok()) return result;
  CarryOverFetcherOutputs(package, taken);
  taken->components =
      CopyComponents(package, components, rule, destination, &taken->component_programs);
  return base::Result<>();
}

base::Result<> CopyFolderInto(const base::FilePath& source, const base::FilePath& destination,
                              base::FilePath* copy) {
  return internal::CopyFolderIntoWith(source, destination, copy, &::WriteFile);
}

namespace internal {

base::Result<> CopyFolderIntoWith(const base::FilePath& source, const base::FilePath& destination,
                                  base::FilePath* copy, WriteChunk write) {
  HeldFile folder;
  const base::Result<> held = HoldEntry(source, &folder);
  if (!held.ok()) return held;
  if (!folder.is_directory()) return base::Failure{0, 0, "not a folder", source};
  *copy = destination.Append(folder.final_path().BaseName());
  if (!CreateDirectoryW(copy->value().c_str(), nullptr))
    return base::Failure{GetLastError(), 0, "cannot create", *copy};
  return CopyHeldFolder(folder, *copy, 0, write);
}

}  // namespace internal

}  // namespace installer
