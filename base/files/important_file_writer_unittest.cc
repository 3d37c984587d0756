#include "base/files/important_file_writer.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/run_loop.h"
#include "base/test/kill_test_util.h"

namespace base {
namespace {

int FailureCount(ImportantFileWriter::TempFileFailure failure) {
  HistogramBase* histogram = LinearHistogram::FactoryGet(
      "ImportantFile.TempFileFailures", ImportantFileWriter::TEMP_FILE_FAILURE_MAX,
      ImportantFileWriter::TEMP_FILE_FAILURE_MAX + 1);
  return histogram->SnapshotSamples()->GetCount(failure);
}

std::string ReadText(const FilePath& path) {
  std::string text;
  ReadFileToString(path, &text);
  return text;
}

// Records the write callbacks and ends the run loop after a write.
struct WriteLog {
  std::vector<std::string> events;
  RunLoop* run_loop = nullptr;
};

void Before(WriteLog* log) {
  log->events.push_back("before");
}

void After(WriteLog* log, bool result) {
  log->events.push_back(result ? "after ok" : "after failed");
  if (log->run_loop)
    log->run_loop->Quit();
}

class CountingSerializer : public ImportantFileWriter::DataSerializer {
 public:
  bool SerializeData(std::string* data) override {
    ++calls;
    *data = text;
    return succeed;
  }
  std::string text = "{\"a\":1}";
  bool succeed = true;
  int calls = 0;
};

// Refuses every task: the writer then does the work on the calling thread.
class RefusingRunner : public SequencedTaskRunner {
 public:
  bool PostDelayedTask(const Location&, Closure, TimeDelta) override { return false; }
  bool RunsTasksOnCurrentThread() const override { return false; }
  bool PostNonNestableDelayedTask(const Location&, Closure, TimeDelta) override {
    return false;
  }

 private:
  ~RefusingRunner() override = default;
};

class ImportantFileWriterTest : public testing::Test {
 protected:
  ImportantFileWriterTest() : target_(scratch_.path().Append(L"installer_prefs.json")) {}

  void RunUntilWritten(WriteLog* log) {
    RunLoop run_loop;
    log->run_loop = &run_loop;
    run_loop.Run();
    log->run_loop = nullptr;
  }

  void RunUntilIdle() {
    RunLoop run_loop;
    run_loop.QuitWhenIdle();
    run_loop.Run();
  }

  MessageLoop loop_;
  ScratchDir scratch_;
  FilePath target_;
};

TEST_F(ImportantFileWriterTest, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(WriteTextFile(target_, "old contents, longer than the new ones"));
  EXPECT_TRUE(ImportantFileWriter::WriteFileAtomically(target_, "new"));
  EXPECT_EQ("new", ReadText(target_));
  EXPECT_EQ(std::vector<std::wstring>({L"installer_prefs.json"}), FileNamesIn(scratch_.path()));
}

TEST_F(ImportantFileWriterTest, FolderThatCannotHoldTheTemporaryFileCountsAFailure) {
  int before = FailureCount(ImportantFileWriter::FAILED_CREATING);
  FilePath missing = scratch_.path().Append(L"missing").Append(L"prefs.json");
  EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(missing, "x"));
  EXPECT_EQ(before + 1, FailureCount(ImportantFileWriter::FAILED_CREATING));
}

TEST_F(ImportantFileWriterTest, CallbacksRunAroundTheNextWriteOnly) {
  ImportantFileWriter writer(target_, loop_.task_runner());
  WriteLog log;
  writer.RegisterOnNextWriteCallbacks(Bind(&Before, &log), Bind(&After, &log));
  writer.WriteNow(std::unique_ptr<std::string>(new std::string("first")));
  RunUntilWritten(&log);
  EXPECT_EQ(std::vector<std::string>({"before", "after ok"}), log.events);
  EXPECT_EQ("first", ReadText(target_));

  writer.WriteNow(std::unique_ptr<std::string>(new std::string("second")));
  RunUntilIdle();
  EXPECT_EQ("second", ReadText(target_));
  EXPECT_EQ(2u, log.events.size()) << "no callbacks without a new registration";
}

TEST_F(ImportantFileWriterTest, ScheduledWritesWithinTheIntervalMakeOneWrite) {
  const TimeDelta kInterval = TimeDelta::FromMilliseconds(30);
  ImportantFileWriter writer(target_, loop_.task_runner(), kInterval);
  CountingSerializer serializer;
  WriteLog log;
  writer.RegisterOnNextWriteCallbacks(Closure(), Bind(&After, &log));
  TimeTicks first = TimeTicks::Now();
  for (int i = 0; i < 3; ++i) {
    writer.ScheduleWrite(&serializer);
    EXPECT_TRUE(writer.HasPendingWrite());
  }
  serializer.text = "latest";  // serialised when the interval ends
  RunUntilWritten(&log);
  EXPECT_GE(TimeTicks::Now() - first, kInterval);
  EXPECT_EQ(1, serializer.calls);
  EXPECT_EQ("latest", ReadText(target_));
  EXPECT_FALSE(writer.HasPendingWrite());
}

TEST_F(ImportantFileWriterTest, WriteNowCancelsTheScheduledWrite) {
  ImportantFileWriter writer(target_, loop_.task_runner(), TimeDelta::FromMilliseconds(5));
  CountingSerializer serializer;
  writer.ScheduleWrite(&serializer);
  WriteLog log;
  writer.RegisterOnNextWriteCallbacks(Closure(), Bind(&After, &log));
  writer.WriteNow(std::unique_ptr<std::string>(new std::string("now")));
  EXPECT_FALSE(writer.HasPendingWrite());
  RunUntilWritten(&log);
  // Past the interval: the cancelled write never comes.
  RunLoop run_loop;
  loop_.task_runner()->PostDelayedTask(FROM_HERE, run_loop.QuitClosure(),
                                       TimeDelta::FromMilliseconds(20));
  run_loop.Run();
  EXPECT_EQ(0, serializer.calls);
  EXPECT_EQ("now", ReadText(target_));
}

TEST_F(ImportantFileWriterTest, FailingSerializerLeavesTheTargetAlone) {
  ASSERT_TRUE(WriteTextFile(target_, "kept"));
  ImportantFileWriter writer(target_, loop_.task_runner(), TimeDelta::FromMilliseconds(1));
  CountingSerializer serializer;
  serializer.succeed = false;
  writer.ScheduleWrite(&serializer);
  writer.DoScheduledWrite();
  EXPECT_EQ(1, serializer.calls);
  writer.DoScheduledWrite();  // the serializer was forgotten
  EXPECT_EQ(1, serializer.calls);
  RunUntilIdle();
  EXPECT_EQ("kept", ReadText(target_));
}

TEST_F(ImportantFileWriterTest, OversizedDataReportsFailureAndDisarmsTheCallbacks) {
  ASSERT_TRUE(WriteTextFile(target_, "kept"));
  ImportantFileWriter writer(target_, loop_.task_runner());
  writer.set_max_data_size_for_testing(4);
  int before = FailureCount(ImportantFileWriter::FAILED_WRITING);
  WriteLog log;
  writer.RegisterOnNextWriteCallbacks(Bind(&Before, &log), Bind(&After, &log));
  writer.WriteNow(std::unique_ptr<std::string>(new std::string("too long")));
  RunUntilWritten(&log);
  EXPECT_EQ(std::vector<std::string>({"after failed"}), log.events);
  EXPECT_EQ(before + 1, FailureCount(ImportantFileWriter::FAILED_WRITING));
  EXPECT_EQ("kept", ReadText(target_));

  // The callbacks belonged to the failed write; a later one runs none.
  writer.WriteNow(std::unique_ptr<std::string>(new std::string("ok")));
  RunUntilIdle();
  EXPECT_EQ("ok", ReadText(target_));
  EXPECT_EQ(1u, log.events.size());
}

TEST_F(ImportantFileWriterTest, RefusedPostWritesOnTheCallingThread) {
  ImportantFileWriter writer(target_, new RefusingRunner);
  WriteLog log;
  writer.RegisterOnNextWriteCallbacks(Bind(&Before, &log), Bind(&After, &log));
  writer.WriteNow(std::unique_ptr<std::string>(new std::string("here")));
  EXPECT_EQ(std::vector<std::string>({"before", "after ok"}), log.events);
  EXPECT_EQ("here", ReadText(target_));
}

// Schedules the next write from the after-write callback of the current one.
void ScheduleAgain(ImportantFileWriter* writer, ImportantFileWriter::DataSerializer* next,
                   bool) {
  writer->ScheduleWrite(next);
}

TEST_F(ImportantFileWriterTest, WriteScheduledWhileTheLastOneRanHereIsKept) {
  ImportantFileWriter writer(target_, new RefusingRunner);
  CountingSerializer first;
  CountingSerializer second;
  second.text = "second";
  writer.RegisterOnNextWriteCallbacks(Closure(), Bind(&ScheduleAgain, &writer, &second));
  writer.ScheduleWrite(&first);
  writer.DoScheduledWrite();  // writes at once and schedules |second|
  EXPECT_TRUE(writer.HasPendingWrite());
  writer.DoScheduledWrite();
  EXPECT_EQ(1, second.calls);
  EXPECT_EQ("second", ReadText(target_));
}

// Fake replace failures. The move-away kind is what Windows reports as "unable to move
// replacement" when no backup name is given: the old target is already gone.
int g_failures_left;
bool g_moves_target_away;

bool FailingReplace(const FilePath& from, const FilePath& to) {
  if (g_failures_left == 0)
    return ReplaceFile(from, to);
  --g_failures_left;
  if (g_moves_target_away)
    DeleteFile(to, false);
  return false;
}

TEST_F(ImportantFileWriterTest, FailedReplaceNeverLosesBothCopies) {
  struct Case {
    int failures;
    bool moves_target_away;
    bool result;
    const char* target;  // null: no target
    size_t files;        // in the folder afterwards
  } cases[] = {
      {1, false, false, "old", 1},  // target intact, temporary file removed
      {1, true, true, "new", 1},    // the new file is moved in after all
      {2, true, false, nullptr, 1}, // the temporary file, the only copy, is kept
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteTextFile(target_, "old"));
    g_failures_left = c.failures;
    g_moves_target_away = c.moves_target_away;
    int before = FailureCount(ImportantFileWriter::FAILED_RENAMING);
    ImportantFileWriter::SetReplaceFileFunctionForTesting(&FailingReplace);
    bool result = ImportantFileWriter::WriteFileAtomically(target_, "new");
    ImportantFileWriter::SetReplaceFileFunctionForTesting(nullptr);
    EXPECT_EQ(c.result, result) << c.failures;
    EXPECT_EQ(c.result ? before : before + 1, FailureCount(ImportantFileWriter::FAILED_RENAMING));
    if (c.target)
      EXPECT_EQ(c.target, ReadText(target_)) << c.failures;
    else
      EXPECT_FALSE(PathExists(target_));
    std::vector<std::wstring> files = FileNamesIn(scratch_.path());
    EXPECT_EQ(c.files, files.size()) << c.failures;
    if (!c.target && files.size() == 1) {
      EXPECT_EQ("new", ReadText(scratch_.path().Append(files[0])));
    }
    for (const std::wstring& name : files)
      DeleteFile(scratch_.path().Append(name), false);
  }
}

// A fake flush that notes what the target held when the data was flushed.
bool g_flush_succeeds;
int g_flushes;
FilePath* g_flushed_target;
std::string g_target_at_flush;

bool RecordingFlush(File* file) {
  ++g_flushes;
  g_target_at_flush = ReadText(*g_flushed_target);
  return g_flush_succeeds && file->IsValid();
}

TEST_F(ImportantFileWriterTest, DataIsFlushedBeforeItReplacesTheTarget) {
  for (bool flush_succeeds : {true, false}) {
    SCOPED_TRACE(flush_succeeds);
    ASSERT_TRUE(WriteTextFile(target_, "old"));
    g_flush_succeeds = flush_succeeds;
    g_flushes = 0;
    g_flushed_target = &target_;
    g_target_at_flush.clear();
    const int before = FailureCount(ImportantFileWriter::FAILED_FLUSHING);
    ImportantFileWriter::SetFlushFileFunctionForTesting(&RecordingFlush);
    const bool result = ImportantFileWriter::WriteFileAtomically(target_, "new");
    ImportantFileWriter::SetFlushFileFunctionForTesting(nullptr);
    EXPECT_EQ(flush_succeeds, result);
    EXPECT_EQ(1, g_flushes);
    EXPECT_EQ("old", g_target_at_flush) << "flushed only after the rename";
    // A failed flush may have left the data short of the disk: the old file stays.
    EXPECT_EQ(flush_succeeds ? "new" : "old", ReadText(target_));
    EXPECT_EQ(flush_succeeds ? before : before + 1,
              FailureCount(ImportantFileWriter::FAILED_FLUSHING));
    EXPECT_EQ(std::vector<std::wstring>({L"installer_prefs.json"}), FileNamesIn(scratch_.path()));
  }
}

TEST_F(ImportantFileWriterTest, KeepsTheReplacedFilesAttributesAndOnlyItsOwnLeftovers) {
  ASSERT_TRUE(WriteTextFile(target_, "old"));
  ASSERT_TRUE(::SetFileAttributesW(target_.value().c_str(), FILE_ATTRIBUTE_HIDDEN));
  // What killed writes of this target left, and files that only look alike.
  const wchar_t* stale = L"installer_prefs.json.0c1d2e3f-4a5b-4c6d-8e7f-a0b1c2d3e4f5.tmp";
  const std::vector<std::wstring> foreign = {
      L"installer_prefs.json.backup.tmp", L"other.json.0c1d2e3f-4a5b-4c6d-8e7f-a0b1c2d3e4f5.tmp",
      L"0c1d2e3f-4a5b-4c6d-8e7f-a0b1c2d3e4f5.tmp"};
  ASSERT_TRUE(WriteTextFile(scratch_.path().Append(stale), "torn"));
  for (const std::wstring& name : foreign)
    ASSERT_TRUE(WriteTextFile(scratch_.path().Append(name), "keep"));

  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(target_, "new"));
  EXPECT_EQ("new", ReadText(target_));
  EXPECT_TRUE(::GetFileAttributesW(target_.value().c_str()) & FILE_ATTRIBUTE_HIDDEN);
  std::vector<std::wstring> expected = foreign;
  expected.push_back(L"installer_prefs.json");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, FileNamesIn(scratch_.path()));
}

// Killed at any moment, a process rewriting a file leaves the old or the new version,
// never no file or a torn one; the next write removes the temporary files it left.
TEST(ImportantFileWriterKillTest, KilledWriterLeavesOneCompleteVersion) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::vector<FilePath> folders;
  for (int i = 0; i < 4; ++i) {
    folders.push_back(scratch.path().Append(L"writer" + std::to_wstring(i)));
    ASSERT_TRUE(CreateDirectory(folders.back()));
  }
  const std::vector<std::string> problems = RunKillRounds(
      L"important_file_writer_test_helper.exe", folders, 50, 20261207,
      [](const FilePath& folder) -> std::string {
        std::string text;
        if (!ReadFileToString(folder.Append(L"target.txt"), &text)) return "target missing";
        if (KillTestGeneration(text) < 0)
          return "target torn (" + std::to_string(text.size()) + " bytes)";
        return std::string();
      });
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << problems[0];
  for (const FilePath& folder : folders) {
    ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(folder.Append(L"target.txt"), "x"));
    EXPECT_EQ(std::vector<std::wstring>({L"target.txt"}), FileNamesIn(folder));
  }
}

}  // namespace
}  // namespace base
