#include "desktop/windows/installer/package_fetcher/output_writer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/package_fetcher/extraction_error_kind.h"
#include "desktop/windows/installer/package_fetcher/full_disk_test_util.h"

namespace installer {
namespace {

const std::string kOne = "first file";
const std::string kTwo(100000, 'x');
const std::string kThree = "third file";

class OutputWriterTest : public base::ScratchDirTest {
 protected:
  OutputWriter::Job File(uint32_t entry, const wchar_t* name, const std::string& data) {
    OutputWriter::Job job;
    job.entry = entry;
    job.path = Path(name);
    job.data = reinterpret_cast<const unsigned char*>(data.data());
    job.size = data.size();
    return job;
  }

  std::string Contents(const wchar_t* name) {
    std::string contents;
    EXPECT_TRUE(base::ReadFileToString(Path(name), &contents));
    return contents;
  }

  // As the extraction makes folders: a file in the way fails before any system call does.
  static base::Result<> MakeFolder(const base::FilePath& path) {
    ::SetLastError(NO_ERROR);
    if (base::CreateDirectory(path)) return {};
    const DWORD error = ::GetLastError();
    return base::Failure{error != NO_ERROR ? error : ERROR_CANNOT_MAKE, 0, "CreateDirectory",
                         path};
  }
};

// With its own thread or without, the writer makes folders and files in the order they
// were queued, whole, with their times, and reports each entry as it begins it.
TEST_F(OutputWriterTest, WritesEveryJobInOrder) {
  for (const bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "in Push");
    std::vector<uint32_t> begun;
    OutputWriter writer(&MakeFolder, [&begun](uint32_t entry) { begun.push_back(entry); });
    if (threaded) {
      ASSERT_TRUE(writer.Start());
    }
    OutputWriter::Job folder;
    folder.entry = 0;
    folder.path = Path(L"a\\empty");
    folder.folder = true;
    OutputWriter::Job timed = File(1, L"a\\b\\one.txt", kOne);
    timed.has_time = true;
    timed.time = {0x12345600, 0x01d00000};
    ASSERT_TRUE(writer.Push(folder).ok());
    const base::Result<uint64_t> second = writer.Push(timed);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.value(), 2u);
    writer.WaitFor(second.value());
    EXPECT_EQ(writer.done(), 2u);
    EXPECT_EQ(Contents(L"a\\b\\one.txt"), kOne);
    ASSERT_TRUE(writer.Push(File(2, L"a\\two.bin", kTwo)).ok());
    const base::Result<uint64_t> fourth = writer.Push(File(3, L"three.txt", ""));
    ASSERT_TRUE(fourth.ok());
    EXPECT_EQ(fourth.value(), 4u);
    EXPECT_TRUE(writer.Finish().ok());

    EXPECT_EQ(begun, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(base::DirectoryExists(Path(L"a\\empty")));
    EXPECT_EQ(Contents(L"a\\two.bin"), kTwo);
    EXPECT_EQ(Contents(L"three.txt"), "");
    base::ScopedHandle file(::CreateFileW(Path(L"a\\b\\one.txt").value().c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME written = {};
    ASSERT_TRUE(::GetFileTime(file.Get(), nullptr, nullptr, &written));
    EXPECT_EQ(written.dwLowDateTime, timed.time.dwLowDateTime);
    EXPECT_EQ(written.dwHighDateTime, timed.time.dwHighDateTime);
    file.Close();
    ASSERT_TRUE(base::DeleteFile(Path(L"a"), true));
    ASSERT_TRUE(base::DeleteFile(Path(L"three.txt"), false));
  }
}

// The first failure is the writer's result, with its call, kind and path; the file it hit
// is not left half-written, what was queued after it is never written, and nothing more
// is taken.
TEST_F(OutputWriterTest, FirstFailureStopsTheWriting) {
  const struct {
    const char* name;
    const wchar_t* in_the_way;  // a file or folder made before the writing, or null
    bool in_the_way_is_folder;
    const char* full_disk;      // this file's write fails half-way, or null
    DWORD error;                // 0: any error
    int kind;
    const char* call;
  } cases[] = {
      {"full disk", nullptr, false, "b/two.txt", ERROR_DISK_FULL, ERROR_KIND_WRITE,
       "WriteFile"},
      {"a file in the place of the folder", L"b", false, nullptr, 0,
       ERROR_KIND_CREATE_FILE, "CreateDirectory"},
      {"a folder in the place of the file", L"b\\two.txt", true, nullptr, 0,
       ERROR_KIND_CREATE_FILE, "CreateFile"},
  };
  for (const auto& c : cases) {
    for (const bool threaded : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (threaded ? ", threaded" : ", in Push"));
      if (c.in_the_way_is_folder) {
        ASSERT_TRUE(base::CreateDirectory(Path(c.in_the_way)));
      } else if (c.in_the_way) {
        Write(c.in_the_way, "in the way");
      }
      OutputWriter writer(&MakeFolder, nullptr,
                          c.full_disk ? testing::FullDiskAt(c.full_disk) : nullptr);
      if (threaded) {
        ASSERT_TRUE(writer.Start());
      }
      ASSERT_TRUE(writer.Push(File(0, L"one.txt", kOne)).ok());
      const base::Result<uint64_t> pushed = writer.Push(File(1, L"b\\two.txt", kTwo));
      EXPECT_EQ(pushed.ok(), threaded);  // without a thread, Push reports the failure itself
      // The failure may come before or after this push; Finish and the last push say it.
      if (pushed.ok()) (void)writer.Push(File(2, L"three.txt", kThree));

      const base::Result<> written = writer.Finish();
      ASSERT_FALSE(written.ok());
      if (c.error) {
        EXPECT_EQ(written.failure().error, c.error);
      }
      EXPECT_NE(written.failure().error, 0u);
      EXPECT_EQ(written.failure().kind, c.kind);
      EXPECT_EQ(written.failure().text, c.call);
      EXPECT_EQ(written.failure().path, Path(L"b\\two.txt"));
      // A push that fails, and every push after the failure, gives the same reason.
      const base::Result<uint64_t> after = writer.Push(File(3, L"four.txt", kThree));
      ASSERT_FALSE(after.ok());
      for (const base::Result<uint64_t>* refused : {&pushed, &after}) {
        if (refused->ok()) continue;
        EXPECT_EQ(refused->failure().error, written.failure().error);
        EXPECT_EQ(refused->failure().kind, written.failure().kind);
        EXPECT_EQ(refused->failure().text, written.failure().text);
        EXPECT_EQ(refused->failure().path, written.failure().path);
      }

      EXPECT_EQ(Contents(L"one.txt"), kOne);
      if (!c.in_the_way) {
        EXPECT_FALSE(base::PathExists(Path(L"b\\two.txt")));
      }
      EXPECT_FALSE(base::PathExists(Path(L"three.txt")));
      EXPECT_FALSE(base::PathExists(Path(L"four.txt")));
      ASSERT_TRUE(base::DeleteFile(Path(L"one.txt"), false));
      ASSERT_TRUE(base::DeleteFile(Path(L"b"), true));
    }
  }
}

}  // namespace
}  // namespace installer
