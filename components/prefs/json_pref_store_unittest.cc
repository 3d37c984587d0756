#include "components/prefs/json_pref_store.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/sequenced_task_runner.h"
#include "base/test/kill_test_util.h"
#include "base/values.h"

namespace {

// Keeps posted tasks until the test runs them, or refuses them all.
class QueueTaskRunner : public base::SequencedTaskRunner {
 public:
  explicit QueueTaskRunner(bool accept) : accept_(accept) {}

  bool PostDelayedTask(const base::Location&, base::Closure task, base::TimeDelta) override {
    if (accept_) tasks_.push_back(task);
    return accept_;
  }
  bool PostNonNestableDelayedTask(const base::Location& from, base::Closure task,
                                  base::TimeDelta delay) override {
    return PostDelayedTask(from, task, delay);
  }
  bool RunsTasksOnCurrentThread() const override { return true; }

  size_t RunAll() {
    std::vector<base::Closure> tasks;
    tasks.swap(tasks_);
    for (base::Closure& task : tasks) task.Run();
    return tasks.size();
  }

 private:
  ~QueueTaskRunner() override = default;
  const bool accept_;
  std::vector<base::Closure> tasks_;
};

class CountingObserver : public PersistentPrefStore::Observer {
 public:
  void OnValueChanged(const std::string& key) override { changed.push_back(key); }
  void OnInitialized(bool succeeded) override { initialized.push_back(succeeded); }
  std::vector<std::string> changed;
  std::vector<bool> initialized;
};

class CountingDelegate : public PersistentPrefStore::ReadErrorDelegate {
 public:
  explicit CountingDelegate(std::vector<int>* errors) : errors_(errors) {}
  void OnReadError(PersistentPrefStore::PrefReadError error) override {
    errors_->push_back(error);
  }

 private:
  std::vector<int>* errors_;
};

class JsonPrefStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    path_ = scratch_.path().Append(L"installer_prefs.json");
    runner_ = new QueueTaskRunner(true);
  }
  base::scoped_refptr<JsonPrefStore> NewStore() {
    base::scoped_refptr<JsonPrefStore> store = new JsonPrefStore(path_, runner_);
    store->AddObserver(&observer_);
    return store;
  }
  std::string FileText() {
    std::string text;
    if (!base::ReadFileToString(path_, &text)) return "(none)";
    return text;
  }

  // Scheduled writes wait on the store's thread's loop.
  base::MessageLoop loop_;
  base::ScratchDir scratch_;
  base::FilePath path_;
  base::scoped_refptr<QueueTaskRunner> runner_;
  CountingObserver observer_;
};

TEST_F(JsonPrefStoreTest, ReadErrors) {
  const struct {
    const char* text;  // null: no file
    int error;
    bool read_only;
    const char* bad_file;  // the ".bad" file's text afterwards; null: none
  } cases[] = {
      {nullptr, 6, false, nullptr},
      {R"({"a": {"b": 1}})", 0, false, nullptr},
      {"[1, 2]", 2, true, nullptr},
      {"{broken", 1, false, "{broken"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(base::DeleteFile(path_, false));
    EXPECT_TRUE(base::DeleteFile(path_.ReplaceExtension(L"bad"), false));
    if (c.text) {
      ASSERT_TRUE(base::WriteTextFile(path_, c.text));
    }
    base::scoped_refptr<JsonPrefStore> store = NewStore();
    EXPECT_FALSE(store->IsInitialized());
    EXPECT_EQ(c.error, store->ReadPrefs());
    EXPECT_EQ(c.error, store->GetReadError());
    EXPECT_TRUE(store->IsInitialized());
    EXPECT_EQ(c.read_only, store->IsReadOnly()) << c.error;
    EXPECT_EQ(c.error == 0, store->GetValue("a.b", nullptr));
    std::string bad;
    const bool has_bad = base::ReadFileToString(path_.ReplaceExtension(L"bad"), &bad);
    EXPECT_EQ(c.bad_file != nullptr, has_bad);
    if (c.bad_file) {
      EXPECT_EQ(c.bad_file, bad);
      EXPECT_FALSE(base::PathExists(path_));
    }
  }
  // A second broken file while the first is still kept aside.
  ASSERT_TRUE(base::WriteTextFile(path_, "{again"));
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  EXPECT_EQ(7, store->ReadPrefs());
  EXPECT_FALSE(store->IsReadOnly());
}

TEST_F(JsonPrefStoreTest, MissingDirectoryLeavesTheStoreUninitialized) {
  path_ = scratch_.path().Append(L"no_such_dir").Append(L"prefs.json");
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  EXPECT_EQ(6, store->ReadPrefs());
  EXPECT_FALSE(store->IsInitialized());
  EXPECT_EQ(std::vector<bool>{false}, observer_.initialized);
}

TEST_F(JsonPrefStoreTest, ChangesAreWrittenOnTheFileRunner) {
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  store->ReadPrefs();
  store->SetValue("x.y", std::make_unique<base::Value>("v"), 0);
  store->SetValue("n", std::make_unique<base::Value>(1), 0);
  store->FlushPendingWrite();
  EXPECT_EQ("(none)", FileText());  // not on the store's thread
  EXPECT_EQ(1u, runner_->RunAll());  // both changes in one write
  EXPECT_EQ(R"({"n":1,"x":{"y":"v"}})", FileText());
  EXPECT_EQ((std::vector<std::string>{"x.y", "n"}), observer_.changed);

  // An equal value notifies nobody and writes nothing.
  store->SetValue("n", std::make_unique<base::Value>(1), 0);
  store->FlushPendingWrite();
  EXPECT_EQ(0u, runner_->RunAll());
  EXPECT_EQ(2u, observer_.changed.size());

  store->RemoveValue("x.y", 0);
  store->RemoveValue("missing", 0);
  store->FlushPendingWrite();
  EXPECT_EQ(1u, runner_->RunAll());
  EXPECT_EQ(R"({"n":1,"x":{}})", FileText());
  EXPECT_EQ(3u, observer_.changed.size());
}

// Lists opened `levels` deep around one integer.
std::unique_ptr<base::Value> NestedLists(int levels) {
  std::unique_ptr<base::Value> value = std::make_unique<base::Value>(1);
  for (int i = 0; i < levels; ++i) {
    std::unique_ptr<base::List> list = std::make_unique<base::List>();
    list->Append(std::move(value));
    value = std::move(list);
  }
  return value;
}

// The reader refuses a file with 200 dictionaries and lists open at once, which would cost
// every preference at the next start: such a value is never set, nor kept when it grew in
// place, and the rest of the file reads back.
TEST_F(JsonPrefStoreTest, ValueTooDeepForTheReaderIsRefused) {
  const struct {
    const char* key;
    int levels;
    bool kept;
  } cases[] = {
      {"deep", 198, true},   // 199 open with the file's own dictionary
      {"deep", 199, false},  // 200
      {"a.deep", 197, true},
      {"a.deep", 198, false},
      {"deep", 5000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.levels));
    EXPECT_TRUE(base::DeleteFile(path_, false));
    {
      base::scoped_refptr<JsonPrefStore> store = NewStore();
      store->ReadPrefs();
      store->SetValue("installer_id", std::make_unique<base::Value>("id"), 0);
      store->SetValue(c.key, NestedLists(c.levels), 0);
      const std::string quiet = std::string(c.key) + "_quiet";
      store->SetValueWithoutNotification(quiet, NestedLists(c.levels), 0);
      EXPECT_EQ(c.kept, store->GetValue(c.key, nullptr));
      EXPECT_EQ(c.kept, store->GetValue(quiet, nullptr));
    }
    runner_->RunAll();
    base::scoped_refptr<JsonPrefStore> reread = NewStore();
    EXPECT_EQ(0, reread->ReadPrefs());
    EXPECT_EQ(c.kept, reread->GetValue(c.key, nullptr));
    EXPECT_TRUE(reread->GetValue("installer_id", nullptr));
    EXPECT_FALSE(base::PathExists(path_.ReplaceExtension(L"bad")));
  }

  // Grown past the limit in place: dropped at the write, the rest kept.
  EXPECT_TRUE(base::DeleteFile(path_, false));
  {
    base::scoped_refptr<JsonPrefStore> store = NewStore();
    store->ReadPrefs();
    store->SetValue("installer_id", std::make_unique<base::Value>("id"), 0);
    std::unique_ptr<base::Dictionary> holder = std::make_unique<base::Dictionary>();
    holder->Set("x", NestedLists(197));
    store->SetValue("deep", std::move(holder), 0);
    base::Value* stored = nullptr;
    ASSERT_TRUE(store->GetStoredValue("deep", &stored));
    base::Dictionary* dictionary = nullptr;
    ASSERT_TRUE(stored->GetAsDictionary(&dictionary));
    dictionary->Set("x", NestedLists(198));
    store->NotifyValueChanged("deep", 0);
  }
  runner_->RunAll();
  base::scoped_refptr<JsonPrefStore> reread = NewStore();
  EXPECT_EQ(0, reread->ReadPrefs());
  EXPECT_FALSE(reread->GetValue("deep", nullptr));
  EXPECT_TRUE(reread->GetValue("installer_id", nullptr));
}

// The file's own keys are one level each, dots and all, and a value grown too deep in
// place costs only itself: its siblings, in a dictionary or a list, are written as they were.
TEST_F(JsonPrefStoreTest, DepthIsCountedAsTheFileNestsAndOnlyTheDeepValueIsDropped) {
  const std::string lists198 = std::string(198, '[') + "1" + std::string(198, ']');
  ASSERT_TRUE(base::WriteTextFile(path_, "{\"a.b\": " + lists198 + "}"));
  {
    base::scoped_refptr<JsonPrefStore> store = NewStore();
    EXPECT_EQ(0, store->ReadPrefs());
    store->SetValue("sib.a", std::make_unique<base::Value>("keep"), 0);
    std::unique_ptr<base::Dictionary> holder = std::make_unique<base::Dictionary>();
    holder->Set("x", NestedLists(196));
    store->SetValue("sib.deep", std::move(holder), 0);
    ASSERT_TRUE(store->GetValue("sib.deep.x", nullptr));
    base::Value* stored = nullptr;
    ASSERT_TRUE(store->GetStoredValue("sib.deep", &stored));
    base::Dictionary* dictionary = nullptr;
    ASSERT_TRUE(stored->GetAsDictionary(&dictionary));
    dictionary->Set("x", NestedLists(197));
    dictionary->Set("y", std::make_unique<base::Value>(2));
    std::unique_ptr<base::List> inner = std::make_unique<base::List>();
    inner->Append(NestedLists(195));
    inner->AppendInteger(4);
    std::unique_ptr<base::List> list = std::make_unique<base::List>();
    list->Append(std::move(inner));
    list->AppendInteger(3);
    dictionary->Set("z", std::move(list));
    store->NotifyValueChanged("sib.deep", 0);
  }
  runner_->RunAll();
  const std::string text = FileText();
  EXPECT_NE(std::string::npos, text.find("\"a.b\":" + lists198)) << text.substr(0, 40);
  EXPECT_NE(std::string::npos, text.find("\"z\":[[4],3]"));
  base::scoped_refptr<JsonPrefStore> reread = NewStore();
  EXPECT_EQ(0, reread->ReadPrefs());
  EXPECT_TRUE(reread->GetValue("sib.a", nullptr));
  EXPECT_TRUE(reread->GetValue("sib.deep.y", nullptr));
  EXPECT_FALSE(reread->GetValue("sib.deep.x", nullptr));
}

TEST_F(JsonPrefStoreTest, DeferredChangesWaitForAFlush) {
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  store->ReadPrefs();
  store->SetValue("lossy", std::make_unique<base::Value>(true),
                  PersistentPrefStore::LOSSY_PREF_WRITE_FLAG);
  EXPECT_EQ(0u, runner_->RunAll());
  store->FlushPendingWrite();
  EXPECT_EQ(1u, runner_->RunAll());
  EXPECT_EQ(R"({"lossy":true})", FileText());
}

TEST_F(JsonPrefStoreTest, ReleasingTheStoreWritesPendingChanges) {
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  store->ReadPrefs();
  store->SetValueWithoutNotification("k", std::make_unique<base::Value>("v"),
                                     PersistentPrefStore::LOSSY_PREF_WRITE_FLAG);
  store = nullptr;
  EXPECT_EQ(1u, runner_->RunAll());
  EXPECT_EQ(R"({"k":"v"})", FileText());
  EXPECT_TRUE(observer_.changed.empty());
}

// The installer ends its message loop before the exit callbacks release the stores: a
// change still waiting for the loop's commit timer is written at the release.
TEST_F(JsonPrefStoreTest, ChangeWaitingOnAnEndedLoopIsWrittenAtRelease) {
  std::thread([this] {
    base::scoped_refptr<JsonPrefStore> store;
    {
      base::MessageLoop loop;
      store = new JsonPrefStore(path_, runner_);
      store->ReadPrefs();
      store->SetValue("stage", std::make_unique<base::Value>("done"), 0);
    }
    EXPECT_TRUE(runner_->RunAll() == 0);
    store = nullptr;
  }).join();
  EXPECT_EQ(1u, runner_->RunAll());
  EXPECT_EQ(R"({"stage":"done"})", FileText());
}

TEST_F(JsonPrefStoreTest, ReadOnlyStoreNeverWrites) {
  ASSERT_TRUE(base::WriteTextFile(path_, "[\"keep\"]"));
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  EXPECT_EQ(2, store->ReadPrefs());
  store->SetValue("a", std::make_unique<base::Value>(1), 0);
  const base::Value* value = nullptr;
  EXPECT_TRUE(store->GetValue("a", &value));  // memory changes
  store->FlushPendingWrite();
  store = nullptr;
  EXPECT_EQ(0u, runner_->RunAll());
  EXPECT_EQ("[\"keep\"]", FileText());
}

// A runner that refuses work must not cost the data.
TEST_F(JsonPrefStoreTest, RefusingRunnerWritesOnTheCallingThread) {
  runner_ = new QueueTaskRunner(false);
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  store->ReadPrefs();
  store->SetValue("a", std::make_unique<base::Value>(1), 0);
  store->FlushPendingWrite();
  EXPECT_EQ(R"({"a":1})", FileText());
}

// A thread without a message loop has no timer to batch on: each change is written.
TEST_F(JsonPrefStoreTest, ThreadWithoutLoopWritesAtOnce) {
  std::thread([this] {
    base::scoped_refptr<JsonPrefStore> store = new JsonPrefStore(path_, runner_);
    store->ReadPrefs();
    store->SetValue("a", std::make_unique<base::Value>(1), 0);
    store->SetValue("b", std::make_unique<base::Value>(2),
                    PersistentPrefStore::LOSSY_PREF_WRITE_FLAG);
  }).join();
  EXPECT_EQ(2u, runner_->RunAll());  // the change, then the deferred one at release
  EXPECT_EQ(R"({"a":1,"b":2})", FileText());
}

// The reply comes once, after a write that reached the disk; a failed write keeps it for
// the next one.
TEST_F(JsonPrefStoreTest, NextSuccessfulWriteReply) {
  const base::FilePath folder = scratch_.path().Append(L"profile");
  ASSERT_TRUE(base::CreateDirectory(folder));
  path_ = folder.Append(L"installer_prefs.json");
  base::scoped_refptr<QueueTaskRunner> replies = new QueueTaskRunner(true);
  int written = 0;
  base::scoped_refptr<JsonPrefStore> store = NewStore();
  store->ReadPrefs();
  store->RegisterOnNextSuccessfulWriteReply(base::Bind([&written]() { ++written; }), replies);
  const struct {
    bool folder_there;
    size_t replies;
    int written;
  } kWrites[] = {{false, 1, 0}, {true, 1, 1}, {true, 0, 1}};
  int value = 0;
  for (const auto& write : kWrites) {
    SCOPED_TRACE(value);
    store->SetValue("a", std::make_unique<base::Value>(++value), 0);
    store->FlushPendingWrite();
    if (!write.folder_there) {
      ASSERT_TRUE(base::DeleteFile(folder, true));
    }
    EXPECT_EQ(1u, runner_->RunAll());
    EXPECT_EQ(write.replies, replies->RunAll());
    EXPECT_EQ(write.written, written);
    ASSERT_TRUE(base::CreateDirectory(folder));
  }
}

TEST_F(JsonPrefStoreTest, AsynchronousRead) {
  ASSERT_TRUE(base::WriteTextFile(path_, "{broken"));
  base::scoped_refptr<JsonPrefStore> store = new JsonPrefStore(path_, loop_.task_runner());
  store->AddObserver(&observer_);
  std::vector<int> errors;
  store->ReadPrefsAsync(new CountingDelegate(&errors));
  EXPECT_FALSE(store->IsInitialized());
  base::RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_TRUE(store->IsInitialized());
  EXPECT_EQ(std::vector<int>{1}, errors);
  EXPECT_EQ(std::vector<bool>{true}, observer_.initialized);
  store->RemoveObserver(&observer_);
}

}  // namespace

// Killed at any moment, a process changing a preference leaves a file that reads back
// whole, with the old or the new value: a missing file would read as "no preferences".
// The next write removes the temporary files the killed writes left.
TEST(JsonPrefStoreKillTest, KilledWriterLeavesReadablePreferences) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::vector<base::FilePath> folders;
  for (int i = 0; i < 4; ++i) {
    folders.push_back(scratch.path().Append(L"prefs" + std::to_wstring(i)));
    ASSERT_TRUE(base::CreateDirectory(folders.back()));
  }
  const std::vector<std::string> problems = base::RunKillRounds(
      L"json_pref_store_test_helper.exe", folders, 50, 20261208,
      [](const base::FilePath& folder) -> std::string {
        base::scoped_refptr<JsonPrefStore> store =
            new JsonPrefStore(folder.Append(L"installer_prefs.json"), new QueueTaskRunner(false));
        const PersistentPrefStore::PrefReadError error = store->ReadPrefs();
        if (error != PersistentPrefStore::PREF_READ_ERROR_NONE)
          return "read error " + std::to_string(error);
        const base::Value* payload = nullptr;
        std::string text;
        if (!store->GetValue("payload", &payload) || !payload->GetAsString(&text) ||
            base::KillTestGeneration(text) < 0) {
          return "payload missing or torn";
        }
        return std::string();
      });
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << problems[0];
  for (const base::FilePath& folder : folders) {
    {
      base::scoped_refptr<JsonPrefStore> store =
          new JsonPrefStore(folder.Append(L"installer_prefs.json"), new QueueTaskRunner(false));
      store->ReadPrefs();
      store->SetValue("payload", std::make_unique<base::Value>("final"), 0);
      store->FlushPendingWrite();
    }
    EXPECT_EQ(std::vector<std::wstring>({L"installer_prefs.json"}), base::FileNamesIn(folder));
  }
}

