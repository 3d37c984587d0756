// An allocator for the 7z decoder's output that keeps the decoded data in a memory-mapped
// temporary file (in the destination folder) instead of on the heap, so a package-sized
// block does not need package-sized memory. Falls back to the heap when the file cannot
// be made or mapped.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_FILE_ALLOCATOR_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_FILE_ALLOCATOR_H_

#include <windows.h>

#include <stddef.h>

#include "base/files/file_path.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "lzma/7zTypes.h"

namespace installer {

// The ISzAlloc base comes first, so the SDK sees the two function pointers.
class MappedFileAllocator : public ISzAlloc {
 public:
  // How views are mapped. kReadOnly (for tests): the first write into a view faults as a
  // write to a mapped file on a full disk does.
  enum class ViewAccess { kReadWrite, kReadOnly };

  // Creates the temporary file in |folder|; it is deleted when the allocator goes.
  explicit MappedFileAllocator(const base::FilePath& folder,
                               ViewAccess access = ViewAccess::kReadWrite);
  ~MappedFileAllocator();
  MappedFileAllocator(const MappedFileAllocator&) = delete;
  MappedFileAllocator& operator=(const MappedFileAllocator&) = delete;

  [[nodiscard]] void* Allocate(size_t size);
  void Free(void* address);
  // True when |address| lies inside the current view.
  bool Contains(const void* address) const;
  // True for a fault inside the current view as a full disk makes it while the decoder
  // writes: an in-page error (0xC0000006; |status| gets its status code) or, as Wine
  // reports it, an access violation (|status| gets 0xC0000005).
  bool IsPagingErrorInView(const EXCEPTION_RECORD& record, DWORD* status) const;
  bool has_file() const { return file_.IsValid(); }

 private:
  static void* AllocateThunk(ISzAllocPtr self, size_t size);
  static void FreeThunk(ISzAllocPtr self, void* address);
  void CloseView();

  base::FilePath temp_path_;
  base::ScopedHandle file_;
  base::ScopedHandle mapping_;
  base::ScopedMappedView view_;
  size_t view_size_ = 0;
  const ViewAccess access_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAPPED_FILE_ALLOCATOR_H_
