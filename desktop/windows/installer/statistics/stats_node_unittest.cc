#include "desktop/windows/installer/statistics/stats_node.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/threading/plain_thread.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"

namespace installer {
namespace {

class StatsNodeTest : public ::testing::Test {
 protected:
  std::string Json() { return record_.Json(); }

  testing::TestStatsRecord record_;
  base::Dictionary& tree_ = record_.tree;
  StatsNode& root_ = record_.root;
};

TEST_F(StatsNodeTest, DottedKeysNestAndReplaceWhatIsInTheWay) {
  root_.SetInteger("a.b", 1);
  root_.SetString("a.c", "x");
  EXPECT_EQ("{\"a\":{\"b\":1,\"c\":\"x\"}}", Json());
  root_.SetString("d", "text");
  root_.SetInteger("d.e", 2);
  root_.SetValue("f", base::MakeIntegerValue(3));
  root_.Remove("a.b");
  root_.Remove("absent.key");
  EXPECT_EQ("{\"a\":{\"c\":\"x\"},\"d\":{\"e\":2},\"f\":3}", Json());
}

TEST_F(StatsNodeTest, IncrementCountsFromZero) {
  root_.Increment("tries");
  root_.Increment("tries");
  root_.SetString("text", "not a number");
  root_.Increment("text");
  root_.Increment("nested.count");
  EXPECT_EQ("{\"nested\":{\"count\":1},\"text\":1,\"tries\":2}", Json());
}

TEST_F(StatsNodeTest, AppendedDictionariesAreSeparateAndNest) {
  std::unique_ptr<StatsNode> first = root_.AppendDictionaryToList("fetches");
  std::unique_ptr<StatsNode> second = root_.AppendDictionaryToList("fetches");
  first->SetInteger("try_number", 0);
  second->SetInteger("try_number", 1);
  // A node on an appended entry appends below itself; a clone writes where it points.
  std::unique_ptr<StatsNode> chunk = second->AppendDictionaryToList("download_chunks");
  chunk->SetString("headers.Server", "s");
  second->Clone()->SetInteger("result", 0);
  first->Clone()->Increment("try_number");
  EXPECT_EQ(
      "{\"fetches\":[{\"try_number\":1},{\"download_chunks\":[{\"headers\":{\"Server\":\"s\"}}],"
      "\"result\":0,\"try_number\":1}]}",
      Json());
}

TEST(BoundServerTextTest, OutputIsValidUtf8WithinTheBoundMarkIncluded) {
  const std::string cut = kServerTextCutMark;
  const size_t kept = kMaxServerTextLength - cut.size();
  const std::string fits(kMaxServerTextLength, 'a');
  // "\xC3\xA9" (e-acute) across the cut: the whole sequence goes.
  const std::string split = std::string(kept - 1, 'a') + "\xC3\xA9" + std::string(100, 't');
  struct Case {
    std::string text;
    std::string bounded;
  } cases[] = {
      {"", ""},
      {fits, fits},
      {fits + "b", std::string(kept, 'a') + cut},
      {std::string(100000, 'u'), std::string(kept, 'u') + cut},
      {split, std::string(kept - 1, 'a') + cut},
      // Ill-formed input is repaired, also when short: a stray byte, a cut sequence, an
      // encoded surrogate, each one U+FFFD.
      {"a\xFF" "b\xC3", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD"},
      // Repairs that grow the text past the bound are cut like any other text.
      {std::string(kMaxServerTextLength, '\xFF'),
       [&] {
         std::string s;
         for (size_t i = 0; i < kept / 3; ++i) s += "\xEF\xBF\xBD";
         return s + cut;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(c.bounded, BoundServerText(c.text));
    EXPECT_LE(BoundServerText(c.text).size(), kMaxServerTextLength);
  }
  testing::TestStatsRecord record;
  record.root.SetServerText("url", std::string(5000, 'x'));
  std::string stored;
  ASSERT_TRUE(record.tree.GetString("url", &stored));
  EXPECT_EQ(kMaxServerTextLength, stored.size());
}

// What a server wrote into an address before its host, and after a "#", stays out of the
// record; "@" and "#" elsewhere are not an authority's.
TEST_F(StatsNodeTest, RecordedUrlsCarryNoUserinfoNorFragment) {
  const struct {
    const char* url;
    const char* recorded;
  } cases[] = {
      {"http://user:pw@host.example:8080/a?b=c#frag", "http://host.example:8080/a?b=c"},
      {"https://a@b@host.example/x@y", "https://host.example/x@y"},
      {"http://host.example?q=me@there", "http://host.example?q=me@there"},
      {"http://u:p@host.example", "http://host.example"},
      // WinINet reads a "\" into the authority for "HTTP://" and "https://".
      {"http://host.example\\u@v/x", "http://v/x"},
      {"HTTP://e2e\\x@127.0.0.1:84009/x", "HTTP://127.0.0.1:84009/x"},
      {"/relative/x@y#top", "/relative/x@y"},
      {"/path?u=http://u:p@host#f", "/path?u=http://u:p@host"},
      {"#only", ""},
  };
  for (const auto& c : cases) {
    root_.SetServerUrl("url", c.url);
    std::string recorded;
    ASSERT_TRUE(tree_.GetString("url", &recorded));
    EXPECT_EQ(c.recorded, recorded) << c.url;
  }
  EXPECT_EQ(L"http://[::1]:80/x", UrlWithoutUserinfoAndFragment(std::wstring(L"http://me@[::1]:80/x#y")));
}

TEST_F(StatsNodeTest, NodeWhosePlaceWasReplacedWritesNowhere) {
  std::unique_ptr<StatsNode> entry = root_.AppendDictionaryToList("pages");
  root_.SetString("pages", "replaced");
  entry->SetInteger("a", 1);
  entry->AppendDictionaryToList("deeper")->SetInteger("b", 2);
  EXPECT_EQ("{\"pages\":\"replaced\"}", Json());
}

TEST_F(StatsNodeTest, TimeStampsAreUtcWithMilliseconds) {
  SYSTEMTIME system = {2024, 3, 6, 9, 8, 5, 7, 42};
  FILETIME file_time;
  ASSERT_TRUE(SystemTimeToFileTime(&system, &file_time));
  EXPECT_EQ("2024-03-09 08:05:07.042", FormatStatsTime(base::Time::FromFileTime(file_time)));

  root_.SetTimeAndElapsed("start");
  root_.SetCurrentTime("plain");
  std::string time;
  int elapsed = -1;
  ASSERT_TRUE(tree_.GetString("start.time", &time));
  EXPECT_EQ(23u, time.size());
  EXPECT_EQ(' ', time[10]);
  ASSERT_TRUE(tree_.GetInteger("start.elapsed", &elapsed));
  // Made right after the record: close to 0, with room for a loaded machine.
  EXPECT_GE(elapsed, 0);
  EXPECT_LT(elapsed, 60000);
  ASSERT_TRUE(tree_.GetString("plain", &time));
  EXPECT_EQ(23u, time.size());
}

class Writer : public base::PlainThread {
 public:
  explicit Writer(std::unique_ptr<StatsNode> node)
      : base::PlainThread("StatsWriter"), node_(std::move(node)) {}

 protected:
  void Run() override {
    for (int i = 0; i < 500; ++i) {
      node_->Increment("shared.count");
      std::unique_ptr<StatsNode> chunk = node_->AppendDictionaryToList("chunks");
      chunk->SetInteger("chunk_number", i);
      chunk->SetTimeAndElapsed("chunk_start_time");
    }
  }

 private:
  std::unique_ptr<StatsNode> node_;
};

TEST_F(StatsNodeTest, ThreeThreadsWritingAtOnceKeepAValidTree) {
  // Two threads share the root's dictionary, one writes into an appended entry.
  std::vector<std::unique_ptr<Writer>> writers;
  writers.emplace_back(new Writer(root_.Clone()));
  writers.emplace_back(new Writer(root_.Clone()));
  writers.emplace_back(new Writer(root_.AppendDictionaryToList("fetches")));
  for (auto& writer : writers) ASSERT_TRUE(writer->Start());
  for (auto& writer : writers) writer->Join();

  int count = 0;
  ASSERT_TRUE(tree_.GetInteger("shared.count", &count));
  EXPECT_EQ(1000, count);
  const base::List* chunks = nullptr;
  ASSERT_TRUE(tree_.GetList("chunks", &chunks));
  EXPECT_EQ(1000u, chunks->size());
  for (size_t i = 0; i < chunks->size(); ++i) {
    const base::Dictionary* chunk = nullptr;
    ASSERT_TRUE(chunks->GetDictionary(i, &chunk));
    int number = -1;
    std::string time;
    EXPECT_TRUE(chunk->GetInteger("chunk_number", &number));
    EXPECT_TRUE(chunk->GetString("chunk_start_time.time", &time));
  }
  const base::List* fetches = nullptr;
  const base::Dictionary* fetch = nullptr;
  ASSERT_TRUE(tree_.GetList("fetches", &fetches));
  ASSERT_TRUE(fetches->GetDictionary(0, &fetch));
  ASSERT_TRUE(fetch->GetInteger("shared.count", &count));
  EXPECT_EQ(500, count);
  ASSERT_TRUE(fetch->GetList("chunks", &chunks));
  EXPECT_EQ(500u, chunks->size());
}

}  // namespace
}  // namespace installer
