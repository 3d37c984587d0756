// The package as an elevated installer may read it. The user's unpacked package folder is
// never read: the package is taken out of a full-package installer file (this installer's
// own, read from the file its image is mapped from, or the one the front end downloaded
// beside the package folder), copied through held handles into a folder only
// administrators can change, and there, held, checked by the signer rule of what an
// elevated installer starts and by the version floor (no older than this installer), then
// unpacked. What the front end's fetchers added to the package folder (the welcome
// address, the tracking data, the preference overrides) is carried over as data, bounded,
// without preference values that name local files and with the welcome address only when
// it is a web page's; component folders beside it are copied held, and a component whose
// folder holds a program file that fails the signer rule is left out.
//
//   AdminOnlyFolder folder;
//   ElevatedPackage package;
//   if (folder.Create() &&
//       TakeElevatedPackage(user_package, components, ThisBuildSignatureRule(), unpacker,
//                           folder.path(), &package).ok())
//     Run(package.folder.Append(L"installer.exe"));
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/elevated_helper/verified_folder.h"
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
  // The "components" value that names only the components copied.
  std::wstring components;
  // Every program file of those components, verified and held: the package's installer
  // runs them, so they are let go only once it has ended.
  std::vector<HeldProgram> component_programs;
  // The partner files the fetcher listed in the user's package folder: not installed,
  // since no signature covers them.
  int partner_files_left_out = 0;
};

// Fills `destination` (a new folder only administrators can change) with the package
// of the user's package folder `package` as described above. Fails, with the reason,
// when no candidate carries a package, or the copy fails `rule`, is older than this
// installer, or cannot be unpacked.
[[nodiscard]] base::Result<> TakeElevatedPackage(const base::FilePath& package,
                                                 const std::wstring& components,
                                                 SignatureRule rule, PackageUnpacker* unpacker,
                                                 const base::FilePath& destination,
                                                 ElevatedPackage* taken);

// Copies the folder `source` with all it holds into `destination` under the folder's
// own name, each entry held against writes, renames and links while it is copied;
// `copy` receives the copy. Fails when an entry is a link, is reached through one, or
// cannot be held or copied, or the tree is deeper than a package's.
[[nodiscard]] base::Result<> CopyFolderInto(const base::FilePath& source,
                                            const base::FilePath& destination,
                                            base::FilePath* copy);

namespace internal {

// Writes a piece of a copied file: ::WriteFile, or a test's.
using WriteChunk = BOOL (*)(HANDLE file, const void* data, DWORD size, DWORD* written,
                            OVERLAPPED* overlapped);

// CopyFolderInto writing with `write`.
[[nodiscard]] base::Result<> CopyFolderIntoWith(const base::FilePath& source,
                                                const base::FilePath& destination,
                                                base::FilePath* copy, WriteChunk write);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_
