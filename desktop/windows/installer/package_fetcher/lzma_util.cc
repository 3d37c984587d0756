#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/exception_guard.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/folder_decoder.h"
#include "desktop/windows/installer/package_fetcher/mapped_file_allocator.h"
#include "desktop/windows/installer/package_fetcher/output_writer.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "lzma/7z.h"
#include "lzma/7zAlloc.h"
#include "lzma/7zCrc.h"

namespace installer {

namespace {

const size_t kLookBufferSize = 1 << 16;

// The SDK's seekable input over the archive handle.
struct FileInStream {
  ISeekInStream vt;
  HANDLE file;
};

// Follows the SDK's convention: the end of the file is a short read, not an error.
SRes FileRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  const FileInStream* self = reinterpret_cast<const FileInStream*>(p);
  size_t wanted = *size;
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < wanted) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(wanted - done, 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(self->file, out + done, chunk, &read, nullptr)) {
      *size = done;
      return SZ_ERROR_READ;
    }
    if (read == 0) break;
    done += read;
  }
  *size = done;
  return SZ_OK;
}

SRes FileSeek(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  const FileInStream* self = reinterpret_cast<const FileInStream*>(p);
  DWORD method;
  switch (origin) {
    case SZ_SEEK_SET: method = FILE_BEGIN; break;
    case SZ_SEEK_CUR: method = FILE_CURRENT; break;
    case SZ_SEEK_END: method = FILE_END; break;
    default: return SZ_ERROR_PARAM;
  }
  LONG high = static_cast<LONG>(*position >> 32);
  ::SetLastError(NO_ERROR);
  DWORD low = ::SetFilePointer(self->file, static_cast<LONG>(*position & 0xFFFFFFFF), &high,
                               method);
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return SZ_ERROR_FAIL;
  *position = (static_cast<Int64>(high) << 32) | low;
  return SZ_OK;
}

const ISzAlloc kHeapAlloc = {SzAlloc, SzFree};

// Blocks up to this size decode into the heap, so that the next one can decode while the
// writer still writes their files; larger ones into the allocator's single mapped view.
constexpr size_t kHeapBlockMax = 8 << 20;
// The most heap that blocks still being written may hold together.
constexpr size_t kHeapBudget = 16 << 20;

// One step of a folder's decoding and the entry's checks, run inside the exception guard.
struct DecodeCall {
  FolderDecoder* decoder;
  const CSzArEx* db;
  UInt32 index;
  const Byte* block;
  size_t block_size;
  size_t offset;
  size_t size;
  SRes result;
};

// What SzArEx_Extract does for an entry of a cached block: decode, then its checks.
void RunDecode(void* context) {
  DecodeCall* call = static_cast<DecodeCall*>(context);
  call->result = call->decoder->DecodeTo(call->offset + call->size);
  if (call->result != SZ_OK) return;
  if (call->offset + call->size > call->block_size) {
    call->result = SZ_ERROR_FAIL;
    return;
  }
  if (SzBitWithVals_Check(&call->db->CRCs, call->index) &&
      CrcCalc(call->block + call->offset, call->size) != call->db->CRCs.Vals[call->index]) {
    call->result = SZ_ERROR_CRC;
  }
}

struct PagingFilterContext {
  const MappedFileAllocator* allocator;
  DWORD status;
};

LONG PagingErrorFilter(EXCEPTION_POINTERS* info, void* context) {
  PagingFilterContext* filter = static_cast<PagingFilterContext*>(context);
  return filter->allocator->IsPagingErrorInView(*info->ExceptionRecord, &filter->status)
             ? EXCEPTION_EXECUTE_HANDLER
             : EXCEPTION_CONTINUE_SEARCH;
}

// The output path of entry |name| below |folder|, or the reason there is none. A
// trailing separator (a folder entry of some packers) is dropped.
NameProblem OutputPath(const base::FilePath& folder, std::wstring name,
                       base::FilePath* output) {
  while (!name.empty() && (name.back() == L'\\' || name.back() == L'/')) name.pop_back();
  const NameProblem problem = CheckRelativePath(name);
  if (problem != NameProblem::kNone) return problem;
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  *output = folder.Append(name);
  return NameProblem::kNone;
}

}  // namespace

// The 7z database over the archive handle, the decoder of the current folder, and the
// decoded blocks whose files the writer may still be writing; frees the blocks.
class LzmaUtil::ArchiveReader {
 public:
  explicit ArchiveReader(HANDLE file) : file_stream_{{FileRead, FileSeek}, file} {
    // Every extraction reads the archive from its start.
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    look_buffer_.resize(kLookBufferSize);
    LookToRead2_CreateVTable(&look_, False);
    look_.buf = look_buffer_.data();
    look_.bufSize = look_buffer_.size();
    look_.realStream = &file_stream_.vt;
    LookToRead2_INIT(&look_);
    CrcGenerateTable();
    SzArEx_Init(&db_);
  }
  ~ArchiveReader() {
    decoder_.reset();
    SzArEx_Free(&db_, &kHeapAlloc);
  }
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  SRes Open() { return SzArEx_Open(&db_, &look_.vt, &kHeapAlloc, &kHeapAlloc); }
  const CSzArEx& db() const { return db_; }

  // Decodes entry |index| as far as its folder must be for it, into memory from
  // |allocator| (or the heap), and checks it; a guard turns a paging error in the output
  // view into false with |status|. A new folder may first wait for |writer| to release
  // the blocks it still writes from.
  bool Decode(UInt32 index, MappedFileAllocator* allocator, bool mapped_only,
              OutputWriter& writer, SRes* result, DWORD* status, const Byte** data,
              size_t* size) {
    allocator_ = allocator;
    *data = nullptr;
    *size = 0;
    *result = SZ_OK;
    const UInt32 folder = db_.FileToFolder[index];
    if (folder == static_cast<UInt32>(-1)) return true;
    if (!decoder_ || folder != folder_) {
      decoder_.reset();
      folder_ = folder;
      const UInt64 wanted = SzAr_GetFolderUnpackSize(&db_.db, folder);
      const size_t block_size = static_cast<size_t>(wanted);
      if (block_size != wanted) {
        *result = SZ_ERROR_MEM;
        return true;
      }
      Block& block = NewBlock(block_size, mapped_only, writer);
      if (!block.data && block_size != 0) {
        *result = SZ_ERROR_MEM;
        return true;
      }
      decoder_.reset(new FolderDecoder(&db_, &look_.vt, folder, block.data, block_size));
    }
    const Block& block = blocks_.back();
    const UInt64 start = db_.UnpackPositions[db_.FolderToFile[folder]];
    DecodeCall call = {decoder_.get(),
                       &db_,
                       index,
                       block.data,
                       block.size,
                       static_cast<size_t>(db_.UnpackPositions[index] - start),
                       static_cast<size_t>(SzArEx_GetFileSize(&db_, index)),
                       SZ_OK};
    PagingFilterContext filter = {allocator, 0};
    if (!base::RunWithExceptionGuard(&RunDecode, &call, &PagingErrorFilter, &filter)) {
      *status = filter.status;
      return false;
    }
    *result = call.result;
    *data = block.data + call.offset;
    *size = call.size;
    return true;
  }

  // The writer's job |number| writes from the current block.
  void UsedBy(uint64_t number) { blocks_.back().last_job = number; }

  // Gives every block back; the writer must be done with them.
  void FreeOutput() {
    decoder_.reset();
    while (!blocks_.empty()) FreeOldest();
  }

 private:
  struct Block {
    Byte* data;
    size_t size;
    bool mapped;
    uint64_t last_job;  // the last writer job that reads it, 0 for none
  };

  // A block of |size| bytes for the next folder, once the writer leaves enough memory.
  Block& NewBlock(size_t size, bool mapped_only, OutputWriter& writer) {
    const bool mapped = mapped_only || size > kHeapBlockMax;
    for (;;) {
      // The writer releases blocks in order.
      const uint64_t done = writer.done();
      while (!blocks_.empty() && blocks_.front().last_job <= done) FreeOldest();
      bool busy = false;
      for (const Block& block : blocks_)
        busy = busy || (mapped && block.mapped);
      if (!mapped && heap_in_use_ + size > kHeapBudget && !blocks_.empty()) busy = true;
      if (!busy) break;
      writer.WaitFor(blocks_.front().last_job);
    }
    Block block = {nullptr, size, mapped, 0};
    if (size != 0) {
      block.data = static_cast<Byte*>(mapped ? allocator_->Allocate(size) : SzAlloc(nullptr, size));
    }
    if (!mapped) heap_in_use_ += size;
    blocks_.push_back(block);
    return blocks_.back();
  }

  void FreeOldest() {
    const Block& block = blocks_.front();
    if (block.mapped) {
      allocator_->Free(block.data);
    } else {
      SzFree(nullptr, block.data);
      heap_in_use_ -= block.size;
    }
    blocks_.pop_front();
  }

  FileInStream file_stream_;
  std::vector<Byte> look_buffer_;
  CLookToRead2 look_;
  CSzArEx db_;
  MappedFileAllocator* allocator_ = nullptr;
  UInt32 folder_ = 0;
  std::unique_ptr<FolderDecoder> decoder_;
  std::deque<Block> blocks_;
  size_t heap_in_use_ = 0;
};

LzmaUtil::LzmaUtil(const OutputWriter::WriteData& write_data, OutputMemory output_memory)
    : write_data_(write_data), output_memory_(output_memory) {}

LzmaUtil::~LzmaUtil() { Close(); }

base::Result<> LzmaUtil::Open(const base::FilePath& archive) {
  Close();
  archive_path_ = archive;
  archive_.Set(::CreateFileW(archive.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (archive_.IsValid()) return {};
  const DWORD error = ::GetLastError();
  return base::Failure{error,
                       error == ERROR_FILE_NOT_FOUND ? ERROR_KIND_ARCHIVE_NOT_FOUND
                                                     : ERROR_KIND_ARCHIVE_NOT_OPENABLE,
                       "CreateFile", archive};
}

void LzmaUtil::Close() { archive_.Close(); }

base::Result<> LzmaUtil::MakeFolder(const base::FilePath& path) {
  if (created_folders_.count(path)) return {};
  ::SetLastError(NO_ERROR);
  if (base::CreateDirectory(path)) {
    created_folders_.insert(path);
    return {};
  }
  DWORD error = ::GetLastError();
  // A file in the way or a path past the limit fails before any system call does.
  if (error == NO_ERROR) error = ERROR_CANNOT_MAKE;
  LOG(ERROR) << "Error returned by CreateDirectory: " << error << " for " << path.AsUTF8();
  return base::Failure{error, ERROR_KIND_CREATE_FILE, "CreateDirectory", path};
}

base::Result<> LzmaUtil::FailEntry(uint32_t index, OutputWriter& writer) {
  base::Result<> written = writer.Finish();
  if (written.ok() && progress_) progress_->SetCurrentProgress(index);
  return written;
}

base::Result<> LzmaUtil::ExtractArchiveTo(const base::FilePath& folder) {
  if (!archive_.IsValid()) {
    return base::Failure{kBadArchiveResult, ERROR_KIND_ARCHIVE_NOT_OPENABLE, "no archive open",
                         archive_path_};
  }

  ArchiveReader archive(archive_.Get());
  SRes open_result = archive.Open();
  if (open_result != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << open_result;
    return base::Failure{kBadArchiveResult, ERROR_KIND_NOT_7Z, "SzArchiveOpen", archive_path_};
  }

  // The allocator's file lives in the destination, so that folder must exist first.
  const base::Result<> made = MakeFolder(folder);
  if (!made.ok()) return made;
  MappedFileAllocator allocator(folder, output_memory_ == OutputMemory::kReadOnlyMapped
                                            ? MappedFileAllocator::ViewAccess::kReadOnly
                                            : MappedFileAllocator::ViewAccess::kReadWrite);
  const UInt32 count = archive.db().NumFiles;
  if (progress_) progress_->SetTotalProgress(count);
  base::Result<> result;
  {
    // Until the writer is done, only it makes folders. It reports each entry's progress
    // as it begins the entry's output, so the reports' cost stays off the decoding.
    OutputWriter::Progress report;
    if (progress_) report = [this](uint32_t entry) { progress_->SetCurrentProgress(entry); };
    OutputWriter writer([this](const base::FilePath& path) { return MakeFolder(path); }, report,
                        write_data_);
    // Without a thread of its own the writer writes each file as it is queued, so its
    // result changes only where the writing happens.
    (void)writer.Start();
    for (UInt32 i = 0; i < count && result.ok(); ++i) {
      result = ExtractEntry(archive, i, allocator, writer, folder);
    }
    // A failed write stops the extraction as a failed decoding does, and comes first.
    base::Result<> written = writer.Finish();
    if (!written.ok()) result = std::move(written);
  }
  archive.FreeOutput();
  return result;
}

base::Result<> LzmaUtil::ExtractEntry(ArchiveReader& archive, uint32_t index,
                                      MappedFileAllocator& allocator, OutputWriter& writer,
                                      const base::FilePath& folder) {
  const Byte* data = nullptr;
  size_t size = 0;
  const base::Result<> decoded = DecodeEntry(archive, index, allocator, writer, &data, &size);
  if (!decoded.ok()) return decoded;
  const base::Result<base::FilePath> output = NameEntry(archive, index, folder, writer);
  if (!output.ok()) return output.failure();
  const CSzArEx& db = archive.db();

  OutputWriter::Job job;
  job.entry = index;
  job.path = output.value();
  job.folder = SzArEx_IsDir(&db, index);
  job.data = data;
  job.size = size;
  job.has_time = SzBitWithVals_Check(&db.MTime, index);
  if (job.has_time) {
    job.time.dwLowDateTime = db.MTime.Vals[index].Low;
    job.time.dwHighDateTime = db.MTime.Vals[index].High;
  }
  const bool reads_block = !job.folder && size != 0;
  const base::Result<uint64_t> number = writer.Push(std::move(job));
  if (!number.ok()) return number.failure();
  if (reads_block) archive.UsedBy(number.value());
  return {};
}

base::Result<> LzmaUtil::DecodeEntry(ArchiveReader& archive, uint32_t index,
                                     MappedFileAllocator& allocator, OutputWriter& writer,
                                     const Byte** data, size_t* size) {
  SRes decoded = SZ_OK;
  DWORD status = 0;
  const bool mapped_only = output_memory_ == OutputMemory::kReadOnlyMapped;
  const bool paged =
      !archive.Decode(index, &allocator, mapped_only, writer, &decoded, &status, data, size);
  if (!paged && decoded == SZ_OK) return {};
  // The failure is this entry's only when every entry before it was written.
  const base::Result<> written = FailEntry(index, writer);
  if (!written.ok()) return written;
  if (paged) {
    paging_status_ = status;
    LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing " << paging_status_;
    return base::Failure{ERROR_IO_DEVICE, ERROR_KIND_PAGING, "EXCEPTION_IN_PAGE_ERROR", {}};
  }
  LOG(ERROR) << "Error returned by SzExtract: " << decoded;
  return base::Failure{kBadArchiveResult, ERROR_KIND_DECODING, "SzExtract", {}};
}

base::Result<base::FilePath> LzmaUtil::NameEntry(ArchiveReader& archive, uint32_t index,
                                                 const base::FilePath& folder,
                                                 OutputWriter& writer) {
  const CSzArEx& db = archive.db();
  const char* refusal = nullptr;
  std::wstring entry_name;
  base::FilePath output;
  size_t length = SzArEx_GetFileNameUtf16(&db, index, nullptr);
  if (length != 0) {
    std::vector<UInt16> name(length);
    SzArEx_GetFileNameUtf16(&db, index, name.data());
    // |length| counts the terminating zero.
    entry_name.assign(name.begin(), name.begin() + (length - 1));
    switch (OutputPath(folder, entry_name, &output)) {
      case NameProblem::kNone:
        break;
      case NameProblem::kOutside:
        refusal = "outside the destination";
        break;
      case NameProblem::kDevice:
        refusal = "with a device name";
        break;
      case NameProblem::kCharacter:
        refusal = "with a name Windows would change";
        break;
    }
  }
  const bool too_long = length != 0 && !refusal && output.value().size() >= MAX_PATH;
  if (length != 0 && !refusal && !too_long) return output;
  // As with a failed decoding, the refusal waits for the entries before it.
  const base::Result<> written = FailEntry(index, writer);
  if (!written.ok()) return written.failure();
  if (length == 0) {
    LOG(ERROR) << "Couldn't get file name";
  } else if (refusal) {
    LOG(ERROR) << "Refusing archive entry " << refusal << ": "
               << base::FilePath(entry_name).AsUTF8();
  } else {
    LOG(ERROR) << "Refusing archive entry with a name too long: " << entry_name.size()
               << " characters";
  }
  return base::Failure{kBadArchiveResult, ERROR_KIND_NO_NAME, "entry name", {}};
}

}  // namespace installer
