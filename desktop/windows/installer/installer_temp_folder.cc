#include "desktop/windows/installer/installer_temp_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <limits.h>
#include <stdint.h>

#include <algorithm>
#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/win/pe_image.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/path_names.h"

namespace installer {

namespace {

// Whether a copy of `test_executable` starts inside `folder`; the copy never stays.
bool CanRunProgramsIn(const base::FilePath& folder, const base::FilePath& test_executable) {
  const base::FilePath copy = folder.Append(test_executable.BaseName());
  if (!CopyExecutableImage(test_executable, copy)) {
    LOG(WARNING) << "Cannot copy the test program into " << folder.value();
    return false;
  }
  base::CommandLine command_line(copy);
  command_line.AppendSwitch(switches::kVersion);
  base::LaunchOptions options;
  options.wait = true;
  options.start_hidden = true;
  // The copy answers "--version" on its standard output: into the null device, never onto
  // the console the installer was started from.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  base::ScopedHandle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                             OPEN_EXISTING, 0, nullptr));
  base::HandlesToInheritVector handles;
  if (null_device.IsValid()) {
    handles.push_back(null_device.Get());
    options.stdin_handle = options.stdout_handle = options.stderr_handle = null_device.Get();
  }
  options.handles_to_inherit = &handles;
  const bool started = base::LaunchProcess(command_line, options).IsValid();
  if (!base::DeleteFile(copy, false))
    LOG(WARNING) << "Cannot delete the test program copy " << copy.value();
  return started;
}

[[nodiscard]] bool TryBase(const base::FilePath& base, const base::FilePath& folder_name,
                           const base::FilePath& test_executable, base::FilePath* folder) {
  const base::FilePath candidate = base.Append(folder_name.value());
  if (!base::DirectoryExists(candidate) && !base::CreateDirectory(candidate)) {
    LOG(WARNING) << "Cannot create the installer folder " << candidate.value();
    return false;
  }
  if (test_executable.empty() || CanRunProgramsIn(candidate, test_executable)) {
    *folder = candidate;
    return true;
  }
  // Only an empty folder goes: an earlier run's files are not ours to delete.
  RemoveDirectoryW(candidate.value().c_str());
  return false;
}

}  // namespace

bool CopyExecutableImage(const base::FilePath& from, const base::FilePath& to) {
  // The headers and the section table of any image the linker makes fit in here.
  const int kHeadersRead = 64 * 1024;
  base::File file(from, base::File::FLAG_OPEN | base::File::FLAG_READ);
  const int64_t length = file.GetLength();
  std::string image(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(length, 0),
                                                          kHeadersRead)), '\0');
  uint64_t end = 0;
  if (length <= 0 ||
      file.ReadAtCurrentPos(&image[0], static_cast<int>(image.size())) !=
          static_cast<int>(image.size()) ||
      !base::ReadPeImageEnd(reinterpret_cast<const uint8_t*>(image.data()), image.size(), &end) ||
      end > static_cast<uint64_t>(length) || end > static_cast<uint64_t>(INT_MAX)) {
    // Not an image this reads: the whole file goes, and the probe tells whether it runs.
    file.Close();
    return base::CopyFile(from, to);
  }
  const size_t read = image.size();
  image.resize(static_cast<size_t>(end));
  if (end > read && file.ReadAtCurrentPos(&image[read], static_cast<int>(end - read)) !=
                        static_cast<int>(end - read)) {
    LOG(WARNING) << "Cannot read the image of " << from.value();
    return false;
  }
  return base::WriteFile(to, image.data(), static_cast<int>(image.size())) ==
         static_cast<int>(image.size());
}

std::vector<base::FilePath> GetInstallerTempFolderBases() {
  std::vector<base::FilePath> bases;
  base::FilePath path;
  if (base::PathRegistry::Get(base::DIR_TEMP, &path))
    bases.push_back(path);
  // No folder to fall back on before Vista: the Downloads folder is skipped there.
  if (GetKnownFolderPath(FOLDERID_Downloads, -1, &path, true))
    bases.push_back(path);
  if (base::PathRegistry::Get(base::DIR_HOME, &path))
    bases.push_back(path);
  if (base::PathRegistry::Get(base::DIR_EXE, &path))
    bases.push_back(path);
  return bases;
}

bool ObtainInstallerTempFolderFrom(const std::vector<base::FilePath>& bases,
                                   const base::FilePath& folder_name,
                                   const base::FilePath& test_executable,
                                   base::FilePath* folder) {
  for (const base::FilePath& base : bases) {
    if (!base.empty() && TryBase(base, folder_name, test_executable, folder))
      return true;
  }
  return false;
}

bool ObtainInstallerTempFolder(const base::FilePath& folder_name,
                               const base::FilePath& test_executable, base::FilePath* folder) {
  return ObtainInstallerTempFolderFrom(GetInstallerTempFolderBases(), folder_name,
                                       test_executable, folder);
}

bool ObtainInstallerTempFolderUnder(const base::FilePath& folder_name,
                                    const base::FilePath& test_executable,
                                    base::FilePath* folder, int path_key) {
  base::FilePath base;
  if (!base::PathRegistry::Get(path_key, &base))
    return false;
  return ObtainInstallerTempFolderFrom({base}, folder_name, test_executable, folder);
}

}  // namespace installer
