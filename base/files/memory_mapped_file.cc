#include "base/files/memory_mapped_file.h"

#include <windows.h>

namespace base {

MappedFile::MappedFile() : length_(0) {}

MappedFile::~MappedFile() { CloseHandles(); }

bool MappedFile::Initialize(const FilePath& path, Access access) {
  if (IsValid()) return false;
  uint32_t flags = 0;
  switch (access) {
    case READ_ONLY:
      flags = File::FLAG_OPEN | File::FLAG_READ;
      break;
    case READ_WRITE:
      flags = File::FLAG_OPEN | File::FLAG_READ | File::FLAG_WRITE;
      break;
    case READ_WRITE_EXTEND:
      // No open disposition: File refuses to open anything.
      break;
  }
  file_.Initialize(path, flags);
  if (!file_.IsValid()) return false;
  if (!MapRegion(WHOLE_FILE, access)) {
    CloseHandles();
    return false;
  }
  return true;
}

bool MappedFile::MapRegion(Region /*region*/, Access access) {
  if (!file_.IsValid()) return false;
  const bool read_only = access == READ_ONLY;
  mapping_.Set(CreateFileMappingW(file_.GetPlatformFile(), nullptr,
                                  read_only ? PAGE_READONLY : PAGE_READWRITE, 0, 0,
                                  nullptr));
  if (!mapping_.IsValid()) return false;

  const int64_t length = file_.GetLength();
  if (length < 1 || length > kMaxLength) return false;

  view_.Reset(MapViewOfFile(mapping_.Get(), read_only ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0,
                            static_cast<SIZE_T>(length)));
  if (!view_.IsValid()) return false;
  length_ = static_cast<size_t>(length);
  return true;
}

void MappedFile::CloseHandles() {
  view_.Reset();
  mapping_.Close();
  file_.Close();
  length_ = 0;
}

}  // namespace base
