#include "desktop/windows/installer/package_fetcher/mapped_file_allocator.h"

#include "base/files/file_util.h"
#include "lzma/7zAlloc.h"

namespace installer {

MappedFileAllocator::MappedFileAllocator(const base::FilePath& folder, ViewAccess access)
    : access_(access) {
  Alloc = &AllocateThunk;
  ISzAlloc::Free = &FreeThunk;
  if (!base::CreateTemporaryFileInDir(folder, &temp_path_)) return;
  // Delete-on-close: the file vanishes with the allocator, even after a crash.
  file_.Set(::CreateFileW(temp_path_.value().c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file_.IsValid()) base::DeleteFileBestEffort(temp_path_, false);
}

MappedFileAllocator::~MappedFileAllocator() {
  CloseView();
  file_.Close();
}

void* MappedFileAllocator::Allocate(size_t size) {
  if (size == 0) return nullptr;
  if (file_.IsValid() && !view_.IsValid()) {
    LARGE_INTEGER length;
    length.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFilePointerEx(file_.Get(), length, nullptr, FILE_BEGIN) &&
        ::SetEndOfFile(file_.Get())) {
      const bool read_only = access_ == ViewAccess::kReadOnly;
      mapping_.Set(::CreateFileMappingW(file_.Get(), nullptr,
                                        read_only ? PAGE_READONLY : PAGE_READWRITE, 0, 0,
                                        nullptr));
      if (mapping_.IsValid()) {
        view_.Reset(::MapViewOfFile(mapping_.Get(), read_only ? FILE_MAP_READ : FILE_MAP_WRITE,
                                    0, 0, 0));
        if (view_.IsValid()) {
          view_size_ = size;
          return view_.Get();
        }
        mapping_.Close();
      }
    }
  }
  return SzAlloc(nullptr, size);
}

void MappedFileAllocator::Free(void* address) {
  if (!address) return;
  if (view_.IsValid() && address == view_.Get()) {
    CloseView();
    return;
  }
  SzFree(nullptr, address);
}

bool MappedFileAllocator::Contains(const void* address) const {
  const char* start = static_cast<const char*>(view_.Get());
  const char* at = static_cast<const char*>(address);
  return view_.IsValid() && at >= start && at < start + view_size_;
}

bool MappedFileAllocator::IsPagingErrorInView(const EXCEPTION_RECORD& record,
                                              DWORD* status) const {
  const bool in_page = record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR &&
                       record.NumberParameters >= 3;
  const bool access = record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                      record.NumberParameters >= 2;
  if (!in_page && !access) return false;
  if (!Contains(reinterpret_cast<const void*>(record.ExceptionInformation[1]))) return false;
  *status = in_page ? static_cast<DWORD>(record.ExceptionInformation[2])
                    : static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION);
  return true;
}

void MappedFileAllocator::CloseView() {
  view_.Reset();
  view_size_ = 0;
  mapping_.Close();
}

// static
void* MappedFileAllocator::AllocateThunk(ISzAllocPtr self, size_t size) {
  return const_cast<MappedFileAllocator*>(static_cast<const MappedFileAllocator*>(self))
      ->Allocate(size);
}

// static
void MappedFileAllocator::FreeThunk(ISzAllocPtr self, void* address) {
  const_cast<MappedFileAllocator*>(static_cast<const MappedFileAllocator*>(self))
      ->Free(address);
}

}  // namespace installer
