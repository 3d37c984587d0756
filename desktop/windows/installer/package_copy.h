// The package as an elevated installer may read it. The user's unpacked package folder is
// never read: the package is taken out of a full-package installer file (this installer's
// own, read from the file its image is mapped from, or the one the front end downloaded
// beside the package folder), copied through held handles into a folder only
// administrators can change, and there, held, checked by the signer rule of what an
// elevated installer starts and by the version floor (no older than this installer), then
// unpacked. Nothing reaches that folder before the signer rule held on the user's file,
// held, nor a file larger than its kind's bound. Of what the front end's fetchers added to
// the package folder, the welcome
// address (only a web page's) and the tracking data are carried over as bounded data; the
// preference overrides are left out. A component's folder is made there from its archive
// alone, the self-extracting "<name>_sfx.exe" the fetcher keeps in the component's folder
// beside the package: copied held, checked by the signer rule and run there, in a job of
// its own, for a bounded time (an archive that carries this product's payload, such as
// its own installer, never runs); what the archive started in its job is ended once it
// has ended, and the job ends them too should the elevated process end first. A component
// whose archive is missing, fails or outlives that time (it and what it started are
// ended), or whose installer fails the signer rule or the version floor, is left out.
//
//   AdminOnlyFolder folder;
//   ElevatedPackage package;
//   if (folder.Create() &&
//       TakeElevatedPackage(user_package, components, ThisBuildSignatureRule(), unpacker,
//                           folder.path(), &package).ok())
//     Run(package.folder.Append(L"installer.exe"));
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "base/result.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace installer {

// Takes the package archive out of a full-package installer file; the acquisition code
// implements it, the engine only calls it.
class PackageUnpacker {
 public:
  // Whether `file` is an installer that carries a full package.
  virtual bool CarriesPackage(const base::FilePath& file) = 0;
  // Unpacks the package `file` carries into the existing, empty folder `folder`, writing
  // its archive to `archive` on the way.
  [[nodiscard]] virtual base::Result<> Unpack(const base::FilePath& file,
                                              const base::FilePath& archive,
                                              const base::FilePath& folder) = 0;

 protected:
  ~PackageUnpacker() = default;
};

// The downloads that may hold the package of the unpacked folder `package`, after this
// installer's own file: those the fetcher names after the package folder
// ("<folder>_<try>.exe"), latest try first.
std::vector<base::FilePath> FullPackageCandidates(const base::FilePath& package);

struct ElevatedPackage {
  // The unpacked package in the administrators' folder, under the user's package
  // folder's name.
  base::FilePath folder;
  // The "components" value that names only the components taken.
  std::wstring components;
  // The installers of those components, verified and held: the package's installer runs
  // them, so they are let go only once it has ended.
  std::vector<base::ScopedHandle> component_programs;
  // The partner files the fetcher listed in the user's package folder: not installed,
  // since no signature covers them.
  int partner_files_left_out = 0;
};

// How the step waits for a component's archive: the system's way, or a test's that
// watches the waits.
class ArchiveWaiter {
 public:
  // Waits up to `within` for `process` to end; true, with its exit code, once it has.
  [[nodiscard]] virtual bool WaitForEnd(const base::Process& process, base::TimeDelta within,
                                        int32_t* exit_code) const = 0;

 protected:
  ~ArchiveWaiter() = default;
};

const ArchiveWaiter& SystemArchiveWaiter();

// What the elevated side takes at most of files a standard user could have placed.
struct ElevatedTakeBounds {
  // A full-package installer: a browser's is 100 to 150 MB, so this leaves several times
  // its growth.
  int64_t full_package_bytes = int64_t{1} << 30;
  // A component's self-extracting archive: a companion program's is a few MB to some
  // tens of MB.
  int64_t component_archive_bytes = int64_t{256} << 20;
  // How long a component's archive may run: one unpacks in seconds, also on a slow disk.
  base::TimeDelta component_archive_run = base::TimeDelta::FromSeconds(5 * 60);
  const ArchiveWaiter* archive_waiter = &SystemArchiveWaiter();
};

// Fills `destination` (a new folder only administrators can change) with the package
// of the user's package folder `package` as described above. Fails, with the reason,
// when no candidate carries a package, or it is larger than its bound, fails `rule`, is
// older than this installer, or cannot be unpacked.
[[nodiscard]] base::Result<> TakeElevatedPackage(const base::FilePath& package,
                                                 const std::wstring& components,
                                                 SignatureRule rule, PackageUnpacker* unpacker,
                                                 const base::FilePath& destination,
                                                 ElevatedPackage* taken);
// The same within `bounds` rather than the product's.
[[nodiscard]] base::Result<> TakeElevatedPackage(const base::FilePath& package,
                                                 const std::wstring& components,
                                                 SignatureRule rule, PackageUnpacker* unpacker,
                                                 const base::FilePath& destination,
                                                 const ElevatedTakeBounds& bounds,
                                                 ElevatedPackage* taken);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_
