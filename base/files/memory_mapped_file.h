// MappedFile: a whole file mapped into memory, read-only or read-write.
//
//   MappedFile mapped;
//   if (mapped.Initialize(path, MappedFile::READ_ONLY))
//     Checksum(mapped.data(), mapped.length());
#ifndef BASE_FILES_MEMORY_MAPPED_FILE_H_
#define BASE_FILES_MEMORY_MAPPED_FILE_H_

#include <stddef.h>
#include <stdint.h>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace base {

class MappedFile {
 public:
  enum Access {
    READ_ONLY = 0,
    READ_WRITE = 1,
    READ_WRITE_EXTEND = 2,  // never opens a file: there is no way to grow it here
  };

  // The part of the file to map; only the whole file is supported.
  enum Region { WHOLE_FILE = 0 };

  // The largest file that maps: a view length must fit a signed 32-bit size.
  static const int64_t kMaxLength = 0x7FFFFFFF;

  MappedFile();
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens and maps the whole file; false when a view is mapped already (nothing then
  // changes), when the file does not open, or when it is empty or longer than
  // kMaxLength.
  [[nodiscard]] bool Initialize(const FilePath& path, Access access);
  // Maps the whole file this object already holds open.
  [[nodiscard]] bool MapRegion(Region region, Access access);
  // Unmaps and closes everything.
  void CloseHandles();

  uint8_t* data() const { return static_cast<uint8_t*>(view_.Get()); }
  size_t length() const { return length_; }
  bool IsValid() const { return view_.IsValid(); }
  // The mapped file, open for reading; read through it what need not stay in memory.
  const File& file() const { return file_; }

 private:
  File file_;
  ScopedMappedView view_;
  size_t length_;
  ScopedHandle mapping_;
};

}  // namespace base

#endif  // BASE_FILES_MEMORY_MAPPED_FILE_H_
