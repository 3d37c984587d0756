#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"

#include <windows.h>

#include <sddl.h>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"

namespace installer {

namespace {

// Owned by the Administrators, full control for them and the system only, inherited by
// what is put inside, nothing inherited from the parent.
const wchar_t kAdminOnlySecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

}  // namespace

AdminOnlyFolder::~AdminOnlyFolder() {
  if (!path_.empty() && !base::DeleteFile(path_, true))
    LOG(WARNING) << "Could not remove " << path_.AsUTF8();
}

bool AdminOnlyFolder::Create() {
  base::FilePath windows;
  if (!base::PathRegistry::Get(base::DIR_WINDOWS, &windows)) {
    LOG(ERROR) << "Cannot find the Windows folder";
    return false;
  }
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlySecurity, SDDL_REVISION_1,
                                                            &raw_descriptor, nullptr)) {
    PLOG(ERROR) << "Cannot build the security of an administrators' folder";
    return false;
  }
  base::ScopedLocalAlloc<> descriptor(raw_descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw_descriptor, FALSE};
  // A random name that must be new: a folder made beforehand by someone else is never
  // taken.
  const base::FilePath folder =
      windows.Append(L"Temp").Append(L"VelumInstaller-" + base::UTF8ToWide(base::GenerateGuid()));
  if (!CreateDirectoryW(folder.value().c_str(), &attributes)) {
    PLOG(ERROR) << "Cannot create " << folder.AsUTF8();
    return false;
  }
  path_ = folder;
  return true;
}

bool AdminOnlyFolder::CopyIn(const base::FilePath& source, const wchar_t* name,
                             base::FilePath* copy) {
  *copy = path_.Append(name);
  // A plain copy takes the folder's inherited access list, not the source's.
  if (path_.empty() || !CopyFileW(source.value().c_str(), copy->value().c_str(), TRUE)) {
    PLOG(ERROR) << "Cannot copy " << source.AsUTF8() << " to " << copy->AsUTF8();
    return false;
  }
  return true;
}

bool AdminOnlyFolder::WriteIn(const std::string& data, const wchar_t* name,
                              base::FilePath* file) {
  *file = path_.Append(name);
  if (path_.empty() ||
      base::WriteFile(*file, data.data(), static_cast<int>(data.size())) !=
          static_cast<int>(data.size())) {
    LOG(ERROR) << "Cannot write " << file->AsUTF8();
    return false;
  }
  return true;
}

}  // namespace installer
