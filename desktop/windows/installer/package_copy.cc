#include "desktop/windows/installer/package_copy.h"

#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/carried_preferences.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/payload_block.h"
#include "desktop/windows/installer/elevated_helper/long_path.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/component_steps.h"
#include "desktop/windows/installer/verification/downloaded_version_check.h"

namespace installer {

namespace {

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
// The most carried over of what the front end's fetchers add to the package folder: data
// the user could have written, never run, never a reason to refuse.
const size_t kTrackingDataBound = 64 * 1024;
const size_t kIncludePrefsBound = 64 * 1024;
// The self-extracting archive the fetcher keeps in a component's folder, after the
// component's name.
const wchar_t kComponentArchiveSuffix[] = L"_sfx.exe";

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
base::Result<> CopyHeldFile(const HeldFile& source, const base::FilePath& target) {
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
    if (!WriteFile(output.Get(), buffer.data(), read, &written, nullptr))
      return base::Failure{GetLastError(), 0, "cannot write", target};
    if (written != read) return base::Failure{0, 0, "short write", target};
  }
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
  std::string tracking_data;
  if (ReadBoundedOutput(folder, kTrackingDataFileName, kTrackingDataBound, &tracking_data) &&
      !WriteAll(package.Append(kTrackingDataFileName), tracking_data)) {
    LOG(WARNING) << "Could not carry " << base::FilePath(kTrackingDataFileName).AsUTF8() << " over";
  }
  // They would become every account's defaults, and nothing proves the server sent them.
  HeldFile overrides;
  if (overrides.OpenChild(folder, kPrefDefaultOverridesFileName, FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    LOG(WARNING) << "Leaving out the preference overrides beside the package: an elevated "
                    "installation takes none";
  }
  taken->partner_files_left_out = CountPartnerFilesLeftOut(folder, package);
  if (taken->partner_files_left_out > 0) {
    LOG(WARNING) << "Leaving out " << taken->partner_files_left_out
                 << " partner file(s): no signature covers them";
  }
}

// Fails unless the user's file `source`, held so that nobody changes it, may be copied
// into the administrators' folder: a file of at most `bound` bytes that passes `rule`.
base::Result<> CheckBeforeCopy(const HeldFile& source, SignatureRule rule, int64_t bound) {
  if (source.is_directory()) return base::Failure{0, 0, "a folder", source.final_path()};
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(source.handle(), &size))
    return base::Failure{GetLastError(), 0, "its size cannot be read", source.final_path()};
  if (size.QuadPart > bound) {
    return base::Failure{0, 0,
                         "it is larger than the " + std::to_string(bound) +
                             " bytes taken of such a file",
                         source.final_path()};
  }
  if (!CheckHeldFileSignature(source.final_path(), rule).ok())
    return base::Failure{0, 0, "its signature does not pass the signer rule", source.final_path()};
  return base::Result<>();
}

// Copies what the held full-package installer `source` holds to `copy` in the
// administrators' folder once it passed CheckBeforeCopy; the copy is removed when it
// cannot be made whole.
base::Result<> CopyCandidate(const HeldFile& source, SignatureRule rule, int64_t bound,
                             const base::FilePath& copy) {
  base::Result<> result = CheckBeforeCopy(source, rule, bound);
  if (!result.ok()) return result;
  // Held without write sharing since its size was read, it cannot have grown.
  result = CopyHeldFile(source, copy);
  if (!result.ok()) base::DeleteFileBestEffort(copy, false);
  return result;
}

// This installer's own file, when it carries a full package: read from the file its
// image is mapped from, never from whatever now sits at the name it was started with.
// False (the copy removed) when it cannot be held or carries none.
bool CopyOwnPackage(PackageUnpacker* unpacker, SignatureRule rule, int64_t bound,
                    const base::FilePath& copy) {
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
  const base::Result<> copied = CopyCandidate(own, rule, bound, copy);
  if (!copied.ok()) {
    LOG(WARNING) << "Not taking this installer's own package: "
                 << base::DescribeFailure(copied.failure());
  }
  return copied.ok();
}

// Puts into `copy` the full-package installer to take the package from: this
// installer's own file, else the first download that carries a package.
base::Result<> CopyFullPackage(const base::FilePath& package, PackageUnpacker* unpacker,
                               SignatureRule rule, int64_t bound, const base::FilePath& copy) {
  if (CopyOwnPackage(unpacker, rule, bound, copy)) return base::Result<>();
  for (const base::FilePath& candidate : FullPackageCandidates(package)) {
    if (!unpacker->CarriesPackage(candidate)) continue;
    LOG(INFO) << "Taking the package from " << candidate.AsUTF8();
    HeldFile source;
    const base::Result<> held = HoldEntry(candidate, &source);
    if (!held.ok()) return held;
    return CopyCandidate(source, rule, bound, copy);
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

class SystemWaiter : public ArchiveWaiter {
 public:
  bool WaitForEnd(const base::Process& process, base::TimeDelta within,
                  int32_t* exit_code) const override {
    return process.WaitForExitWithTimeout(within, exit_code);
  }
};

// Runs the archive `archive` in `folder` in a job of its own and waits up to `bounds`' run
// time for its end, with its exit code in `exit_code`. Whether it ended or not, every
// process of its job has ended when this returns: nothing it started outlives the step,
// and its folder can go. The job ends them as well when its last handle goes, should this
// process end first.
base::Result<> RunArchiveWithin(const base::FilePath& archive, const base::FilePath& folder,
                                const ElevatedTakeBounds& bounds, int32_t* exit_code) {
  const base::ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job.IsValid() || !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation,
                                                 &limits, sizeof(limits))) {
    return base::Failure{GetLastError(), 0, "no job can hold its archive", archive};
  }
  base::LaunchOptions options;
  // Whatever it unpacks lands in the folder only administrators can change.
  options.current_directory = folder;
  options.job_handle = job.Get();
  const base::Process process = base::LaunchProcess(base::CommandLine(archive), options);
  if (!process.IsValid())
    return base::Failure{GetLastError(), 0, "its archive cannot be started", archive};
  const base::TimeDelta bound = bounds.component_archive_run;
  const bool ended = bounds.archive_waiter->WaitForEnd(process, bound, exit_code);
  const std::string late =
      "its archive did not end within " + std::to_string(bound.InMilliseconds()) + " ms";
  if (!base::EndJobProcesses(job.Get(), ERROR_TIMEOUT)) {
    return base::Failure{GetLastError(), 0,
                         ended ? "what its archive started cannot be ended"
                               : late + " and cannot be ended",
                         archive};
  }
  if (!ended) return base::Failure{0, 0, late, archive};
  return base::Result<>();
}

// Unpacks the component `name` into the new folder `folder` from its archive, held in
// the user's component folder as `source` and checked by CheckBeforeCopy: the archive is
// copied there, held, checked by `rule` again, refused when it is an installer of this
// product, and run there within `bounds`; the installer it unpacked must pass `rule` and
// the version floor, and is held in `installer`.
base::Result<> UnpackVerifiedComponent(const HeldFile& source, const std::wstring& name,
                                       SignatureRule rule, const ElevatedTakeBounds& bounds,
                                       const base::FilePath& folder,
                                       base::ScopedHandle* installer) {
  const base::FilePath archive = folder.Append(name + kComponentArchiveSuffix);
  base::Result<> result = CopyHeldFile(source, archive);
  if (!result.ok()) return result;
  // Held while it runs, though only administrators could change it.
  base::ScopedHandle hold;
  if (!HoldVerifiedProgram(archive, rule, &hold))
    return base::Failure{0, 0, "its archive does not pass the signer rule", archive};
  result = RefuseProductPayload(hold.Get(), archive);
  if (!result.ok()) return result;
  int32_t exit_code = -1;
  result = RunArchiveWithin(archive, folder, bounds, &exit_code);
  if (!result.ok()) return result;
  if (exit_code != 0) {
    return base::Failure{0, 0, "its archive failed with " + std::to_string(exit_code), archive};
  }
  const base::FilePath program = GetComponentInstallerPath(folder, name);
  if (!HoldVerifiedProgram(program, rule, installer))
    return base::Failure{0, 0, "the installer its archive unpacked does not pass the signer rule",
                         program};
  return CheckVersionFloor(program);
}

// The folder of the component `component` (name, folder beside `package`) made in
// `destination` from the component's signed archive alone, which the fetcher kept in
// that folder: nothing else the user's folder holds is read. Its installer is held in
// `installer`.
base::Result<base::FilePath> TakeVerifiedComponent(
    const base::FilePath& package, const std::pair<std::wstring, std::wstring>& component,
    SignatureRule rule, const ElevatedTakeBounds& bounds, const base::FilePath& destination,
    base::ScopedHandle* installer) {
  const base::FilePath name(component.second);
  // The names become file and folder names here and in the install folder.
  if (!IsBareFileName(component.first) || !IsBareFileName(name.value()))
    return base::Failure{0, 0, "its name or folder is not a plain name", name};
  const base::FilePath archive = package.StripTrailingSeparators().DirName().Append(name).Append(
      component.first + kComponentArchiveSuffix);
  HeldFile source;
  base::Result<> result = HoldEntry(archive, &source);
  if (result.ok()) result = CheckBeforeCopy(source, rule, bounds.component_archive_bytes);
  if (!result.ok()) return result.failure();
  const base::FilePath folder = destination.Append(name);
  if (!CreateDirectoryW(folder.value().c_str(), nullptr)) {
    return base::Failure{GetLastError(), 0, "a folder of its name cannot be made", folder};
  }
  result = UnpackVerifiedComponent(source, component.first, rule, bounds, folder, installer);
  if (result.ok()) return folder;
  installer->Close();
  if (!base::DeleteFile(folder, true)) LOG(WARNING) << "Could not remove " << folder.AsUTF8();
  return result.failure();
}

// Makes the components `components` names beside `package` whose archives pass the
// signer rule, holding their installers in `held`; the value naming those made.
std::wstring TakeComponents(const base::FilePath& package, const std::wstring& components,
                            SignatureRule rule, const ElevatedTakeBounds& bounds,
                            const base::FilePath& destination,
                            std::vector<base::ScopedHandle>* held) {
  std::wstring taken;
  for (const auto& component : SplitComponentList(components)) {
    base::ScopedHandle installer;
    const base::Result<base::FilePath> folder =
        TakeVerifiedComponent(package, component, rule, bounds, destination, &installer);
    // A component left out never fails the installation.
    if (!folder.ok()) {
      LOG(ERROR) << "Leaving out the component " << base::WideToUTF8(component.first) << ": "
                 << base::DescribeFailure(folder.failure()) << " ("
                 << folder.failure().path.AsUTF8() << ")";
      continue;
    }
    held->push_back(std::move(installer));
    if (!taken.empty()) taken += L"|";
    taken += component.first + L":" + component.second;
  }
  return taken;
}

}  // namespace

const ArchiveWaiter& SystemArchiveWaiter() {
  static const SystemWaiter waiter;
  return waiter;
}

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
  return TakeElevatedPackage(package, components, rule, unpacker, destination,
                             ElevatedTakeBounds(), taken);
}

base::Result<> TakeElevatedPackage(const base::FilePath& package, const std::wstring& components,
                                   SignatureRule rule, PackageUnpacker* unpacker,
                                   const base::FilePath& destination,
                                   const ElevatedTakeBounds& bounds, ElevatedPackage* taken) {
  if (!unpacker) return base::Failure{0, 0, "nothing here can unpack a package", package};
  const base::FilePath copy = destination.Append(kFullPackageName);
  base::Result<> result =
      CopyFullPackage(package, unpacker, rule, bounds.full_package_bytes, copy);
  if (!result.ok()) return result;
  taken->folder = destination.Append(package.StripTrailingSeparators().BaseName());
  result = UnpackVerifiedCopy(copy, rule, unpacker, destination, taken->folder);
  base::DeleteFileBestEffort(copy, false);
  if (!result.ok()) return result;
  CarryOverFetcherOutputs(package, taken);
  taken->components =
      TakeComponents(package, components, rule, bounds, destination, &taken->component_programs);
  return base::Result<>();
}

}  // namespace installer
