#include "crash/util/http_body_stream.h"

#include <zlib.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/scratch_dir_test_util.h"
#include "crash/util/file_body_stream.h"
#include "crash/util/gzip_body_stream.h"
#include "crash/util/http_multipart_builder.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// Reads |stream| to its end through |buffer_size|-byte reads; false at the first -1,
// with what came before it in |out|.
bool ReadAll(HttpBodyStream* stream, size_t buffer_size, std::string* out) {
  std::vector<uint8_t> buffer(buffer_size);
  out->clear();
  for (;;) {
    const int64_t result = stream->GetBytes(buffer.data(), buffer.size());
    if (result < 0) return false;
    if (result == 0) return true;
    EXPECT_LE(static_cast<size_t>(result), buffer_size);
    out->append(reinterpret_cast<char*>(buffer.data()), static_cast<size_t>(result));
  }
}

std::string Inflate(const std::string& gzip_data, int* result) {
  z_stream zlib = {};
  EXPECT_EQ(Z_OK, inflateInit2(&zlib, 15 + 16));
  std::string out;
  zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip_data.data()));
  zlib.avail_in = static_cast<uInt>(gzip_data.size());
  char buffer[8192];
  do {
    zlib.next_out = reinterpret_cast<Bytef*>(buffer);
    zlib.avail_out = sizeof(buffer);
    *result = inflate(&zlib, Z_NO_FLUSH);
    out.append(buffer, sizeof(buffer) - zlib.avail_out);
  } while (*result == Z_OK);
  inflateEnd(&zlib);
  return out;
}

// Fails after handing out its text.
class FailingStream : public HttpBodyStream {
 public:
  int64_t GetBytes(uint8_t* buffer, size_t max_length) override {
    if (given_ || max_length == 0) return -1;
    given_ = true;
    buffer[0] = 'x';
    return 1;
  }

 private:
  bool given_ = false;
};

std::unique_ptr<HttpBodyStream> Composite(std::vector<std::string> texts) {
  std::vector<std::unique_ptr<HttpBodyStream>> parts;
  for (std::string& text : texts) parts.emplace_back(new StringBodyStream(std::move(text)));
  return std::unique_ptr<HttpBodyStream>(new CompositeBodyStream(std::move(parts)));
}

class HttpBodyStreamTest : public base::ScratchDirTest {};

TEST_F(HttpBodyStreamTest, CompositeGivesEveryByteInOrderWhateverTheBufferSize) {
  const std::string expected = std::string("ab") + "cde" + std::string(5000, 'f') + "g";
  for (size_t buffer_size : {1, 2, 3, 7, 4096, 100000}) {
    std::unique_ptr<HttpBodyStream> stream =
        Composite({"ab", "", "cde", std::string(5000, 'f'), "g"});
    std::string out;
    ASSERT_TRUE(ReadAll(stream.get(), buffer_size, &out));
    EXPECT_EQ(expected, out) << buffer_size;
    uint8_t byte = 0;
    EXPECT_EQ(0, stream->GetBytes(&byte, 1));
  }
  std::unique_ptr<HttpBodyStream> stream = Composite({"ab"});
  uint8_t byte = 0;
  EXPECT_EQ(0, stream->GetBytes(&byte, 0));
}

TEST_F(HttpBodyStreamTest, FileStreamReadsTheFileAndFailsForAMissingOne) {
  const std::string contents = std::string("MDMP\0\x01\xff", 7) + std::string(70000, 'd');
  FileBodyStream present(Write(L"dump.dmp", contents).value());
  std::string out;
  ASSERT_TRUE(ReadAll(&present, 4096, &out));
  EXPECT_EQ(contents, out);

  FileBodyStream missing(Path(L"missing.dmp").value());
  uint8_t buffer[16];
  EXPECT_EQ(-1, missing.GetBytes(buffer, sizeof(buffer)));
  EXPECT_EQ(-1, missing.GetBytes(buffer, sizeof(buffer)));
}

TEST_F(HttpBodyStreamTest, MimeFieldEncoding) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain name", "plain name"},
      {"a\"b%c", "a%22b%25c"},
      {"line\r\nnext", "line%0d%0anext"},
      {"%%", "%25%25"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, EncodeMimeField(c.in)) << c.in;
}

TEST_F(HttpBodyStreamTest, MultipartBodyIsByteExact) {
  const base::FilePath dump = Write(L"dump.dmp", std::string("MDMP\0\x02", 6));
  HttpMultipartBuilder builder;
  const std::string& boundary = builder.boundary();
  ASSERT_EQ(56u, boundary.size());
  EXPECT_EQ("---MultipartBoundary-", boundary.substr(0, 21));
  EXPECT_EQ("---", boundary.substr(53));
  for (char c : boundary.substr(21, 32)) EXPECT_TRUE(isalnum(static_cast<unsigned char>(c)));
  EXPECT_NE(boundary, HttpMultipartBuilder().boundary());

  builder.SetFormData("ver", "1.0");
  builder.SetFormData("na\"me%", "value");
  builder.SetFormData("upload_file_minidump", "replaced by the attachment");
  builder.SetFileAttachment("upload_file_minidump", "dump\"1\r\n.dmp", dump.value(), "");
  builder.SetFileAttachment("log", "a.log", dump.value(), "text/plain");
  builder.SetFormData("log", "the field replaces the attachment");
  const std::string part = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"";
  const std::string expected =
      part + "log\"\r\n\r\nthe field replaces the attachment\r\n" +
      part + "na%22me%25\"\r\n\r\nvalue\r\n" +
      part + "ver\"\r\n\r\n1.0\r\n" +
      part + "upload_file_minidump\"; filename=\"dump%221%0d%0a.dmp\"\r\n" +
      "Content-Type: application/octet-stream\r\n\r\n" + std::string("MDMP\0\x02", 6) +
      "\r\n--" + boundary + "--\r\n";
  for (size_t buffer_size : {1, 5, 32768}) {
    std::unique_ptr<HttpBodyStream> body = builder.GetBodyStream();
    std::string out;
    ASSERT_TRUE(ReadAll(body.get(), buffer_size, &out));
    EXPECT_EQ(expected, out) << buffer_size;
  }

  HttpMultipartBuilder::Headers headers;
  builder.SetMultipartContentHeaders(&headers);
  EXPECT_EQ((HttpMultipartBuilder::Headers{
                {"Content-Type", "multipart/form-data; boundary=" + boundary}}),
            headers);
  builder.SetGzipEnabled(true);
  builder.SetMultipartContentHeaders(&headers);
  EXPECT_EQ("gzip", headers["Content-Encoding"]);
  std::unique_ptr<HttpBodyStream> gzipped = builder.GetBodyStream();
  std::string compressed;
  ASSERT_TRUE(ReadAll(gzipped.get(), 1, &compressed));
  int result = 0;
  EXPECT_EQ(expected, Inflate(compressed, &result));
  EXPECT_EQ(Z_STREAM_END, result);
}

TEST_F(HttpBodyStreamTest, MissingAttachmentFailsWhereTheFilePartBegins) {
  HttpMultipartBuilder builder;
  builder.SetFormData("a", "1");
  builder.SetFileAttachment("dump", "d.dmp", Path(L"missing.dmp").value(), "");
  std::unique_ptr<HttpBodyStream> body = builder.GetBodyStream();
  std::string before;
  EXPECT_FALSE(ReadAll(body.get(), 1, &before));
  const std::string part =
      "--" + builder.boundary() + "\r\nContent-Disposition: form-data; name=\"";
  EXPECT_EQ(part + "a\"\r\n\r\n1\r\n" + part +
                "dump\"; filename=\"d.dmp\"\r\nContent-Type: application/octet-stream\r\n\r\n",
            before);
  uint8_t byte = 0;
  EXPECT_EQ(-1, body->GetBytes(&byte, 1));
}

TEST_F(HttpBodyStreamTest, GzipInflatesBackToTheSource) {
  std::string large;
  uint32_t seed = 7;
  for (int i = 0; i < 300000; ++i) {
    seed = seed * 1103515245 + 12345;
    // Half noise, half runs: both stored and compressed deflate blocks.
    large += static_cast<char>(i % 2 ? (seed >> 16) : 'r');
  }
  const struct {
    const char* label;
    std::vector<std::string> texts;
  } cases[] = {
      {"empty", {}},
      {"empty parts", {"", ""}},
      {"small", {"hello ", "world"}},
      {"large", {large, "tail"}},
  };
  for (const auto& c : cases) {
    for (size_t buffer_size : {1, 4096, 1 << 20}) {
      GzipBodyStream gzip(Composite(c.texts));
      std::string compressed;
      ASSERT_TRUE(ReadAll(&gzip, buffer_size, &compressed)) << c.label;
      ASSERT_GE(compressed.size(), 18u) << c.label;  // a gzip member's header and trailer
      EXPECT_EQ('\x1f', compressed[0]);
      EXPECT_EQ('\x8b', compressed[1]);
      int result = 0;
      std::string expected;
      for (const std::string& text : c.texts) expected += text;
      EXPECT_EQ(expected, Inflate(compressed, &result)) << c.label << " " << buffer_size;
      EXPECT_EQ(Z_STREAM_END, result) << c.label;
      uint8_t byte = 0;
      EXPECT_EQ(0, gzip.GetBytes(&byte, 1));
    }
  }
}

TEST_F(HttpBodyStreamTest, ErrorsOfTheSourceEndEveryStream) {
  std::vector<std::unique_ptr<HttpBodyStream>> parts;
  parts.emplace_back(new StringBodyStream("ab"));
  parts.emplace_back(new FailingStream());
  CompositeBodyStream composite(std::move(parts));
  uint8_t buffer[16];
  // An error of a part ends the read, whatever came before it.
  EXPECT_EQ(-1, composite.GetBytes(buffer, sizeof(buffer)));

  GzipBodyStream gzip(std::unique_ptr<HttpBodyStream>(new FailingStream()));
  EXPECT_EQ(-1, gzip.GetBytes(buffer, sizeof(buffer)));
  EXPECT_EQ(-1, gzip.GetBytes(buffer, sizeof(buffer)));
}

}  // namespace
}  // namespace crash_reporter
