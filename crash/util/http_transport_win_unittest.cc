#include "crash/util/http_transport_win.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "crash/util/file_body_stream.h"
#include "crash/util/http_multipart_builder.h"
#include "gtest/gtest.h"
#include "testing/crash_collector/crash_collector_test_util.h"
#include "testing/update_server/update_server_test_util.h"

namespace crash_reporter {
namespace {

using installer::testing::CollectedRequest;
using installer::testing::CrashCollector;

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131) ^ (i >> 8));
  return data;
}

TEST(HttpTransportWinTest, UrlTargetDropsTheFragment) {
  const struct {
    const wchar_t* url;
    bool secure;
    const wchar_t* host;
    uint16_t port;
    const wchar_t* target;
  } cases[] = {
      {L"https://crash.example:8443/submit?prod=Velum&v=1#section", true, L"crash.example",
       8443, L"/submit?prod=Velum&v=1"},
      {L"http://127.0.0.1/x#y?z", false, L"127.0.0.1", 80, L"/x"},
      {L"https://crash.example/a/b", true, L"crash.example", 443, L"/a/b"},
  };
  for (const auto& c : cases) {
    WinHttpTarget target;
    ASSERT_TRUE(CrackWinHttpUrl(c.url, &target)) << c.url;
    EXPECT_EQ(c.secure, target.secure) << c.url;
    EXPECT_EQ(c.host, target.host);
    EXPECT_EQ(c.port, target.port);
    EXPECT_EQ(c.target, target.target);
  }
  WinHttpTarget target;
  EXPECT_FALSE(CrackWinHttpUrl(L"not a url", &target));
}

TEST(HttpTransportWinTest, ChunkFraming) {
  const std::string data = Pattern(0x8000);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
  EXPECT_EQ("8000\r\n" + data + "\r\n", FrameChunk(bytes, data.size()));
  EXPECT_EQ("a\r\n" + data.substr(0, 10) + "\r\n", FrameChunk(bytes, 10));
  EXPECT_EQ("0\r\n\r\n", FrameChunk(nullptr, 0));
}

TEST(HttpTransportWinTest, UserAgentAndErrorText) {
  const std::string agent = BuildWinHttpUserAgent();
  EXPECT_EQ(0u, agent.find("CrashUploader/0.8.0 WinHTTP")) << agent;
  // The OS part depends on kernel32's version resource (absent under Wine).
  SetLastError(ERROR_WINHTTP_TIMEOUT);
  const std::string error = FormatWinHttpError("WinHttpSendRequest");
  // Wine's winhttp.dll has no message table: then the text says so.
  EXPECT_EQ(0u, error.find("WinHttpSendRequest: ")) << error;
  EXPECT_TRUE(error.find("(0x2ee2)") != std::string::npos ||
              error.find(" while retrieving error 0x2ee2") != std::string::npos)
      << error;
  // A failure that left no last error is never logged as a success.
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ("WinHttpSendRequest: error unknown", FormatWinHttpError("WinHttpSendRequest"));
}

class HttpTransportCollectorTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    ASSERT_TRUE(collector_.Start()) << collector_.error();
  }
  void TearDown() override { EXPECT_TRUE(collector_.Stop()); }

  std::unique_ptr<HttpTransport> Transport(const std::string& path, const std::string& body,
                                           const CrashCollector* collector = nullptr) {
    std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
    transport->SetUrl((collector ? collector : &collector_)->Url(path));
    transport->SetHeader("Content-Type", "application/octet-stream");
    transport->SetBodyStream(std::unique_ptr<HttpBodyStream>(new StringBodyStream(body)));
    return transport;
  }

  CrashCollector collector_;
};

// A lenient collector reads a chunked body even when a Content-Length comes with it; a
// strict one reads by Content-Length as most servers do. Both must get every byte.
TEST_F(HttpTransportCollectorTest, SizedAndChunkedBodiesArriveByteExactAtEveryCollector) {
  CrashCollector strict;
  ASSERT_TRUE(strict.Start(/*strict=*/true)) << strict.error();
  const std::string body = Pattern(70000);
  for (CrashCollector* collector : {&collector_, &strict}) {
    std::unique_ptr<HttpTransport> sized = Transport("/sized?x=1#fragment", body, collector);
    sized->SetHeader("Content-Length", std::to_string(body.size()));
    std::string response;
    ASSERT_TRUE(sized->Execute(&response));
    EXPECT_EQ("ok", response);
    CollectedRequest request;
    ASSERT_TRUE(collector->WaitForRequest(1, &request));
    EXPECT_EQ("", request.error);
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("/sized?x=1", request.path);
    EXPECT_EQ(body, request.body);
    EXPECT_TRUE(request.chunks.empty());
    EXPECT_EQ(std::to_string(body.size()), request.Header("Content-Length"));
    EXPECT_EQ("", request.Header("Transfer-Encoding"));
    EXPECT_EQ("application/octet-stream", request.Header("Content-Type"));
    EXPECT_EQ(0u, request.Header("User-Agent").find("CrashUploader/0.8.0 WinHTTP"));

    // Wine's WinHTTP adds "Content-Length: 0" to every POST, also to one sent chunked
    // without a total length; Windows's does not, so only there a strict server reads it.
    if (base::RunningUnderWine() && collector == &strict) continue;
    std::unique_ptr<HttpTransport> chunked = Transport("/chunked", body, collector);
    ASSERT_TRUE(chunked->Execute(&response));
    ASSERT_TRUE(collector->WaitForRequest(2, &request));
    if (!base::RunningUnderWine()) {
      EXPECT_EQ("", request.Header("Content-Length"));
    }
    EXPECT_EQ("", request.error);
    EXPECT_EQ("chunked", request.Header("Transfer-Encoding"));
    EXPECT_EQ((std::vector<int>{32768, 32768, 70000 - 65536, 0}), request.chunks);
    EXPECT_EQ(body, request.body);
  }
  EXPECT_TRUE(strict.Stop());
}

TEST_F(HttpTransportCollectorTest, GzippedMultipartFormArrivesWhole) {
  const base::FilePath dump = Write(L"crash.dmp", Pattern(50000));
  HttpMultipartBuilder builder;
  builder.SetGzipEnabled(true);
  builder.SetFormData("prod", "Velum");
  builder.SetFileAttachment("upload_file_minidump", "crash.dmp", dump.value(), "");
  std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
  transport->SetUrl(collector_.Url("/submit"));
  HttpMultipartBuilder::Headers headers;
  builder.SetMultipartContentHeaders(&headers);
  for (const auto& header : headers) transport->SetHeader(header.first, header.second);
  transport->SetBodyStream(builder.GetBodyStream());
  ASSERT_TRUE(transport->Execute(nullptr));
  CollectedRequest request;
  ASSERT_TRUE(collector_.WaitForRequest(1, &request));
  EXPECT_EQ("", request.error);
  EXPECT_EQ("gzip", request.Header("Content-Encoding"));
  ASSERT_EQ(2u, request.parts.size());
  EXPECT_EQ("prod", request.parts[0].name);
  EXPECT_EQ("Velum", request.parts[0].data);
  EXPECT_EQ("upload_file_minidump", request.parts[1].name);
  EXPECT_EQ("crash.dmp", request.parts[1].file_name);
  EXPECT_EQ("application/octet-stream", request.parts[1].content_type);
  EXPECT_EQ(Pattern(50000), request.parts[1].data);
}

TEST_F(HttpTransportCollectorTest, OnlyA200Succeeds) {
  for (const char* path : {"/status/302", "/status/204", "/status/500"}) {
    std::unique_ptr<HttpTransport> transport = Transport(path, "body");
    transport->SetHeader("Content-Length", "4");
    std::string response = "untouched";
    EXPECT_FALSE(transport->Execute(&response)) << path;
    EXPECT_EQ("untouched", response);
  }
}

TEST_F(HttpTransportCollectorTest, HugeLengthIsRefusedBeforeAnythingIsSent) {
  // WinHTTP takes a 32-bit length: a larger one would be announced wrong.
  std::unique_ptr<HttpTransport> huge = Transport("/huge", "body");
  huge->SetHeader("Content-Length", "4294967296");
  EXPECT_FALSE(huge->Execute(nullptr));

  // The next request is the first the collector sees. A length that is not a number
  // counts as none: the body goes chunked.
  std::unique_ptr<HttpTransport> good = Transport("/good", "abc");
  good->SetHeader("Content-Length", "not a number");
  ASSERT_TRUE(good->Execute(nullptr));
  CollectedRequest request;
  ASSERT_TRUE(collector_.WaitForRequest(1, &request));
  EXPECT_EQ("/good", request.path);
  EXPECT_EQ("", request.error);
  EXPECT_EQ("abc", request.body);
  EXPECT_EQ((std::vector<int>{3, 0}), request.chunks);
}

// A body that differs from its announced length would reach a server cut or run into the
// next request: the request fails, and nothing arrives as a whole request.
TEST_F(HttpTransportCollectorTest, ABodyOtherThanItsLengthFailsTheRequest) {
  CrashCollector strict;
  ASSERT_TRUE(strict.Start(/*strict=*/true)) << strict.error();
  for (const char* length : {"3", "5"}) {
    std::unique_ptr<HttpTransport> transport = Transport("/wrong", "abcd", &strict);
    transport->SetHeader("Content-Length", length);
    transport->SetTimeout(5);
    EXPECT_FALSE(transport->Execute(nullptr)) << length;
  }
  std::unique_ptr<HttpTransport> good = Transport("/good", "abcd", &strict);
  good->SetHeader("Content-Length", "4");
  ASSERT_TRUE(good->Execute(nullptr));
  CollectedRequest request;
  for (int number = 1; strict.WaitForRequest(number, &request); ++number) {
    if (request.path == "/good") break;
    EXPECT_NE("", request.error) << request.path << " recorded whole";
  }
  EXPECT_EQ("/good", request.path);
  EXPECT_EQ("abcd", request.body);
  EXPECT_TRUE(strict.Stop());
}

TEST_F(HttpTransportCollectorTest, BodyOrConnectionFailureFailsTheRequest) {
  std::unique_ptr<HttpTransport> broken = Transport("/broken", "");
  broken->SetBodyStream(
      std::unique_ptr<HttpBodyStream>(new FileBodyStream(Path(L"missing.dmp").value())));
  EXPECT_FALSE(broken->Execute(nullptr));

  // Port 1 on loopback has no listener.
  std::unique_ptr<HttpTransport> closed = HttpTransport::Create();
  closed->SetUrl("http://127.0.0.1:1/x");
  closed->SetTimeout(5);
  EXPECT_FALSE(closed->Execute(nullptr));
}

// A collector that has the report and holds its answer holds no upload: the wait for the
// answer's headers is bounded as a whole by the time-out, whether nothing comes, the
// headers trickle in faster than any single wait's bound, or the answer comes too late.
TEST_F(HttpTransportCollectorTest, AnAnswerHeldByTheCollectorEndsTheUploadWithinItsTimeOut) {
  int number = 0;
  for (const char* path : {"/silent", "/header_trickle/1", "/late/20"}) {
    SCOPED_TRACE(path);
    std::unique_ptr<HttpTransport> transport = Transport(path, "dump");
    transport->SetHeader("Content-Length", "4");
    transport->SetTimeout(2);
    std::future<bool> result =
        std::async(std::launch::async, [&] { return transport->Execute(nullptr); });
    // A guard, far beyond the bound: a held upload must fail the test, not hang it.
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the upload waited on the answer";
      EXPECT_TRUE(collector_.Stop());
    }
    EXPECT_FALSE(result.get());
    CollectedRequest request;
    ASSERT_TRUE(collector_.WaitForRequest(++number, &request));
    EXPECT_EQ("dump", request.body);
  }
}

// A server that trickles its answer's body, or sends one without end, holds no upload:
// the body is read within the time-out as a whole, each wait bounded by what is left of
// it, and a size bound, after which the status alone decides where no body is asked for
// (the upload's case); a caller that asks for the body gets it only whole. A failed answer
// ends the upload at once.
TEST(HttpTransportWinTest, AnAnswersBodyIsReadOnlyWithinBounds) {
  installer::testing::UpdateServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  ASSERT_TRUE(server.ServeText("/trickle", 200, std::string(100000, 't')));
  ASSERT_TRUE(server.AddFaults("/trickle", R"([{"trickle": 0.5, "bytes": 1}])"));
  // Headers late, then a byte just before each wait of the time-out of 6 s would end.
  ASSERT_TRUE(server.ServeText("/late_trickle", 200, std::string(100, 't')));
  ASSERT_TRUE(server.AddFaults("/late_trickle", R"([{"delay": 2.4, "trickle": 5.4}])"));
  ASSERT_TRUE(server.ServeText("/failed_trickle", 500, std::string(100, 't')));
  ASSERT_TRUE(server.AddFaults("/failed_trickle", R"([{"trickle": 5}])"));
  ASSERT_TRUE(server.ServeText("/reset", 200, "ok"));
  ASSERT_TRUE(server.AddFaults("/reset", R"([{"reset": true}])"));
  ASSERT_TRUE(server.ServeText("/large", 200, std::string(100 * 1024, 'l')));
  // The bound is 64 KiB: a body of exactly that is taken, one byte more is not.
  const std::string longest(64 * 1024, 'b');
  ASSERT_TRUE(server.ServeText("/longest", 200, longest));
  ASSERT_TRUE(server.ServeText("/over", 200, longest + "b"));
  ASSERT_TRUE(server.ServeText("/small", 200, "ok"));
  const struct {
    const char* path;
    bool body_wanted;
    bool succeeds;
    std::string response;
    int timeout_s;
    // Most the upload may take: the time-out for the headers and as much for the body,
    // or, for a failed answer, far less than one time-out; 0: not checked.
    int ends_within_s;
  } cases[] = {
      {"/trickle", false, true, "", 2, 0},
      {"/trickle", true, false, "", 2, 0},
      {"/late_trickle", false, true, "", 6, 12},
      {"/late_trickle", true, false, "", 6, 12},
      {"/failed_trickle", true, false, "", 30, 10},
      {"/reset", true, false, "", 30, 10},
      {"/large", false, true, "", 2, 0},
      {"/large", true, false, "", 2, 0},
      {"/longest", true, true, longest, 2, 0},
      {"/over", true, false, "", 2, 0},
      {"/small", true, true, "ok", 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.body_wanted ? " with its body" : ""));
    std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
    transport->SetUrl(base::WideToUTF8(server.Url(c.path)));
    transport->SetHeader("Content-Length", "4");
    transport->SetBodyStream(std::unique_ptr<HttpBodyStream>(new StringBodyStream("dump")));
    transport->SetTimeout(c.timeout_s);
    std::string response = "untouched";
    const base::TimeTicks start = base::TimeTicks::Now();
    std::future<bool> result = std::async(std::launch::async, [&] {
      return transport->Execute(c.body_wanted ? &response : nullptr);
    });
    // A guard, far beyond the bound: a held upload must fail the test, not hang it.
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the upload waited on the answer's body";
      EXPECT_TRUE(server.Stop());
    }
    EXPECT_EQ(c.succeeds, result.get());
    const base::TimeDelta took = base::TimeTicks::Now() - start;
    if (c.ends_within_s) {
      EXPECT_LT(took.InMilliseconds(), c.ends_within_s * 1000);
    }
    EXPECT_TRUE((c.body_wanted && c.succeeds ? c.response : "untouched") == response);
  }
}

}  // namespace
}  // namespace crash_reporter
