#include "desktop/windows/installer/service/held_transfer_operations.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/held_delete_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {

namespace {

// Logs why `path` is not written: a link (or a file) where a folder or the name should be.
void LogRefusal(const base::FilePath& path, const base::Failure& failure) {
  if (failure.kind == kHeldLink) {
    LOG(WARNING) << "Not writing " << path.AsUTF8() << ", reached through a link: "
                 << failure.text;
  } else {
    LOG(ERROR) << base::DescribeFailure(failure);
  }
}

// Makes `destination`'s place ready through `nested`, as a copy or a move over it needs:
// its missing folders made, whatever is at its name set aside (a link as itself), and
// *folder its held folder.
[[nodiscard]] bool PrepareDestination(const std::shared_ptr<HeldTree>& tree,
                                      const base::FilePath& destination, Transaction& nested,
                                      const HeldFile** folder) {
  if (!nested.Execute(std::make_unique<HeldFolderOperation>(tree, destination.DirName())) ||
      !nested.Execute(std::make_unique<HeldDeleteOperation>(tree, destination, false, false)))
    return false;
  const base::Result<> held = tree->HoldFolder(destination.DirName(), folder);
  if (!held.ok()) LogRefusal(destination, held.failure());
  return held.ok();
}

// Writes what `source` holds into the new `copy`, with its attributes (never read-only:
// a read-only copy would only be in the way of the next upgrade) and its last write time.
[[nodiscard]] bool WriteCopy(HANDLE source, const HeldFile& copy) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return false;
    if (read == 0) break;
    DWORD written = 0;
    if (!WriteFile(copy.handle(), buffer.data(), read, &written, nullptr)) return false;
    if (written != read) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
  }
  FILE_BASIC_INFO basic = {};
  if (!GetFileInformationByHandleEx(source, FileBasicInfo, &basic, sizeof(basic))) return false;
  FILE_BASIC_INFO copied = {};
  copied.LastWriteTime = basic.LastWriteTime;
  copied.FileAttributes = basic.FileAttributes & ~(FILE_ATTRIBUTE_READONLY |
                                                   FILE_ATTRIBUTE_DIRECTORY |
                                                   FILE_ATTRIBUTE_REPARSE_POINT);
  if (copied.FileAttributes == 0) copied.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(copy.handle(), FileBasicInfo, &copied, sizeof(copied)) !=
         FALSE;
}

}  // namespace

HeldFolderOperation::HeldFolderOperation(std::shared_ptr<HeldTree> tree,
                                         const base::FilePath& folder, bool* made)
    : tree_(std::move(tree)), folder_(folder.StripTrailingSeparators()), made_folder_(made) {}

HeldFolderOperation::~HeldFolderOperation() = default;

bool HeldFolderOperation::Do(Transaction& /*nested*/) {
  VLOG(1) << "Attempting to create folder " << folder_.value();
  if (!tree_) {
    LOG(ERROR) << "Failed folder creation";
    return false;
  }
  const HeldFile* held = nullptr;
  const base::Result<> result = tree_->MakeFolder(folder_, &made_, &held);
  if (made_folder_) *made_folder_ = !made_.empty() && made_.back() == folder_;
  if (!result.ok()) {
    LogRefusal(folder_, result.failure());
    LOG(ERROR) << "Failed folder creation";
    return false;
  }
  return true;
}

void HeldFolderOperation::Rollback() {
  // Deepest first; whatever was put into one meanwhile keeps it and the folders above.
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    if (!tree_->RemoveFolderIfEmpty(*it)) break;
  }
  made_.clear();
}

HeldCopyOperation::HeldCopyOperation(std::shared_ptr<HeldTree> tree,
                                     const base::FilePath& source,
                                     const base::FilePath& destination)
    : tree_(std::move(tree)), source_(source), destination_(destination) {}

HeldCopyOperation::~HeldCopyOperation() = default;

bool HeldCopyOperation::Do(Transaction& nested) {
  VLOG(1) << "Copying " << source_.value() << " to " << destination_.value();
  const HeldFile* folder = nullptr;
  if (!PrepareDestination(tree_, destination_, nested, &folder)) return false;
  base::ScopedHandle source(CreateFileW(source_.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                        nullptr));
  HeldFile copy;
  if (!source.IsValid() ||
      !copy.CreateChildFile(*folder, destination_.BaseName().value(),
                            GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0)) {
    PLOG(ERROR) << "File copy failed";
    return false;
  }
  const uint64_t index = WriteCopy(source.Get(), copy) ? FileIndexOf(copy.handle()) : 0;
  if (index == 0) {
    PLOG(ERROR) << "File copy failed";
    // Its own new file, cut short: gone as its handle closes.
    if (!copy.DeleteOnClose())
      PLOG(ERROR) << "Could not remove the partial " << destination_.AsUTF8();
    return false;
  }
  copy_index_ = index;
  VLOG(1) << "File copied successfully";
  return true;
}

void HeldCopyOperation::Rollback() {
  if (copy_index_ == 0) return;
  const HeldFile* folder = nullptr;
  HeldFile copy;
  // Only the very file made: whatever took its name since stays.
  if (tree_->HoldFolder(destination_.DirName(), &folder).ok() &&
      HoldChild(*folder, destination_, DELETE | FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false, false, &copy)
          .ok() &&
      FileIndexOf(copy.handle()) == copy_index_ && copy.DeleteOnClose()) {
    copy_index_ = 0;
    return;
  }
  LOG(ERROR) << "Could not remove the copy " << destination_.AsUTF8();
}

HeldMoveOperation::HeldMoveOperation(std::shared_ptr<HeldTree> tree,
                                     const base::FilePath& source,
                                     const base::FilePath& destination)
    : tree_(std::move(tree)), source_(source), destination_(destination) {}

HeldMoveOperation::~HeldMoveOperation() = default;

bool HeldMoveOperation::Do(Transaction& nested) {
  VLOG(1) << "Moving " << source_.value() << " to " << destination_.value();
  if (!tree_) {
    LOG(ERROR) << "File move failed";
    return false;
  }
  const HeldFile* from = nullptr;
  HeldFile file;
  const base::Result<> held = tree_->HoldFile(
      source_, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, &from, &file);
  if (!held.ok()) {
    LogRefusal(source_, held.failure());
    LOG(ERROR) << "File move failed";
    return false;
  }
  const HeldFile* to = nullptr;
  if (!PrepareDestination(tree_, destination_, nested, &to)) return false;
  const uint64_t index = FileIndexOf(file.handle());
  if (index == 0 || !file.MoveInto(*to, destination_.BaseName().value())) {
    PLOG(ERROR) << "File move failed";
    return false;
  }
  // Let go: a handle that may delete would keep every reader that shares no deletion out.
  moved_index_ = index;
  VLOG(1) << "File moved successfully";
  return true;
}

void HeldMoveOperation::Rollback() {
  if (moved_index_ == 0) return;
  const HeldFile* from = nullptr;
  const HeldFile* to = nullptr;
  HeldFile file;
  // Only the very file moved: whatever took its name since stays.
  if (tree_->HoldFolder(source_.DirName(), &from).ok() &&
      tree_->HoldFolder(destination_.DirName(), &to).ok() &&
      HoldNameOrItsLink(*to, destination_, DELETE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &file)
          .ok() &&
      FileIndexOf(file.handle()) == moved_index_ &&
      file.MoveInto(*from, source_.BaseName().value())) {
    moved_index_ = 0;
    return;
  }
  PLOG(ERROR) << "Could not move " << destination_.AsUTF8() << " back to " << source_.AsUTF8();
}

}  // namespace installer
