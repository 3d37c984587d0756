#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "crypto/sha2.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/full_disk_test_util.h"
#include "desktop/windows/installer/package_fetcher/mapped_file_allocator.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "lzma/7z.h"
#include "lzma/7zAlloc.h"
#include "lzma/7zCrc.h"
#include "lzma/7zFile.h"

namespace installer {
namespace {

using testing::ReadAll;

base::FilePath TestData() { return testing::TestDataDir(); }

// "./docs/text.txt" -> hash, from the manifest of the payload tree.
std::map<std::string, std::string> Manifest() {
  std::map<std::string, std::string> files;
  std::istringstream in(ReadAll(TestData().AppendASCII("manifest.sha256")));
  std::string line;
  while (std::getline(in, line)) {
    size_t gap = line.find("  ");
    if (gap == std::string::npos) continue;
    files[line.substr(gap + 4)] = line.substr(0, gap);  // skips "  ./"
  }
  return files;
}

base::FilePath Under(const base::FilePath& folder, const std::string& relative_utf8) {
  std::wstring relative = base::UTF8ToWide(relative_utf8);
  for (wchar_t& c : relative)
    if (c == L'/') c = L'\\';
  return folder.Append(relative);
}

std::vector<base::FilePath> FilesIn(const base::FilePath& folder) {
  std::vector<base::FilePath> files;
  base::FileEnumerator enumerator(folder, true, base::FileEnumerator::FILES, L"");
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next())
    files.push_back(path);
  return files;
}

// Every file in |folder| is a whole payload file: nothing half-written, nothing foreign
// (the allocator's temporary file included).
void ExpectOnlyCompleteFiles(const base::FilePath& folder) {
  std::map<std::string, std::string> manifest = Manifest();
  for (const base::FilePath& path : FilesIn(folder)) {
    base::FilePath relative;
    ASSERT_TRUE(folder.AppendRelativePath(path, &relative));
    std::string name = relative.AsUTF8();
    for (char& c : name)
      if (c == '\\') c = '/';
    ASSERT_TRUE(manifest.count(name)) << name;
    std::string data = ReadAll(path);
    EXPECT_EQ(crypto::ComputeSha256Hex(data.data(), data.size()), manifest[name]) << name;
  }
}

std::vector<std::string>* g_log_lines = nullptr;

bool CaptureLog(int, const char*, int, size_t start, const std::string& text) {
  if (g_log_lines) g_log_lines->push_back(text.substr(start));
  return true;
}

class LogCapture {
 public:
  LogCapture() {
    g_log_lines = &lines_;
    base::SetLogMessageHandler(&CaptureLog);
  }
  ~LogCapture() {
    base::SetLogMessageHandler(nullptr);
    g_log_lines = nullptr;
  }
  bool Contains(const std::string& text) const {
    for (const std::string& line : lines_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  std::vector<std::string> lines_;
};

// The extraction's error as the fetcher reports it (0 for success), and its kind.
DWORD ErrorOf(const base::Result<>& result) { return result.ok() ? 0 : result.failure().error; }
int KindOf(const base::Result<>& result) {
  return result.ok() ? ERROR_KIND_NONE : result.failure().kind;
}

class CountingDelegate : public FetcherDelegate {
 public:
  void SetTotalProgress(uint32_t total) override { total_ = total; }
  void SetCurrentProgress(uint32_t current) override {
    EXPECT_EQ(current, next_);
    next_ = current + 1;
  }
  void NotifyStalled(uint32_t) override {}
  void NotifyStatusChanged(int) override {}
  uint32_t total_ = 0;
  uint32_t next_ = 0;
};

class LzmaUtilTest : public base::ScratchDirTest {
 protected:
  // Extracts |archive| into a new folder "out" of the scratch folder.
  base::Result<> Extract(const base::FilePath& archive, LzmaUtil* util) {
    EXPECT_TRUE(util->Open(archive).ok()) << archive.AsUTF8();
    return util->ExtractArchiveTo(Path(L"out"));
  }
  // A copy of a test archive that |edit| may change.
  base::FilePath EditedCopy(const char* name, void (*edit)(std::string* data)) {
    std::string data = ReadAll(TestData().AppendASCII(name));
    edit(&data);
    base::FilePath copy = Path(L"edited.7z");
    EXPECT_EQ(base::WriteFile(copy, data.data(), static_cast<int>(data.size())),
              static_cast<int>(data.size()));
    return copy;
  }
};

// What `7zz x` made of an archive at build time: "d <path>" and "f <sha256> <path>" lines.
std::set<std::string> SevenZipListing(const std::string& name) {
  std::set<std::string> lines;
  std::istringstream in(ReadAll(TestData().AppendASCII(name + ".7zz.txt")));
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.insert(line);
  return lines;
}

// The same listing of a folder.
std::set<std::string> Listing(const base::FilePath& folder) {
  std::set<std::string> lines;
  base::FileEnumerator enumerator(
      folder, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES, L"");
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    base::FilePath relative;
    EXPECT_TRUE(folder.AppendRelativePath(path, &relative));
    std::string name = relative.AsUTF8();
    for (char& c : name)
      if (c == '\\') c = '/';
    if (base::DirectoryExists(path)) {
      lines.insert("d " + name);
    } else {
      // Read through the wide API, so a non-ASCII name must be right on disk.
      const std::string data = ReadAll(path);
      lines.insert("f " + crypto::ComputeSha256Hex(data.data(), data.size()) + " " + name);
    }
  }
  return lines;
}

TEST_F(LzmaUtilTest, EveryCoderExtractsWhat7zzExtracts) {
  // Copy, LZMA, LZMA2, BCJ and BCJ2, solid and not; empty files and folders, non-ASCII.
  for (const char* name : {"lzma2", "lzma", "copy", "bcj2", "bcj", "lzma2_nonsolid"}) {
    SCOPED_TRACE(name);
    base::ScratchDir target;
    LzmaUtil util;
    CountingDelegate progress;
    util.set_progress_delegate(&progress);
    ASSERT_TRUE(util.Open(TestData().AppendASCII(std::string(name) + ".7z")).ok());
    ASSERT_EQ(ErrorOf(util.ExtractArchiveTo(target.path())), 0u);
    EXPECT_EQ(progress.next_, progress.total_);
    EXPECT_GT(progress.total_, 0u);

    const std::set<std::string> expected = SevenZipListing(name);
    EXPECT_EQ(10u, expected.size());
    EXPECT_EQ(expected, Listing(target.path()));
  }
}

TEST_F(LzmaUtilTest, FileGetsItsModificationTime) {
  LzmaUtil util;
  ASSERT_EQ(ErrorOf(Extract(TestData().AppendASCII("lzma2.7z"), &util)), 0u);
  for (const char* name : {"docs/text.txt", "bin/random.bin"}) {
    WIN32_FILE_ATTRIBUTE_DATA source, extracted;
    ASSERT_TRUE(::GetFileAttributesExW(Under(TestData().AppendASCII("payload"), name)
                                           .value().c_str(),
                                       GetFileExInfoStandard, &source));
    ASSERT_TRUE(::GetFileAttributesExW(Under(Path(L"out"), name).value().c_str(),
                                       GetFileExInfoStandard, &extracted));
    EXPECT_EQ(::CompareFileTime(&source.ftLastWriteTime, &extracted.ftLastWriteTime), 0)
        << name;
  }
}

TEST_F(LzmaUtilTest, OpenFailures) {
  LzmaUtil util;
  EXPECT_EQ(ErrorOf(util.ExtractArchiveTo(Path(L"out"))), 6u);
  const base::Result<> missing = util.Open(Path(L"missing.7z"));
  ASSERT_EQ(ErrorOf(missing), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(KindOf(missing), ERROR_KIND_ARCHIVE_NOT_FOUND);
  EXPECT_EQ(missing.failure().path, Path(L"missing.7z"));
  EXPECT_EQ(ErrorOf(util.ExtractArchiveTo(Path(L"out"))), 6u);
  // A folder cannot be opened as a file.
  const base::Result<> folder = util.Open(scratch_.path());
  EXPECT_NE(ErrorOf(folder), 0u);
  EXPECT_EQ(KindOf(folder), ERROR_KIND_ARCHIVE_NOT_OPENABLE);
}

void Truncate(std::string* data) { data->resize(data->size() / 2); }
void KeepSignatureOnly(std::string* data) { data->resize(20); }
void NotAnArchive(std::string* data) { data->assign("plain text, not an archive"); }

TEST_F(LzmaUtilTest, UnreadableArchiveFailsBeforeWritingAnything) {
  for (void (*edit)(std::string*) : {&Truncate, &KeepSignatureOnly, &NotAnArchive}) {
    LogCapture log;
    LzmaUtil util;
    const base::Result<> result = Extract(EditedCopy("lzma2.7z", edit), &util);
    EXPECT_EQ(ErrorOf(result), 6u);
    EXPECT_EQ(KindOf(result), ERROR_KIND_NOT_7Z);
    EXPECT_TRUE(log.Contains("Error returned by SzArchiveOpen: "));
    EXPECT_TRUE(FilesIn(Path(L"out")).empty());
  }
}

// Flips bytes in the packed data, well after the 32-byte signature header.
void DamageSolidData(std::string* data) {
  for (size_t i = 200; i < 260; ++i) (*data)[i] ^= 0x5A;
}

// Flips bytes of lzma2.7z's first block past the packed bytes of its first file.
void DamageAfterFirstFile(std::string* data) {
  for (size_t i = 300200; i < 300260; ++i) (*data)[i] ^= 0x5A;
}

// What the SDK reports for the first entry of |archive| it cannot extract whole, decoding
// each block at once: the code the extraction must log for the same damage.
SRes WholeBlockResult(const base::FilePath& archive) {
  CFileInStream file;
  FileInStream_CreateVTable(&file);
  File_Construct(&file.file);
  EXPECT_EQ(InFile_OpenW(&file.file, archive.value().c_str()), 0);
  CLookToRead2 look;
  std::vector<Byte> buffer(1 << 16);
  LookToRead2_CreateVTable(&look, False);
  look.buf = buffer.data();
  look.bufSize = buffer.size();
  look.realStream = &file.vt;
  LookToRead2_INIT(&look);
  const ISzAlloc heap = {SzAlloc, SzFree};
  CSzArEx db;
  SzArEx_Init(&db);
  SRes result = SzArEx_Open(&db, &look.vt, &heap, &heap);
  UInt32 block = 0xFFFFFFFF;
  Byte* out = nullptr;
  size_t out_size = 0;
  for (UInt32 i = 0; result == SZ_OK && i < db.NumFiles; ++i) {
    size_t offset = 0, size = 0;
    result = SzArEx_Extract(&db, &look.vt, i, &block, &out, &out_size, &offset, &size, &heap,
                            &heap);
  }
  ISzAlloc_Free(&heap, out);
  SzArEx_Free(&db, &heap);
  File_Close(&file.file);
  return result;
}

TEST_F(LzmaUtilTest, DamagedDataStopsWithoutHalfWrittenFiles) {
  const struct {
    const char* name;
    void (*edit)(std::string* data);
    const char* written;  // a file before the damage, or null
  } cases[] = {
      {"lzma2.7z", &DamageSolidData, nullptr},
      {"lzma.7z", &DamageSolidData, nullptr},
      {"copy.7z", &DamageSolidData, nullptr},
      {"nonsolid.7z", &DamageSolidData, nullptr},
      // The files of a block before its damage are written as they decode.
      {"lzma2.7z", &DamageAfterFirstFile, "bin/random.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    LzmaUtil util;
    const base::FilePath archive = EditedCopy(c.name, c.edit);
    const SRes expected = WholeBlockResult(archive);
    ASSERT_NE(expected, SZ_OK);
    // Progress comes from the writer and, for the failing entry, from the decoding: one
    // report per entry, in order, up to the failing one.
    CountingDelegate progress;
    util.set_progress_delegate(&progress);
    ASSERT_TRUE(util.Open(archive).ok());
    const base::Result<> result = util.ExtractArchiveTo(Path(L"out"));
    EXPECT_EQ(ErrorOf(result), 6u);
    EXPECT_GT(progress.next_, 0u);
    EXPECT_LE(progress.next_, progress.total_);
    EXPECT_EQ(KindOf(result), ERROR_KIND_DECODING);
    EXPECT_TRUE(log.Contains("Error returned by SzExtract: " + std::to_string(expected)));
    ExpectOnlyCompleteFiles(Path(L"out"));
    if (c.written) {
      EXPECT_TRUE(base::PathExists(Under(Path(L"out"), c.written)));
      EXPECT_FALSE(base::PathExists(Under(Path(L"out"), "docs/text.txt")));
      EXPECT_FALSE(base::PathExists(Under(Path(L"out"), "bin/app.exe")));
    }
    util.Close();
    EXPECT_TRUE(base::DeleteFile(Path(L"out"), true));
  }
}

// The archive's header checksums made right again after an edit of its plain header.
void MendHeaderChecksums(std::string* data) {
  uint64_t header_offset, header_size;
  std::memcpy(&header_offset, data->data() + 12, 8);
  std::memcpy(&header_size, data->data() + 20, 8);
  CrcGenerateTable();
  UInt32 header_crc =
      CrcCalc(data->data() + 32 + header_offset, static_cast<size_t>(header_size));
  std::memcpy(&(*data)[28], &header_crc, 4);
  UInt32 start_crc = CrcCalc(data->data() + 12, 20);
  std::memcpy(&(*data)[8], &start_crc, 4);
}

// Rewrites the entry name "docs/text.txt" in a plain (uncompressed) header, then mends
// the header checksums so that only the name is wrong.
std::string g_replacement;

void RenameEntry(std::string* data) {
  const std::wstring original = L"docs/text.txt";
  std::wstring renamed = base::UTF8ToWide(g_replacement) + original.substr(4);
  std::string from(reinterpret_cast<const char*>(original.data()), original.size() * 2);
  std::string to(reinterpret_cast<const char*>(renamed.data()), renamed.size() * 2);
  uint64_t header_offset, header_size;
  std::memcpy(&header_offset, data->data() + 12, 8);
  std::memcpy(&header_size, data->data() + 20, 8);
  size_t header = 32 + static_cast<size_t>(header_offset);
  size_t at = data->find(from, header);
  if (at == std::string::npos) {
    std::wstring backslashed = L"docs\\text.txt";
    at = data->find(std::string(reinterpret_cast<const char*>(backslashed.data()),
                                backslashed.size() * 2),
                    header);
  }
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(to.size(), from.size());
  data->replace(at, to.size(), to);
  MendHeaderChecksums(data);
}

// A plain header's one folder (docs/text.txt) with `delta` added to its packed size;
// `extra` bytes are inserted after its packed data, before the header.
void EditPackSize(std::string* data, int64_t delta, size_t extra) {
  uint64_t header_offset;
  std::memcpy(&header_offset, data->data() + 12, 8);
  const size_t header = 32 + static_cast<size_t>(header_offset);
  // Header, main streams, pack info, pack position, one pack stream, sizes.
  ASSERT_EQ(std::string("\x01\x04\x06", 3), data->substr(header, 3));
  size_t at = header + 3;
  const auto number_length = [&](size_t pos) {
    size_t extra_bytes = 0;
    for (unsigned char mask = 0x80; (*data)[pos] & mask && extra_bytes < 8; mask >>= 1)
      ++extra_bytes;
    return extra_bytes;
  };
  at += 1 + number_length(at);  // the pack position
  ASSERT_EQ('\x01', (*data)[at]);
  ASSERT_EQ('\x09', (*data)[at + 1]);
  at += 2;
  const size_t extra_bytes = number_length(at);
  uint64_t size = 0;
  for (size_t i = 0; i < extra_bytes; ++i)
    size |= static_cast<uint64_t>(static_cast<unsigned char>((*data)[at + 1 + i])) << (8 * i);
  const unsigned char high_mask = static_cast<unsigned char>(0x7F >> extra_bytes);
  size |= static_cast<uint64_t>((*data)[at] & high_mask) << (8 * extra_bytes);
  size += static_cast<uint64_t>(delta);
  // The same length again: the reader takes the length from the first byte.
  ASSERT_EQ(0u, (size >> (8 * extra_bytes)) & ~static_cast<uint64_t>(high_mask));
  (*data)[at] = static_cast<char>(((*data)[at] & ~high_mask) | (size >> (8 * extra_bytes)));
  for (size_t i = 0; i < extra_bytes; ++i)
    (*data)[at + 1 + i] = static_cast<char>(size >> (8 * i));
  data->insert(header, extra, '\0');
  header_offset += extra;
  std::memcpy(&(*data)[12], &header_offset, 8);
  MendHeaderChecksums(data);
}

void CopyPackedShort(std::string* data) { EditPackSize(data, -1000, 0); }
void Lzma2PackedShort(std::string* data) { EditPackSize(data, -40, 0); }
void Lzma2BytesAfterItsEnd(std::string* data) { EditPackSize(data, 2, 2); }

// A folder's packed size that does not match its data fails the extraction (also where
// it is short of what the unpacked size needs) and never writes bytes it did not decode.
TEST_F(LzmaUtilTest, PackedSizesThatDoNotFitTheFolderFail) {
  const struct {
    const char* archive;
    void (*edit)(std::string* data);
  } cases[] = {
      {"copy_plain.7z", &CopyPackedShort},
      {"lzma2_plain.7z", &Lzma2PackedShort},
      {"lzma2_plain.7z", &Lzma2BytesAfterItsEnd},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    LogCapture log;
    LzmaUtil util;
    ASSERT_TRUE(util.Open(EditedCopy(c.archive, c.edit)).ok());
    const base::Result<> result = util.ExtractArchiveTo(Path(L"out"));
    EXPECT_EQ(ErrorOf(result), 6u);
    EXPECT_EQ(KindOf(result), ERROR_KIND_DECODING);
    // Told by the folder's sizes, before a checksum could tell (a Copy folder would
    // otherwise end in bytes never read).
    EXPECT_TRUE(log.Contains("Error returned by SzExtract: " + std::to_string(SZ_ERROR_DATA)));
    EXPECT_FALSE(base::PathExists(Under(Path(L"out"), "docs/text.txt")));
    util.Close();
    base::DeleteFileBestEffort(Path(L"out"), true);
  }
}

TEST_F(LzmaUtilTest, EntriesOutsideTheDestinationAreRefused) {
  struct Case {
    const char* prefix;  // replaces "docs", same length
    bool refused;
  } cases[] = {
      {"..\\x", true}, {"x/..", true}, {"C:\\x", true}, {"\\abc", true},
      {"/abc", true},  {"a:bc", true}, {"ok_x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix);
    g_replacement = c.prefix;
    base::FilePath archive = EditedCopy("nonsolid.7z", &RenameEntry);
    base::FilePath target = Path(L"deep\\out");
    ASSERT_TRUE(base::CreateDirectory(target));
    LogCapture log;
    LzmaUtil util;
    ASSERT_TRUE(util.Open(archive).ok());
    const base::Result<> result = util.ExtractArchiveTo(target);
    if (c.refused) {
      EXPECT_EQ(ErrorOf(result), 6u);
      EXPECT_EQ(KindOf(result), ERROR_KIND_NO_NAME);
      EXPECT_TRUE(log.Contains("Refusing archive entry outside the destination"));
    } else {
      EXPECT_TRUE(result.ok());
      EXPECT_TRUE(base::PathExists(target.Append(L"ok_x\\text.txt")));
    }
    // Nothing may appear beside the destination folder, nor at the drive root.
    EXPECT_FALSE(base::PathExists(Path(L"deep\\x")));
    EXPECT_FALSE(base::PathExists(Path(L"deep\\text.txt")));
    EXPECT_FALSE(base::PathExists(base::FilePath(L"C:\\x\\text.txt")));
    util.Close();
    EXPECT_TRUE(base::DeleteFile(Path(L"deep"), true));
  }
}

// A failed output stops the extraction with its own error, wherever it falls: the files
// before it are whole, nothing after it is written, and it is not left half-written.
TEST_F(LzmaUtilTest, FailedOutputReportsItsWin32Error) {
  const struct {
    const char* archive;
    const char* blocked;    // a folder is put in the way of this file, or null
    const char* full_disk;  // this file fails half-written, or null
    const char* after;      // a file after the failing one, or null
    void (*edit)(std::string* data);  // damage after the failing output, or null
  } cases[] = {
      {"nonsolid.7z", "docs/text.txt", nullptr, nullptr, nullptr},
      // In the middle of a solid block, and its last file.
      {"lzma2.7z", "docs/text.txt", nullptr, "bin/app.exe", nullptr},
      {"lzma2.7z", "bin/app.exe", nullptr, nullptr, nullptr},
      {"lzma2.7z", nullptr, "docs/text.txt", "bin/app.exe", nullptr},
      {"lzma2.7z", nullptr, "bin/random.bin", "docs/text.txt", nullptr},
      {"lzma2_nonsolid.7z", nullptr, "bin/random.bin", nullptr, nullptr},
      // The failed write comes first, though the damage is found before it is known.
      {"lzma2.7z", nullptr, "bin/random.bin", "docs/text.txt", &DamageAfterFirstFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + " " + (c.blocked ? c.blocked : "write"));
    if (c.blocked) {
      ASSERT_TRUE(base::CreateDirectory(Under(Path(L"out"), c.blocked)));
    }
    LogCapture log;
    LzmaUtil util(c.full_disk ? testing::FullDiskAt(c.full_disk) : OutputWriter::WriteData());
    ASSERT_TRUE(
        util.Open(c.edit ? EditedCopy(c.archive, c.edit) : TestData().AppendASCII(c.archive))
            .ok());
    const base::Result<> result = util.ExtractArchiveTo(Path(L"out"));
    ASSERT_FALSE(result.ok());
    const base::FilePath last = result.failure().path;
    EXPECT_FALSE(log.Contains("Error returned by SzExtract"));
    if (c.blocked) {
      EXPECT_NE(ErrorOf(result), 0u);
      EXPECT_NE(ErrorOf(result), 6u);
      EXPECT_EQ(KindOf(result), ERROR_KIND_CREATE_FILE);
      EXPECT_TRUE(log.Contains("Error returned by CreateFile: "));
      EXPECT_EQ(last, Under(Path(L"out"), c.blocked));
      ASSERT_TRUE(base::DeleteFile(Under(Path(L"out"), c.blocked), true));
    } else {
      EXPECT_EQ(ErrorOf(result), static_cast<DWORD>(ERROR_DISK_FULL));
      EXPECT_EQ(KindOf(result), ERROR_KIND_WRITE);
      EXPECT_TRUE(log.Contains("Error returned by WriteFile: 112"));
      EXPECT_TRUE(base::PathExists(last.DirName()));
      EXPECT_FALSE(base::PathExists(last));
    }
    ExpectOnlyCompleteFiles(Path(L"out"));
    if (c.after) {
      EXPECT_FALSE(base::PathExists(Under(Path(L"out"), c.after)));
    }
    util.Close();
    ASSERT_TRUE(base::DeleteFile(Path(L"out"), true));
  }
}

TEST_F(LzmaUtilTest, AllocatorMapsATemporaryFileThatGoesAway) {
  {
    MappedFileAllocator allocator(scratch_.path());
    ASSERT_TRUE(allocator.has_file());
    EXPECT_EQ(allocator.Allocate(0), nullptr);
    char* view = static_cast<char*>(allocator.Alloc(&allocator, 1 << 20));
    ASSERT_NE(view, nullptr);
    std::memset(view, 0x42, 1 << 20);
    EXPECT_TRUE(allocator.Contains(view));
    EXPECT_TRUE(allocator.Contains(view + (1 << 20) - 1));
    EXPECT_FALSE(allocator.Contains(view + (1 << 20)));
    // Only one view at a time: a second block comes from the heap and frees there.
    char* heap = static_cast<char*>(allocator.Allocate(16));
    ASSERT_NE(heap, nullptr);
    EXPECT_FALSE(allocator.Contains(heap));
    allocator.Free(heap);

    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_IN_PAGE_ERROR;
    record.NumberParameters = 3;
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(view + 100);
    record.ExceptionInformation[2] = 0xC000007F;  // STATUS_DISK_FULL
    DWORD status = 0;
    EXPECT_TRUE(allocator.IsPagingErrorInView(record, &status));
    EXPECT_EQ(status, 0xC000007Fu);
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(view - 1);
    EXPECT_FALSE(allocator.IsPagingErrorInView(record, &status));
    // A write to a mapped file on a full disk faults as an access violation under Wine.
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(view);
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.NumberParameters = 2;
    EXPECT_TRUE(allocator.IsPagingErrorInView(record, &status));
    EXPECT_EQ(status, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(view + (1 << 20));
    EXPECT_FALSE(allocator.IsPagingErrorInView(record, &status));
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(view);
    record.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    EXPECT_FALSE(allocator.IsPagingErrorInView(record, &status));
    allocator.Free(view);
    EXPECT_FALSE(allocator.Contains(view));
    allocator.Free(nullptr);
    EXPECT_EQ(FilesIn(scratch_.path()).size(), 1u);
  }
  EXPECT_TRUE(FilesIn(scratch_.path()).empty());
}

TEST_F(LzmaUtilTest, AllocatorFallsBackToTheHeapWithoutAFolder) {
  MappedFileAllocator allocator(Path(L"missing"));
  EXPECT_FALSE(allocator.has_file());
  void* block = allocator.Allocate(4096);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(allocator.Contains(block));
  allocator.Free(block);
}

// A 7z number: as many leading one bits in the first byte as bytes follow (little-endian),
// the first byte's other bits holding the highest part.
void AppendNumber(std::string* out, uint64_t value) {
  for (int extra = 0; extra < 8; ++extra) {
    if ((value >> (8 * extra)) < (1u << (7 - extra))) {
      out->push_back(static_cast<char>(((0xFF00 >> extra) & 0xFF) | (value >> (8 * extra))));
      for (int i = 0; i < extra; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
      return;
    }
  }
}

// A 7z archive of entries without data, each a folder or (|files|) an empty file, with a
// plain header: names of any length and depth, which no packer on this machine makes.
std::string DatalessArchive(const std::vector<std::wstring>& names, bool files) {
  const std::string all_set((names.size() + 7) / 8, '\xFF');
  std::string header("\x01\x05", 2);  // header, files
  AppendNumber(&header, names.size());
  header.push_back('\x0E');  // empty streams: all
  AppendNumber(&header, all_set.size());
  header += all_set;
  if (files) {
    header.push_back('\x0F');  // empty files: all
    AppendNumber(&header, all_set.size());
    header += all_set;
  }
  std::string text;
  for (const std::wstring& name : names) {
    text.append(reinterpret_cast<const char*>(name.c_str()), (name.size() + 1) * 2);
  }
  header.push_back('\x11');  // names, stored inline
  AppendNumber(&header, text.size() + 1);
  header.push_back('\0');
  header += text;
  header.append(2, '\0');  // end of files, end of header

  CrcGenerateTable();
  std::string archive("7z\xBC\xAF\x27\x1C\x00\x04", 8);
  archive.resize(32, '\0');
  const uint64_t offset = 0, size = header.size();
  const UInt32 header_crc = CrcCalc(header.data(), header.size());
  std::memcpy(&archive[12], &offset, 8);
  std::memcpy(&archive[20], &size, 8);
  std::memcpy(&archive[28], &header_crc, 4);
  const UInt32 start_crc = CrcCalc(archive.data() + 12, 20);
  std::memcpy(&archive[8], &start_crc, 4);
  return archive + header;
}

class LzmaUtilNameTest : public LzmaUtilTest {
 protected:
  base::Result<> ExtractDataless(const std::vector<std::wstring>& names, bool files,
                                 LzmaUtil* util) {
    const std::string data = DatalessArchive(names, files);
    const base::FilePath archive = Path(L"dataless.7z");
    EXPECT_EQ(base::WriteFile(archive, data.data(), static_cast<int>(data.size())),
              static_cast<int>(data.size()));
    return Extract(archive, util);
  }
};

TEST_F(LzmaUtilNameTest, HandMadeArchivesExtract) {
  for (bool files : {false, true}) {
    LzmaUtil util;
    EXPECT_TRUE(ExtractDataless({L"a", L"b/c/d"}, files, &util).ok());
    EXPECT_EQ(base::DirectoryExists(Path(L"out\\a")), !files);
    EXPECT_EQ(base::DirectoryExists(Path(L"out\\b\\c\\d")), !files);
    EXPECT_TRUE(base::PathExists(Path(L"out\\a")));
    EXPECT_TRUE(base::PathExists(Path(L"out\\b\\c\\d")));
    util.Close();
    ASSERT_TRUE(base::DeleteFile(Path(L"out"), true));
  }
}

// A name of 20,000 folder levels overflowed the stack of the folder creation; a name
// past the path limit is now refused as unusable before anything is created.
TEST_F(LzmaUtilNameTest, NamesPastThePathLimitAreRefused) {
  std::wstring deep = L"a";
  for (int level = 1; level < 20000; ++level) deep += L"/a";
  for (const std::wstring& name : {deep, std::wstring(300, L'x'), L"ok/" + deep}) {
    for (bool files : {false, true}) {
      LogCapture log;
      LzmaUtil util;
      const base::Result<> result = ExtractDataless({name}, files, &util);
      EXPECT_EQ(ErrorOf(result), LzmaUtil::kBadArchiveResult);
      EXPECT_EQ(KindOf(result), ERROR_KIND_NO_NAME);
      EXPECT_TRUE(log.Contains("Refusing archive entry with a name too long: "));
      EXPECT_TRUE(FilesIn(Path(L"out")).empty());
      EXPECT_FALSE(base::PathExists(Path(L"out\\a")));
      EXPECT_FALSE(base::PathExists(Path(L"out\\ok")));
    }
  }
}

// An output path must leave room for the terminating zero in MAX_PATH characters.
TEST_F(LzmaUtilNameTest, OutputPathLimitIsExact) {
  const struct {
    size_t length;  // of the output path
    bool refused;
  } cases[] = {{259, false}, {260, true}, {261, true}};
  const base::FilePath out = Path(L"out");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    // "sub/<name>" below the destination, the name filling up to the length wanted.
    const size_t fixed = out.Append(L"sub\\").value().size();
    ASSERT_LT(fixed + 10, c.length) << "scratch folder too deep for this test";
    const std::wstring name = L"sub/" + std::wstring(c.length - fixed, L'n');
    const base::FilePath output = out.Append(L"sub").Append(name.substr(4));
    ASSERT_EQ(c.length, output.value().size());
    for (bool files : {false, true}) {
      // A folder of 248 characters or more cannot be made on Windows at all.
      if (!c.refused && !files) continue;
      LogCapture log;
      LzmaUtil util;
      const base::Result<> result = ExtractDataless({name}, files, &util);
      if (c.refused) {
        EXPECT_EQ(ErrorOf(result), LzmaUtil::kBadArchiveResult);
        EXPECT_EQ(KindOf(result), ERROR_KIND_NO_NAME);
        EXPECT_TRUE(log.Contains("Refusing archive entry with a name too long: "));
        EXPECT_FALSE(base::PathExists(out.Append(L"sub")));
      } else {
        EXPECT_TRUE(result.ok());
        EXPECT_TRUE(base::PathExists(output));
      }
      util.Close();
      ASSERT_TRUE(base::DeleteFile(out, true));
    }
  }
}

// Entries named after devices were written to the device (or discarded) and reported
// as extracted.
TEST_F(LzmaUtilNameTest, DeviceNamesAreRefused) {
  const struct {
    const wchar_t* name;
    bool refused;
  } cases[] = {
      {L"AUX", true},        {L"COM1", true},        {L"COM1.txt", true},
      {L"NUL", true},        {L"nul.txt", true},     {L"sub/NUL", true},
      {L"con/file", true},   {L"Prn.tar.gz", true},  {L"lpt9 ", true},
      {L"LPT0..", true},     {L"aux .txt", true},    {L"CONOUT$", true},
      {L"com\u00b9", true},  {L"LPT\u00b2.txt", true}, {L"sub/Com\u00b3 ", true},
      {L"COM10", false},     {L"auxiliary", false},  {L"nul_.txt", false},
      {L"sub/null", false},  {L"CONSOLE.txt", false}, {L"xCOM1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(base::FilePath(c.name).AsUTF8());
    for (bool files : {false, true}) {
      LogCapture log;
      LzmaUtil util;
      const base::Result<> result = ExtractDataless({c.name}, files, &util);
      if (c.refused) {
        EXPECT_EQ(ErrorOf(result), LzmaUtil::kBadArchiveResult);
        EXPECT_EQ(KindOf(result), ERROR_KIND_NO_NAME);
        EXPECT_TRUE(log.Contains("Refusing archive entry with a device name: "));
        EXPECT_TRUE(FilesIn(Path(L"out")).empty());
      } else {
        EXPECT_TRUE(result.ok());
        std::wstring relative = c.name;
        for (wchar_t& ch : relative)
          if (ch == L'/') ch = L'\\';
        EXPECT_TRUE(base::PathExists(Path(L"out").Append(relative)));
      }
      util.Close();
      ASSERT_TRUE(base::DeleteFile(Path(L"out"), true));
    }
  }
}

// A folder entry that could not be created was reported as extracted.
TEST_F(LzmaUtilNameTest, FolderThatCannotBeCreatedFailsTheExtraction) {
  ASSERT_TRUE(base::CreateDirectory(Path(L"out")));
  ASSERT_TRUE(base::WriteTextFile(Path(L"out\\blocked"), "a file in the way"));
  for (const wchar_t* name : {L"blocked", L"blocked/sub"}) {
    for (bool files : {false, true}) {
      // A file entry may replace the file.
      if (files && std::wstring(name) == L"blocked") continue;
      SCOPED_TRACE(base::FilePath(name).AsUTF8());
      LogCapture log;
      LzmaUtil util;
      const base::Result<> result = ExtractDataless({name}, files, &util);
      ASSERT_FALSE(result.ok());
      EXPECT_NE(ErrorOf(result), LzmaUtil::kBadArchiveResult);
      EXPECT_EQ(KindOf(result), ERROR_KIND_CREATE_FILE);
      EXPECT_EQ(result.failure().text, "CreateDirectory");
      // The entry that failed, not the file in the way.
      EXPECT_EQ(result.failure().path, Under(Path(L"out"), base::FilePath(name).AsUTF8()));
      EXPECT_TRUE(log.Contains("Error returned by CreateDirectory: "));
    }
  }
}

// A disk that fills while the decoder writes its mapped output crashed the process under
// Wine (an access violation inside the view); it now ends the extraction with 1117.
TEST_F(LzmaUtilTest, FullOutputVolumeGivesTheDeviceError) {
  for (const char* name : {"lzma2.7z", "lzma.7z", "nonsolid.7z"}) {
    SCOPED_TRACE(name);
    LogCapture log;
    LzmaUtil util(OutputWriter::WriteData(), LzmaUtil::OutputMemory::kReadOnlyMapped);
    ASSERT_TRUE(util.Open(TestData().AppendASCII(name)).ok());
    const base::Result<> result = util.ExtractArchiveTo(Path(L"out"));
    EXPECT_EQ(ErrorOf(result), static_cast<DWORD>(ERROR_IO_DEVICE));
    EXPECT_EQ(KindOf(result), ERROR_KIND_PAGING);
    EXPECT_EQ(util.paging_status(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(log.Contains("EXCEPTION_IN_PAGE_ERROR while accessing "));
    // Nothing half-written, and the allocator's temporary file is gone.
    ExpectOnlyCompleteFiles(Path(L"out"));
    util.Close();
    ASSERT_TRUE(base::DeleteFile(Path(L"out"), true));
  }
}

}  // namespace
}  // namespace installer
